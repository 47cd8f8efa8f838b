#include "assignwindow.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/record/csvfile.h"
#include "extras/toolwindow.h"
#include "knownmodules.h"
#include "serial/mscomm.h"

#include <QDateTime>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>

namespace {

// How often the assistant looks for the next module while none answers.
constexpr int kLookAgainMs = 300;
// How long a module may take to confirm its new address; the confirmation ends it early.
constexpr int kWriteWaitMs = 1000;

} // namespace

AssignWindow::AssignWindow(frmMain &window)
    : BusToolWindow(window, QStringLiteral("AssignWindow"), QStringLiteral("分配地址"),
                    QStringLiteral("开始(&S)"),
                    QStringLiteral("设好出厂地址和要分配的第一个地址，然后一次接上一个新模块。"),
                    QStringLiteral("分配状态")),
      line_([&window](std::uint8_t address) {
          window.QueryRegisters(address, 3, 0, 1);
          return window.MSComm1->portOpen();
      }),
      logFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) {
    QLabel *factoryLabel, *firstLabel;
    std::tie(factoryLabel, factoryBox) =
        toolwindow::LabelledBox(this, QStringLiteral("出厂地址(&F)"), false);
    std::tie(firstLabel, firstBox) =
        toolwindow::LabelledBox(this, QStringLiteral("起始地址(&N)"), false);
    factoryBox->setText(QStringLiteral("1"));
    firstBox->setText(QStringLiteral("2"));
    done = new QPlainTextEdit(this);
    done->setAccessibleName(QStringLiteral("已分配"));
    auto *doneLabel = new QLabel(QStringLiteral("已分配(&D):"), this);
    doneLabel->setBuddy(done);
    done->setReadOnly(true);
    done->setTabChangesFocus(true);
    done->setMinimumHeight(120);

    auto *layout = new QGridLayout(this);
    layout->addWidget(factoryLabel, 0, 0);
    layout->addWidget(factoryBox, 0, 1);
    layout->addWidget(firstLabel, 1, 0);
    layout->addWidget(firstBox, 1, 1);
    layout->addWidget(status, 2, 0, 1, 3);
    layout->addWidget(doneLabel, 3, 0, 1, 3);
    layout->addWidget(done, 4, 0, 1, 3);
    layout->addWidget(startButton, 5, 1);
    layout->addWidget(closeButton, 5, 2);
    layout->setColumnStretch(1, 1);
    setMinimumWidth(480);

    // The window's receiver hands on a reply's length at once; what is fewer bytes (an
    // exception, a second module's tail) stays in its buffer until the next request.
    line_.SetUnread([&window] { return window.MSComm1->inBufferCount() > 0; });
    again_.setSingleShot(true);
    written_.setSingleShot(true);
    toolwindow::TabOrder({factoryBox, firstBox, status, done, startButton, closeButton});
    connect(startButton, &QPushButton::clicked, this, &AssignWindow::StartOrStop);
    connect(&again_, &QTimer::timeout, this, [this] { Ask(Step::Waiting, factory_); });
    connect(&written_, &QTimer::timeout, this, &AssignWindow::Written);
    connect(&line_, &bus::BusLine::Answered, this, &AssignWindow::Take);
    connect(&window, &frmMain::BytesReceived, &line_, &bus::BusLine::Hear);
    // Queued: the confirmation comes from inside the window's receiver, which is to finish
    // with the echo before the next request goes out.
    connect(
        &window, &frmMain::WriteConfirmed, this,
        [this](const modbus::WriteChange &change) {
            if (step_ == Step::Writing && change.kind == modbus::WriteChange::Kind::Address &&
                change.device == factory_ && change.value == target_)
                Written();
        },
        Qt::QueuedConnection);
}

AssignWindow *AssignWindow::Open(frmMain &window) {
    auto *shown =
        toolwindow::ShowOne<AssignWindow>(window, [&window] { return new AssignWindow(window); });
    shown->factoryBox->setFocus();
    return shown;
}

QString AssignWindow::LogPath() const {
    return QDir(logFolder_).filePath(QStringLiteral("地址分配记录.csv"));
}

void AssignWindow::StartOrStop() {
    if (Running())
        End(QStringLiteral("已停止。"));
    else
        Start();
}

