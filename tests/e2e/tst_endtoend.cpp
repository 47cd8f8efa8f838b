// The real window with its real serial control against the sensor simulator, whose
// Modbus side is libmodbus: an independent implementation of the protocol. What the
// window shows is compared with what the simulator logged on the line. Each operation
// runs behind an adapter that does not echo and behind two that do; the window must not
// tell them apart.

#include "app/frmMain.h"
#include "modbus/frame.h"
#include "serial/mscomm.h"
#include "windowonsim.h"

#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolTip>
#include <QtTest>

#include <sys/resource.h>

#include <utility>

namespace {

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Seconds of processor time this process has used.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The adapters: simulator options and the row names they give. Pieces 1 ms apart keep a
// poll's exchange well inside 50 ms on a busy machine; where the cuts fall is up to the
// scheduler here, and tst_mscomm cuts the echo deliberately.
const std::pair<const char *, QStringList> kAdapters[] = {
    {"no echo", {}},
    {"echo", {"--echo"}},
    {"echo in pieces", {"--echo", "--split", "3", "--gap", "1"}},
};

void AdapterRows() {
    QTest::addColumn<QStringList>("adapter");
    for (const auto &[name, options] : kAdapters)
        QTest::newRow(name) << options;
}

} // namespace

class TstEndToEnd : public WindowOnSimulator {
    Q_OBJECT

    bool echoing_ = false;

    frmMain &start(const QStringList &simOptions = {}) {
        echoing_ = simOptions.contains(QStringLiteral("--echo"));
        return WindowOnSimulator::start(simOptions);
    }

    // The value the module sent in its last reply to the measurement query.
    QString lastLoggedValue() const {
        const auto replies = sim_->log(QStringLiteral("tx"));
        if (replies.empty() || replies.back().bytes.size() < 5)
            return QStringLiteral("<no reply>");
        const QByteArray &b = replies.back().bytes;
        return QString::number(256 * std::uint8_t(b[3]) + std::uint8_t(b[4]));
    }
    // Receive events since polling started: each is one reply taken.
    int eventsSinceStart() const { return w_->CommCount - 1; }

private slots:
    void cleanup() {
        if (sim_ && w_) { // every request came back, and the port knew it and says so
            QCOMPARE(sim_->log(QStringLiteral("echo")).size(),
                     echoing_ ? sim_->log(QStringLiteral("rx")).size() : 0);
            QCOMPARE(w_->MSComm1->echoMode(), echoing_);
            QHelpEvent ask(QEvent::ToolTip, {}, w_->Combo1->mapToGlobal(QPoint()));
            QCoreApplication::sendEvent(w_->Combo1, &ask);
            QCOMPARE(QToolTip::text().contains(u"适配器回显发送数据，已自动忽略"), echoing_);
        }
        reset();
    }

    void oneShotShowsTheSimulatorsValue_data() { AdapterRows(); }
    void oneShotShowsTheSimulatorsValue() {
        QFETCH(QStringList, adapter);
        frmMain &w = start(adapter);
        w.comDoOnce->click();
        QTRY_VERIFY(!w.txtState->toPlainText().isEmpty());
        QCOMPARE(sim_->log(QStringLiteral("rx")).back().bytes, Hex("01 03 00 00 00 02 C4 0B"));
        QCOMPARE(w.txtValue(0)->text(), lastLoggedValue());
        QCOMPARE(w.txtState->toPlainText(),
                 modbus::ReplyText(sim_->log(QStringLiteral("tx")).back().bytes));
        QCOMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(w.CommCount, 1);
        QVERIFY(shown_.empty());
    }

    void pollingAt50msKeepsUp_data() { AdapterRows(); }
    void pollingAt50msKeepsUp() {
        QFETCH(QStringList, adapter);
        frmMain &w = start(adapter);
        poll(50, 3000);
        const auto requests = sim_->log(QStringLiteral("rx"));
        const auto replies = sim_->log(QStringLiteral("tx"));
        QVERIFY2(requests.size() >= 55, qPrintable(QString::number(requests.size())));
        QCOMPARE(replies.size(), requests.size());
        QCOMPARE(eventsSinceStart(), int(replies.size()));
        QCOMPARE(w.lblCounter->text(), QString::number(requests.size() + 1));
        QCOMPARE(w.txtValue(0)->text(), lastLoggedValue());
        QVERIFY(shown_.empty());
    }

