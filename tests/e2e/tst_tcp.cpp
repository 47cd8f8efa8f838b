// The real window on a COMn that stands for a serial device server: the simulator behind
// its TCP server on loopback, libmodbus answering. The same frames, events and messages as
// on a serial line; the connect runs in the background and ends in one message when it
// fails.

#include "app/frmMain.h"
#include "modbus/frame.h"
#include "serial/mscomm.h"
#include "tcpsim.h"

#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

constexpr int kPort = 5;

// A loopback socket bound to a free port; listening with a full queue when asked, so that
// a connect there gets no answer at all.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listenFull) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        ::bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at);
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&at), &length);
        port_ = ntohs(at.sin_port);
        if (!listenFull) { // bound, not listening: a connect is refused
            return;
        }
        ::listen(fd_, 0);
        for (int &filler : fillers_) { // never accepted
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr *>(&at), sizeof at);
        }
        QTest::qWait(100);
    }
    ~LoopbackPort() {
        for (int filler : fillers_)
            ::close(filler);
        ::close(fd_);
    }
    QString Address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port_); }

private:
    int fd_ = -1;
    int fillers_[3] = {-1, -1, -1};
    quint16 port_ = 0;
};

QString ToolTipOf(QWidget *widget) {
    QHelpEvent ask(QEvent::ToolTip, {}, widget->mapToGlobal(QPoint()));
    QCoreApplication::sendEvent(widget, &ask);
    return QToolTip::text();
}

} // namespace

class TstTcp : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TcpSimulator> sim_;
    std::unique_ptr<frmMain> w_;
    std::vector<Message> shown_;

    // The window after start-up with COM5 saved, COM5 standing for address.
    frmMain &Start(const QString &address) {
        QFile settings(dir_->filePath(QStringLiteral("comm.set")));
        if (settings.open(QIODevice::WriteOnly))
            settings.write("5,19200\r\n");
        settings.close();
        if (!TcpSimulator::LinkAs(dir_->path(), kPort, address))
            qFatal("cannot write COM5-tcp.txt");
        w_ = std::make_unique<frmMain>(dir_->path());
        w_->messages().setPresenter([this](const Message &m) { shown_.push_back(m); });
        w_->Form_Load();
        return *w_;
    }
    frmMain &StartOnSimulator() {
        sim_ = std::make_unique<TcpSimulator>(dir_->path());
        if (!sim_->IsReady())
            qFatal("the simulator did not start");
        return Start(sim_->Address());
    }
    QString LastLoggedValue() const {
        const auto replies = sim_->Log(QStringLiteral("tx"));
        if (replies.empty() || replies.back().bytes.size() < 5)
            return QStringLiteral("<no reply>");
        const QByteArray &b = replies.back().bytes;
        return QString::number(256 * std::uint8_t(b[3]) + std::uint8_t(b[4]));
    }