void AssignWindow::Start() {
    const auto factory = bus::AddressIn(factoryBox->text());
    const auto first = bus::AddressIn(firstBox->text());
    const QString range =
        QStringLiteral("应为 %1 到 %2 的整数").arg(bus::kFirstAddress).arg(bus::kLastAddress);
    QString refusal;
    if (!factory)
        refusal = QStringLiteral("出厂地址") + range;
    else if (!first)
        refusal = QStringLiteral("起始地址") + range;
    else if (*factory == *first)
        refusal = QStringLiteral("起始地址不能与出厂地址相同");
    if (refusal.isEmpty() && !window_.MSComm1->portOpen())
        refusal = QStringLiteral("请先打开串口");
    if (refusal.isEmpty()) {
        if (const auto held =
                window_.Lease->Take(this, QStringLiteral("分配地址"), LineLease::Need::Port, this))
            refusal = *held;
    }
    if (!refusal.isEmpty()) {
        window_.MsgBox(refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    factory_ = static_cast<std::uint8_t>(*factory);
    target_ = static_cast<std::uint8_t>(*first);
    line_.SetRate(WindowRate());
    factoryBox->setEnabled(false);
    firstBox->setEnabled(false);
    ShowRunning(true);
    Ask(Step::Waiting, factory_);
}

void AssignWindow::End(const QString &why) {
    if (!Running())
        return;
    // A write went out and was not verified: it is in the log all the same.
    if (step_ == Step::Writing || step_ == Step::VerifyNew || step_ == Step::VerifyOld)
        Log(false);
    step_ = Step::Idle;
    line_.Cancel();
    again_.stop();
    written_.stop();
    window_.Lease->GiveBack(this);
    factoryBox->setEnabled(true);
    firstBox->setEnabled(true);
    firstBox->setText(QString::number(target_));
    ShowRunning(false);
    Say(why);
}

void AssignWindow::Say(const QString &text) {
    if (status->text() == text)
        return;
    status->setText(text);
    emit StatusChanged(text);
}

void AssignWindow::Ask(Step step, std::uint8_t address) {
    step_ = step;
    if (step == Step::Waiting)
        Say(QStringLiteral("等待地址 %1 上的新模块…").arg(factory_));
    line_.Ask(address, bus::BusLine::Patience::WholeWait);
}

void AssignWindow::Take(const bus::Answer &answer) {
    const bus::Heard heard = answer.judged.heard;
    const bool answers = heard == bus::Heard::Reply || heard == bus::Heard::Exception;
    switch (step_) {
    case Step::Waiting:
        if (heard == bus::Heard::Garbled)
            Say(QStringLiteral("地址 %1 上可能有两个模块，没有写入。请只接一个新模块。")
                    .arg(factory_));
        if (answers)
            Ask(Step::CheckTarget, target_);
        else
            again_.start(kLookAgainMs);
        break;
    case Step::CheckTarget:
        if (heard != bus::Heard::Silent) {
            End(QStringLiteral("地址 %1 已被占用，没有写入。请换一个起始地址。").arg(target_));
            return;
        }
        step_ = Step::Writing;
        written_.start(kWriteWaitMs);
        window_.ChangeAddress(factory_, target_);
        break;
    case Step::VerifyNew:
        if (!answers) {
            End(QStringLiteral("写入后地址 %1 没有应答，未能验证。").arg(target_));
            return;
        }
        Ask(Step::VerifyOld, factory_);
        break;
    case Step::VerifyOld:
        if (heard != bus::Heard::Silent) {
            End(QStringLiteral("写入后出厂地址 %1 仍有应答，未能验证。").arg(factory_));
            return;
        }
        Assigned();
        break;
    default:
        break;
    }
}

// Verified: logged, and on to the next address.
void AssignWindow::Assigned() {
    step_ = Step::Logging; // a message about the log ends nothing twice
    Log(true);
    if (!Running())
        return; // ended while the message was up
    bus::KnownModules::Of(window_).Add(target_);
    done->appendPlainText(QStringLiteral("%1 → %2").arg(factory_).arg(target_));
    Say(QStringLiteral("已分配地址 %1，请接上下一个模块").arg(target_));
    const int given = target_;
    do
        ++target_;
    while (target_ == factory_);
    if (target_ > bus::kLastAddress) {
        End(QStringLiteral("已分配到地址 %1，没有更多地址可分配。").arg(given));
        return;
    }
    step_ = Step::Waiting;
    again_.start(kLookAgainMs);
}

// Confirmed, or the wait for it over: either way whether it took is what the module says.
void AssignWindow::Written() {
    if (step_ != Step::Writing)
        return;
    written_.stop();
    Ask(Step::VerifyNew, target_);
}

void AssignWindow::Log(bool verified) {
    const QStringList columns{QStringLiteral("时间"),   QStringLiteral("串口"),
                              QStringLiteral("波特率"), QStringLiteral("原地址"),
                              QStringLiteral("新地址"), QStringLiteral("已验证")};
    QByteArray row;
    csv::AppendTime(row, QDateTime::currentDateTime());
    for (const QString &field :
         {QStringLiteral("COM%1").arg(window_.MSComm1->commPort()), QString::number(line_.Rate()),
          QString::number(factory_), QString::number(target_),
          verified ? QStringLiteral("是") : QStringLiteral("否")})
        csv::AppendField(row, field);
    row += "\r\n";
    if (const auto failure = csv::AppendRows(LogPath(), columns, {row}))
        window_.MsgBox(QStringLiteral("无法写入地址分配记录 %1：%2")
                           .arg(QDir::toNativeSeparators(LogPath()), *failure),
                       MsgIcon::Warning, QStringLiteral("系统提示"));
}