    void parametersRoundTrip_data() {
        QTest::addColumn<QStringList>("adapter");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("value");
        for (const auto &[name, options] : kAdapters) {
            QTest::addRow("%s: coefficient 0.2000", name) << options << 0 << "0.2000";
            QTest::addRow("%s: coefficient 5.0000", name) << options << 0 << "5.0000";
            QTest::addRow("%s: offset 5000", name) << options << 1 << "5000";
            QTest::addRow("%s: offset 0", name) << options << 1 << "0";
        }
    }
    // Read first, as a technician starts: an adapter's echo of a read is what tells that
    // it echoes, so that the write's own copy is told from the module's reply.
    void parametersRoundTrip() {
        QFETCH(QStringList, adapter);
        QFETCH(int, index);
        QFETCH(QString, value);
        frmMain &w = start(adapter);
        w.txtsetValue(index)->setText(QStringLiteral("?"));
        w.cmdREAD(index)->click();
        QTRY_COMPARE(w.txtsetValue(index)->text(), QStringList({"1.0000", "0"})[index]);
        w.txtsetValue(index)->setText(value);
        w.cmdSet(index)->click();
        QTRY_COMPARE(w.CommCount, 2); // the module's reply, which repeats the request
        w.txtsetValue(index)->setText(QStringLiteral("?"));
        w.cmdREAD(index)->click();
        QTRY_COMPARE(w.txtsetValue(index)->text(), value);
        QCOMPARE(w.CommCount, int(sim_->log(QStringLiteral("tx")).size()));
        QVERIFY(shown_.empty());
    }

    // The address change's echo carries 0x00 in byte 3, which the address decoder shows in
    // both address boxes; the technician then types the new address to reach the module.
    void addressReadAndChange_data() { AdapterRows(); }
    void addressReadAndChange() {
        QFETCH(QStringList, adapter);
        frmMain &w = start(adapter);
        w.txtSetID(0)->clear();
        w.txtStationID->clear();
        w.cmdReadAdd->click();
        QTRY_COMPARE(w.txtSetID(0)->text(), QStringLiteral("1"));
        QCOMPARE(w.txtStationID->text(), QStringLiteral("1"));

        w.txtSetID(1)->setText(QStringLiteral("2"));
        w.cmdChangeID->click();
        QTRY_COMPARE(w.txtStationID->text(), QStringLiteral("0"));
        QCOMPARE(w.txtSetID(0)->text(), QStringLiteral("0"));
        QCOMPARE(sim_->log(QStringLiteral("rx")).back().bytes, Hex("01 06 0B 00 00 02 0A 2F"));

        w.txtStationID->setText(QStringLiteral("2"));
        w.comDoOnce->click();
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(sim_->log(QStringLiteral("tx")).back().bytes.left(3), Hex("02 03 04"));
        QCOMPARE(w.txtValue(0)->text(), lastLoggedValue());

        w.cmdReadAdd->click();
        QTRY_COMPARE(w.txtSetID(0)->text(), QStringLiteral("2"));
        QCOMPARE(w.CommCount, int(sim_->log(QStringLiteral("tx")).size()));
    }

    // Faults on the line: nothing hangs, every reply that comes is decoded, and the next
    // poll recovers from one that does not.
    void faultyLine_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("split replies") << QStringList{"--split", "3", "--gap", "4"};
        QTest::newRow("wrong CRC") << QStringList{"--bad-crc", "1"};
        QTest::newRow("every 3rd reply dropped") << QStringList{"--drop", "3"};
        QTest::newRow("noise after replies") << QStringList{"--noise", "1:3"};
    }
    void faultyLine() {
        QFETCH(QStringList, options);
        frmMain &w = start(options);
        poll(100, 1500);
        const auto requests = sim_->log(QStringLiteral("rx"));
        const auto replies = sim_->log(QStringLiteral("tx"));
        QVERIFY(requests.size() >= 8);
        QCOMPARE(w.lblCounter->text(), QString::number(requests.size() + 1));
        QCOMPARE(eventsSinceStart(), int(replies.size()));
        if (options.first() == u"--drop")
            QCOMPARE(replies.size(), requests.size() - requests.size() / 3);
        else
            QCOMPARE(replies.size(), requests.size());
        QCOMPARE(w.txtValue(0)->text(), lastLoggedValue());
        QVERIFY(
            w.txtState->toPlainText().startsWith(modbus::ReplyText(replies.back().bytes.left(9))));
        if (options.first() == u"--bad-crc") // shown as it came, not the correct CRC
            QVERIFY(sim_->log(QStringLiteral("badcrc")).back().bytes != replies.back().bytes);
        QVERIFY(shown_.empty());
    }

    // Pulled out while polling: one message at the next poll, red lamp, an idle process;
    // put back and chosen again: polling resumes.
    void unplugAndReplugWhilePolling() {
        frmMain &w = start();
        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        QTRY_VERIFY(sim_->log(QStringLiteral("tx")).size() >= 3);

        sim_->unplug();
        QTRY_COMPARE(shown_.size(), size_t(1));
        QCOMPARE(shown_[0].text, QStringLiteral("打开串口出错，请确定串口是否已被占用"));
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        QVERIFY(!w.CommReady);
        QVERIFY(!w.MSComm1->portOpen());

        const double before = CpuSeconds();
        QTest::qWait(2000);
        const double used = CpuSeconds() - before;
        QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 2 s").arg(used)));
        QCOMPARE(shown_.size(), size_t(1));

        QVERIFY(sim_->replug());
        const size_t answered = sim_->log(QStringLiteral("tx")).size();
        w.Combo1->SelectEntry(3);
        QVERIFY(w.MSComm1->portOpen());
        QTRY_VERIFY(sim_->log(QStringLiteral("tx")).size() >= answered + 3);
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        w.cmdStopOnce->click();
    }
};

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
