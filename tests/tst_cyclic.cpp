// The cyclic query with a running event loop: the interval rules, the two counters, the
// state table of start, tick and stop, and what happens around message boxes and a lost
// port. The module is the test, on the other side of a pseudo-terminal.

#include "serial/mscomm.h"
#include "windowharness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const char *kQuery = "01 03 00 00 00 02 C4 0B";
const char *kReply = "01 03 04 01 F4 00 00 BA 3D";
const QString kNotNumeric =
    QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为100-60000!");
const QString kOutOfRange =
    QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为50-60000!");

} // namespace

class TstCyclic : public QObject {
    Q_OBJECT

    WindowHarness h_;

    frmMain &startPolling(const QString &interval, bool plugged = true) {
        frmMain &w = h_.start(plugged);
        w.txtTimerSet->setText(interval);
        w.cmdOneM->click();
        return w;
    }
    // The module answers the next `count` polls; returns how many it saw.
    int answerPolls(int count) const {
        int seen = 0;
        for (; seen < count; ++seen) {
            const QByteArray request = h_.module->receive(8);
            if (request != Hex(QString::fromLatin1(kQuery)))
                break;
            h_.reply(kReply);
        }
        return seen;
    }
    // Stops polling and returns how many requests were still on their way.
    int stopAndDrain() const {
        h_.w->cmdStopOnce->click();
        return int(h_.module->receive(8 * 100, 150).size() / 8);
    }

private slots:
    void cleanup() { h_.reset(); }

