// The port handlers of frmMain: start-up of the port, the port list and the save button.
// Every step that talks to the serial control tolerates failure: a refused property write
// is simply not applied and the handler goes on.

#include "portsettings.h"

#include "app/frmMain.h"
#include "app/runtime.h"
#include "mscomm.h"
#include "portdevice.h"

#include <QDir>
#include <QLineEdit>

namespace {

// What the baud-rate list shows before anything is chosen; used when comm.set gives no rate.
constexpr std::int16_t kDefaultRate = 19200;
constexpr std::int16_t kFallbackRate = 9600; // a saved rate of 0

QString StartupFailureText(std::int16_t port) {
    return QStringLiteral("请检查串口端口,串口端口") + rt::DecimalText(port) +
           QStringLiteral("无法打开!");
}
// The title technicians know this message by; "VORT" is the system's name in it.
const QString kStartupFailureTitle = QStringLiteral("VORT系统出错提示");

} // namespace

QString PortToolTip(int portNumber, const SettingsPlace &place, const MSComm *comm) {
    const PortTarget target = PortTargetOf(portNumber, place);
    const bool current = comm && comm->commPort() == portNumber;
    QString state =
        target.present ? QStringLiteral("设备当前存在") : QStringLiteral("设备当前不存在");
    if (target.tcp) {
        state = current && comm->portOpen()         ? QStringLiteral("已连接")
                : current && comm->portConnecting() ? QStringLiteral("正在连接…")
                                                    : QStringLiteral("未连接");
    }
    const QString text = QStringLiteral("COM%1 → %2\n%3").arg(portNumber).arg(target.device, state);
    return current && comm->echoMode() ? text + QStringLiteral("\n适配器回显发送数据，已自动忽略")
                                       : text;
}

QString RateToolTip(int portNumber, const SettingsPlace &place) {
    if (portNumber < kFirstPort || portNumber > kLastPort)
        return {};
    const PortTarget target = PortTargetOf(portNumber, place);
    if (!target.tcp)
        return {};
    return QStringLiteral("COM%1 经网络连接 %2：波特率对它不起作用，由串口服务器设定")
        .arg(portNumber)
        .arg(target.device);
}

QString ConnectFailureText(int portNumber, const MSComm &comm) {
    QString why;
    switch (comm.connectFailure()) {
    case MSComm::ConnectFailure::Refused:
        why = QStringLiteral("连接被拒绝");
        break;
    case MSComm::ConnectFailure::TimedOut:
        why = QStringLiteral("连接超时");
        break;
    case MSComm::ConnectFailure::HostNotFound:
        why = QStringLiteral("找不到主机");
        break;
    case MSComm::ConnectFailure::None:
    case MSComm::ConnectFailure::Other:
        why = QStringLiteral("网络错误 (%1)").arg(comm.connectErrorText());
        break;
    }
    return QStringLiteral("无法连接 COM%1 (%2)：%3").arg(portNumber).arg(comm.connectTarget(), why);
}

std::optional<std::int16_t> BaudRateFromText(QStringView text) {
    const auto rate = rt::RoundedTo<std::int16_t>(text);
    if (!rate || *rate <= 0)
        return std::nullopt;
    return rate;
}