private slots:
    void init() { dir_ = std::make_unique<QTemporaryDir>(); }
    void cleanup() {
        w_.reset();
        sim_.reset();
        dir_.reset();
        shown_.clear();
    }

    // Until connected the port reads closed and a command says so, as for a closed port;
    // then a query shows what the simulator sent.
    void oneShot() {
        frmMain &w = StartOnSimulator();
        QVERIFY(w.MSComm1->portConnecting());
        QVERIFY(!w.MSComm1->portOpen());
        QVERIFY(shown_.empty()); // no start-up failure for a connect under way
        w.comDoOnce->click();
        QCOMPARE(shown_.size(), size_t(1));
        QCOMPARE(shown_[0].text, QStringLiteral("打开串口出错，请确定串口是否已被占用"));

        QTRY_VERIFY(w.MSComm1->portOpen());
        QCOMPARE(ToolTipOf(w.Combo1), QStringLiteral("COM5 → %1\n已连接").arg(sim_->Address()));
        QVERIFY(ToolTipOf(w.Combo2).contains(u"波特率对它不起作用"));
        w.comDoOnce->click();
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(sim_->Log(QStringLiteral("rx")).back().bytes,
                 QByteArray::fromHex("010300000002C40B"));
        QCOMPARE(w.txtValue(0)->text(), LastLoggedValue());
        QCOMPARE(w.txtState->toPlainText(),
                 modbus::ReplyText(sim_->Log(QStringLiteral("tx")).back().bytes));
        QCOMPARE(shown_.size(), size_t(1));
    }

    // Polling at the shortest interval: every request answered, every reply taken as one
    // receive event and counted, the last one shown; nothing merged or split on the way.
    void pollingTakesEveryReply() {
        frmMain &w = StartOnSimulator();
        QTRY_VERIFY(w.MSComm1->portOpen());
        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        QTRY_VERIFY(sim_->Log(QStringLiteral("tx")).size() >= 20);
        w.cmdStopOnce->click();
        // The reply to the last request may still be on its way.
        QTRY_COMPARE(w.CommCount - 1, int(sim_->Log(QStringLiteral("rx")).size()));
        const auto requests = sim_->Log(QStringLiteral("rx"));
        QCOMPARE(sim_->Log(QStringLiteral("tx")).size(), requests.size());
        QCOMPARE(w.lblCounter->text(), QString::number(requests.size() + 1));
        QCOMPARE(w.txtValue(0)->text(), LastLoggedValue());
        QVERIFY(shown_.empty());
    }

    // The connection dropped while polling is a device lost: one message at the next poll,
    // the red lamp, no more work; choosing the port again connects again.
    void droppedConnection() {
        frmMain &w = StartOnSimulator();
        QTRY_VERIFY(w.MSComm1->portOpen());
        QSignalSpy events(w.MSComm1, &MSComm::OnComm);
        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        QTRY_VERIFY(sim_->Log(QStringLiteral("tx")).size() >= 3);

        sim_->DropClient();
        QTRY_COMPARE(shown_.size(), size_t(1));
        QCOMPARE(shown_[0].text, QStringLiteral("打开串口出错，请确定串口是否已被占用"));
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        QVERIFY(!w.MSComm1->portOpen());
        const qsizetype lost = events.size();
        QTest::qWait(500);
        QCOMPARE(events.size(), lost); // nothing more after the loss
        QCOMPARE(shown_.size(), size_t(1));

        const size_t answered = sim_->Log(QStringLiteral("tx")).size();
        w.Combo1->SelectEntry(kPort - 1);
        QTRY_VERIFY(w.MSComm1->portOpen());
        QTRY_VERIFY(sim_->Log(QStringLiteral("tx")).size() >= answered + 3);
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        w.cmdStopOnce->click();
        QCOMPARE(shown_.size(), size_t(1));
    }

    // A connect that fails is told once, with the address and why, and the lamp is red.
    void connectFails_data() {
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("why");
        QTest::newRow("refused") << false << QStringLiteral("连接被拒绝");
        QTest::newRow("no answer") << true << QStringLiteral("连接超时");
    }
    void connectFails() {
        QFETCH(bool, listening);
        QFETCH(QString, why);
        const LoopbackPort nobody(listening);
        frmMain &w = Start(nobody.Address());
        QVERIFY(shown_.empty());
        QTRY_COMPARE_WITH_TIMEOUT(shown_.size(), size_t(1), MSComm::kConnectTimeoutMs + 2000);
        QCOMPARE(shown_[0].text,
                 QStringLiteral("无法连接 COM5 (%1)：%2").arg(nobody.Address(), why));
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        QVERIFY(!w.MSComm1->portOpen() && !w.MSComm1->portConnecting());
        QTest::qWait(200);
        QCOMPARE(shown_.size(), size_t(1));
    }
};

QTEST_MAIN(TstTcp)
#include "tst_tcp.moc"