    // A start resets both counters, valid or not; only a valid interval (re)starts Timer2.
    void intervalRules_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("interval"); // 0: refused
        QTest::addColumn<QString>("message");
        const std::tuple<const char *, int, QString> rows[] = {
            {"1000", 1000, {}},        {"50", 50, {}},           {"60000", 60000, {}},
            {"60000.9", 60001, {}},    {"50.5", 50, {}},         {"51.5", 52, {}},
            {" 200 ", 200, {}},        {"49", 0, kOutOfRange},   {"49.9", 0, kOutOfRange},
            {"60001", 0, kOutOfRange}, {"-100", 0, kOutOfRange}, {"1e300", 0, kOutOfRange},
            {"", 0, kNotNumeric},      {"abc", 0, kNotNumeric},  {"100ms", 0, kNotNumeric},
        };
        for (const auto &[text, interval, message] : rows)
            QTest::newRow(text) << QString::fromLatin1(text) << interval << message;
    }
    void intervalRules() {
        QFETCH(QString, text);
        QFETCH(int, interval);
        QFETCH(QString, message);
        frmMain &w = h_.start();
        w.lblCounter->setText(QStringLiteral("7"));
        w.CommCount = 5;
        w.txtTimerSet->setText(text);
        w.cmdOneM->click();

        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));
        QCOMPARE(w.lblErrCounter->text(), QStringLiteral("1"));
        QCOMPARE(w.CommCount, 1);
        QCOMPARE(w.Timer2->isActive(), interval != 0);
        if (interval != 0) {
            QCOMPARE(w.Timer2->interval(), interval);
            QVERIFY(h_.shown.empty());
        } else {
            QCOMPARE(h_.shown.size(), size_t(1));
            QCOMPARE(h_.shown[0].text, message);
        }
        w.cmdStopOnce->click();
        QVERIFY(!w.Timer2->isActive());
    }

    // The start sends nothing itself; each tick that sends is counted; every reply is
    // decoded and counted as a serial event.
    void pollsAreCountedAndDecoded() {
        frmMain &w = startPolling(QStringLiteral("1000"));
        QVERIFY(h_.lineQuiet());
        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        QCOMPARE(answerPolls(5), 5);
        QTRY_COMPARE(w.lblErrCounter->text(), QStringLiteral("6"));
        const int late = stopAndDrain();
        QCOMPARE(w.lblCounter->text(), QString::number(1 + 5 + late));
        QCOMPARE(w.txtValue(0)->text(), QStringLiteral("500"));
        QCOMPARE(w.CmdType, cmdtype::Query);
        QVERIFY(h_.shown.empty());
    }

    void stoppedPollingSendsNothingAndRestartsTheCounters() {
        frmMain &w = startPolling(QStringLiteral("50"));
        QCOMPARE(answerPolls(2), 2);
        stopAndDrain();
        QVERIFY(!w.Timer2->isActive());
        QVERIFY(h_.module->receive(1, 200).isEmpty());
        w.cmdOneM->click();
        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));
        QCOMPARE(w.lblErrCounter->text(), QStringLiteral("1"));
        QCOMPARE(answerPolls(1), 1);
        stopAndDrain();
    }

    void invalidStartKeepsTheRunningInterval() {
        frmMain &w = startPolling(QStringLiteral("1000"));
        w.lblCounter->setText(QStringLiteral("9"));
        w.txtTimerSet->setText(QStringLiteral("49"));
        w.cmdOneM->click();
        QVERIFY(w.Timer2->isActive());
        QCOMPARE(w.Timer2->interval(), 1000);
        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));
        QCOMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(h_.shown[0].text, kOutOfRange);
    }

    // Without a ready port the ticks send nothing and show nothing, yet still repair a
    // data length that is not a number.
    void noReadyPortNoPolls() {
        frmMain &w = startPolling(QStringLiteral("50"), false);
        QVERIFY(!w.CommReady);
        w.txtDataLength->setText(QStringLiteral("two"));
        QTRY_COMPARE(w.txtDataLength->text(), QStringLiteral("1"));
        QTest::qWait(150);
        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));
        QVERIFY(h_.shown.empty());
    }

    void repairedLengthAsksForOneRegister() {
        frmMain &w = startPolling(QStringLiteral("50"));
        w.txtDataLength->setText(QString());
        QCOMPARE(h_.module->receive(8), Hex(QStringLiteral("01 03 00 00 00 01 84 0A")));
        QCOMPARE(w.txtDataLength->text(), QStringLiteral("1"));
        QCOMPARE(int(w.ReplyLen), 7);
        QVERIFY(h_.shown.empty());
        stopAndDrain();
    }

    // The poll counter shows 65535, 65536, then starts over at 1.
    void pollCounterStartsOver() {
        frmMain &w = h_.start();
        w.lblCounter->setText(QStringLiteral("65535"));
        w.Timer2_Timer();
        QCOMPARE(w.lblCounter->text(), QStringLiteral("65536"));
        w.Timer2_Timer();
        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));
        QCOMPARE(h_.module->receive(16).size(), qsizetype(16));

        w.lblCounter->setText(QStringLiteral("65536"));
        w.CommReady = false;
        w.Timer2_Timer();
        QCOMPARE(w.lblCounter->text(), QStringLiteral("0"));
        QVERIFY(h_.lineQuiet());
    }

    // The first poll after the port went away says so once; later ticks are silent until a
    // port is chosen again.
    void lostPortStopsPollingWithOneMessage() {
        frmMain &w = startPolling(QStringLiteral("50"));
        QCOMPARE(answerPolls(1), 1);
        h_.module->unplug();
        QTRY_COMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(h_.shown[0].text, QStringLiteral("打开串口出错，请确定串口是否已被占用"));
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        QVERIFY(!w.CommReady);
        const QString counted = w.lblCounter->text();
        QTest::qWait(300);
        QCOMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(w.lblCounter->text(), counted);
        QVERIFY(w.Timer2->isActive());

        // Re-plugged and chosen again: polling resumes by itself.
        h_.module = std::make_unique<Pty>();
        QVERIFY(h_.module->linkAs(h_.dir->path(), 4));
        w.Combo1->SelectEntry(3);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(answerPolls(2), 2);
        stopAndDrain();
    }

    // While a box is open no tick is handled and no reply is taken; both resume after it.
    void messageBoxHoldsTheTicks() {
        frmMain &w = startPolling(QStringLiteral("50"));
        QCOMPARE(answerPolls(1), 1);
        QTRY_COMPARE(w.lblErrCounter->text(), QStringLiteral("2"));

        int depth = 0, deepest = 0;
        QByteArray sentDuringBox;
        w.messages().setPresenter([&](const Message &) {
            deepest = std::max(deepest, ++depth);
            h_.reply(kReply); // a late reply arrives while the box is up
            sentDuringBox += h_.module->receive(8, 400);
            --depth;
        });
        w.txtSetID(0)->setText(QStringLiteral("x"));
        // Ticks since the first reply have sent their polls before the box: those are no
        // requests sent while it is up. From here to the click nothing runs the event loop,
        // so no tick comes; a poll already written may still be crossing the pseudo-terminal.
        h_.module->takeArrived(50);
        const QString counted = w.lblCounter->text();
        w.cmdChangeID->click();
        QCOMPARE(deepest, 1);
        QVERIFY(sentDuringBox.isEmpty());
        QCOMPARE(w.lblCounter->text(), counted);
        QCOMPARE(w.lblErrCounter->text(), QStringLiteral("2"));
        QTRY_COMPARE(w.lblErrCounter->text(), QStringLiteral("3"));
        QCOMPARE(answerPolls(1), 1);
        stopAndDrain();
    }

    // A field error found by a tick is told once; later ticks that find it again stay
    // silent and send nothing, so the user can reach the field and "停止". Mending the field
    // resumes sending; a different error, a new start or a click on "单次" tells again.
    void fieldErrorWhilePollingIsToldOnce() {
        const QString badAddress = QStringLiteral("你输入的设备地址格式有误!");
        const QString badFunction = QStringLiteral("你输入的功能码格式有误!");
        frmMain &w = startPolling(QStringLiteral("50"));
        QStringList told;
        w.messages().setPresenter([&](const Message &m) {
            told << m.text;
            QTest::qWait(120); // the box stays open for a while; ticks must not pile up
        });
        const auto toldIn = [&](int ms) {
            told.clear();
            QTest::qWait(ms);
            return told;
        };

        w.txtStationID->setText(QStringLiteral("one"));
        QCOMPARE(toldIn(2000), QStringList{badAddress});
        QVERIFY(h_.module->receive(1, 0).isEmpty());

        told.clear();
        w.comDoOnce->click();
        QCOMPARE(told, QStringList{badAddress});
        QCOMPARE(toldIn(300), QStringList{});

        w.txtFunID->setText(QStringLiteral("three"));
        w.txtStationID->setText(QStringLiteral("1"));
        QCOMPARE(toldIn(500), QStringList{badFunction});

        w.txtFunID->setText(QStringLiteral("3"));
        QCOMPARE(answerPolls(2), 2);
        w.txtFunID->setText(QStringLiteral("three"));
        QCOMPARE(toldIn(500), QStringList{badFunction});
        QVERIFY(h_.module->receive(8, 0).size() <= 8); // at most the poll already on its way

        w.cmdOneM->click();
        QCOMPARE(toldIn(500), QStringList{badFunction});
        stopAndDrain();
    }

    // A one-shot click in between is one extra request the poll counter does not count;
    // another command decides how the next reply is decoded until the next tick.
    void otherCommandsInterleave() {
        frmMain &w = startPolling(QStringLiteral("1000"));
        w.comDoOnce->click();
        QCOMPARE(answerPolls(1), 1);
        QTRY_COMPARE(w.lblErrCounter->text(), QStringLiteral("2"));
        QCOMPARE(w.lblCounter->text(), QStringLiteral("1"));

        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        w.cmdReadAdd->click();
        QCOMPARE(h_.module->receive(8), Hex(QStringLiteral("FA 25 02 00 00 01 99 FE")));
        QCOMPARE(w.CmdType, cmdtype::Address);
        QCOMPARE(h_.module->receive(8), Hex(QString::fromLatin1(kQuery)));
        QCOMPARE(w.CmdType, cmdtype::Query);
        stopAndDrain();
    }
};

QTEST_MAIN(TstCyclic)
#include "tst_cyclic.moc"