void frmMain::PortStartup(const CommSetContent &saved) {
    if (saved.port)
        CommNum = *saved.port;
    if (saved.rate)
        CommRate = *saved.rate;

    MSComm1->setCommPort(CommNum);
    MSComm1->setInputMode(1);
    MSComm1->setInputLen(0);
    MSComm1->setInBufferCount(0);
    MSComm1->setOutBufferCount(0);
    MSComm1->setSThreshold(0);
    MSComm1->setRThreshold(1);

    const auto fail = [this] {
        MsgBox(StartupFailureText(CommNum), MsgIcon::None, kStartupFailureTitle);
        CommReady = false;
    };
    if (saved.status != CommSetContent::Status::Valid) {
        // The lists keep their texts, so a later port choice opens at the rate they show.
        CommRate = kDefaultRate;
        MSComm1->setSettings(CommRate);
        if (saved.status == CommSetContent::Status::Invalid)
            fail();
        return;
    }

    if (CommRate == 0)
        CommRate = kFallbackRate;
    MSComm1->setSettings(CommRate);

    for (int i = 0; i < Combo2->count(); ++i) {
        if (rt::ToNumber(Combo2->itemText(i)) == static_cast<double>(CommRate))
            Combo2->SelectEntry(i);
    }
    const QString savedPort = QStringLiteral("COM") + rt::DecimalText(CommNum);
    for (int i = 0; i < Combo1->count(); ++i) {
        if (Combo1->itemText(i) == savedPort) {
            Combo1->SelectEntry(i); // runs Combo1_Click, which opens the port
            break;
        }
    }
    // A network port still connecting says how that ends by itself (ConnectFailed).
    if (!MSComm1->portOpen() && !MSComm1->portConnecting())
        fail();
}

// The first steps of the port list and of the save button: close the port (or give up its
// connect) and take the
// chosen entry as the port number. False, after telling the user, when none is chosen.
bool frmMain::TakeChosenPort() {
    if (MSComm1->portOpen() || MSComm1->portConnecting())
        MSComm1->setPortOpen(false);
    if (Combo1->ListIndex() < 0) {
        MsgBox(QStringLiteral("请选择端口"));
        return false;
    }
    MSComm1->setCommPort(static_cast<std::int16_t>(Combo1->ListIndex() + 1));
    CommNum = MSComm1->commPort();
    return true;
}

// Opening may fail; the port then stays closed and the sending commands say so. A network
// port connects in the background and reads closed until it has.
void frmMain::OpenChosenPort() {
    MSComm1->setPortOpen(true);
    OpenOnComm();
    CommReady = true;
}

void frmMain::Combo1_Click() {
    if (!TakeChosenPort())
        return;
    MSComm1->setSettings(CommRate);
    if (MSComm1->portOpen())
        return;
    OpenChosenPort();
}

void frmMain::cmdCom_Click() {
    if (!TakeChosenPort())
        return;

    // With no entry selected, the rate is the one the list shows, never one the user did
    // not see.
    const int selected = Combo2->ListIndex();
    const auto rate =
        BaudRateFromText(selected >= 0 ? Combo2->itemText(selected) : Combo2->currentText());
    if (!rate) {
        MsgBox(QStringLiteral("请选择波特率"));
        return;
    }
    CommRate = *rate;
    MSComm1->setSettings(CommRate);

    if (MSComm1->portOpen()) {
        MsgBox(QStringLiteral("所选的串行端口已被其他设备所使用!"), MsgIcon::Warning,
               QStringLiteral("系统信息"));
        return;
    }
    OpenChosenPort();

    if (!WriteCommSet(place_.own, CommNum, CommRate)) {
        MsgBox(QStringLiteral("串口设置未能保存：无法写入 %1 !")
                   .arg(QDir::toNativeSeparators(CommSetPath(place_.own))),
               MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    MsgBox(QStringLiteral("串口设置保存成功"), MsgIcon::None, QStringLiteral("系统提示"));
}

void frmMain::OpenOnComm() {
    MSComm1->setRThreshold(1);
    MSComm1->setInputMode(1);
}

void frmMain::UseSettings(std::int16_t port, std::int32_t rate, std::uint8_t address) {
    const QString rateText = rt::DecimalText(rate);
    for (int i = 0; i < Combo2->count(); ++i) { // the list holds every rate a module has
        if (Combo2->itemText(i) == rateText)
            Combo2->SelectEntry(i);
    }
    const QString addressText = rt::DecimalText(address);
    txtStationID->setText(addressText);
    txtSetID(0)->setText(addressText);
    Combo1->SelectEntry(port - 1);
    cmdCom_Click(); // saved exactly as "保存设置" saves, with its message
}
