// The serial control against a real pseudo-terminal: thresholds, Input, InBufferCount,
// events held while a modal loop runs, a device that disappears, and an adapter that
// echoes what it sends.

#include "pty.h"
#include "serial/mscomm.h"

#include <QEventLoop>
#include <QFile>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(MSComm::LineCounters)

namespace {

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(text);
}

// Runs whatever delivery is already posted. Events are posted the moment bytes are taken
// in, so after the bytes are seen in the buffer this shows every event they raise.
void DeliverPosted() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

struct Recorder {
    std::vector<std::int16_t> events;
    QByteArray received;
};

} // namespace

class TstMSComm : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Pty> pty_;
    std::unique_ptr<MSComm> comm_;
    Recorder rec_;

    // An open control on COM4, linked to a fresh pty, recording every event.
    void openOnPty() {
        QVERIFY(dir_.isValid());
        pty_ = std::make_unique<Pty>();
        QVERIFY(pty_->isValid());
        QVERIFY(pty_->linkAs(dir_.path(), 4));
        comm_ = std::make_unique<MSComm>(dir_.path());
        rec_ = {};
        connect(comm_.get(), &MSComm::OnComm, comm_.get(),
                [this] { rec_.events.push_back(comm_->commEvent()); });
        QVERIFY(comm_->setCommPort(4));
        QVERIFY(comm_->setSettings(19200));
        QVERIFY(comm_->setPortOpen(true));
        QVERIFY(comm_->portOpen());
    }

private slots:
    void cleanup() {
        comm_.reset();
        pty_.reset();
    }

    void preparationIsAcceptedWhileClosed() {
        MSComm comm(dir_.path());
        QVERIFY(!comm.portOpen());
        QVERIFY(comm.setInBufferCount(0));
        QVERIFY(comm.setInputLen(0));
        QVERIFY(comm.setInputMode(1));
        QVERIFY(comm.setRThreshold(0));
        QVERIFY(comm.setRThreshold(9));
        QVERIFY(comm.setOutBufferCount(0));
        QVERIFY(comm.setSThreshold(0));
        QVERIFY(!comm.setOutput(QByteArray(8, '\x01')));
        QVERIFY(comm.input().isEmpty());
    }

    void propertiesRefuseWhatTheControlCannotDo() {
        MSComm comm(dir_.path());
        QVERIFY(!comm.setCommPort(0));
        QVERIFY(!comm.setCommPort(17));
        QCOMPARE(comm.commPort(), 1);
        QVERIFY(!comm.setInBufferCount(3));
        QVERIFY(!comm.setRThreshold(-1));
        QVERIFY(!comm.setSettings(0));
        QVERIFY(!comm.setSettings(-9600));
        QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));
    }

    void openFails_data() {
        QTest::addColumn<QString>("entry"); // what COM4 in the program's directory is
        QTest::newRow("dangling link") << QStringLiteral("dangling");
        QTest::newRow("regular file") << QStringLiteral("file");
    }
    void openFails() {
        QFETCH(QString, entry);
        QTemporaryDir dir;
        const QString com4 = dir.filePath(QStringLiteral("COM4"));
        if (entry == QLatin1String("dangling")) {
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), com4));
        } else {
            QFile file(com4);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("not a tty");
        }
        MSComm comm(dir.path());
        QVERIFY(comm.setCommPort(4));
        QVERIFY(!comm.setPortOpen(true));
        QVERIFY(!comm.portOpen());
        QVERIFY(!comm.setOutput(QByteArray(8, '\0')));
    }

    void openFailsWhileAnotherProgramHoldsThePort() {
        openOnPty();
        MSComm other(dir_.path());
        QVERIFY(other.setCommPort(4));
        QVERIFY(!other.setPortOpen(true));
        QVERIFY(!other.portOpen());
        QVERIFY(comm_->portOpen());
    }

    void outputIsTransmittedUnchanged() {
        openOnPty();
        const QByteArray request = QByteArray::fromHex("010300000002C40B");
        QVERIFY(comm_->setOutput(request));
        QCOMPARE(pty_->receive(8), request);
    }

    void receiveEventOnceThresholdIsReached() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(9));
        pty_->send(QByteArray::fromHex("0103040001"));
        QTRY_COMPARE(comm_->inBufferCount(), 5);
        DeliverPosted();
        QVERIFY(rec_.events.empty());

        pty_->send(QByteArray::fromHex("0002AABB"));
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));

        // More bytes before the buffer is read raise nothing new.
        pty_->send(QByteArray::fromHex("CCDDEE"));
        QTRY_COMPARE(comm_->inBufferCount(), 12);
        DeliverPosted();
        QCOMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(comm_->input(), QByteArray::fromHex("01030400010002AABBCCDDEE"));
        QCOMPARE(comm_->inBufferCount(), 0);

        // Read, so the next reply raises its own event.
        pty_->send(QByteArray(9, '\x11'));
        QTRY_COMPARE(rec_.events.size(), size_t(2));
    }

    void raisingThresholdOverBufferedBytesRaisesLater() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(0));
        pty_->send(QByteArray::fromHex("010602"));
        QTRY_COMPARE(comm_->inBufferCount(), 3);
        DeliverPosted();
        QVERIFY(rec_.events.empty());

        QVERIFY(comm_->setRThreshold(3));
        QVERIFY2(rec_.events.empty(), "OnComm must never run inside a property write");
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
    }

    void inBufferCountDiscardsEverythingUnread() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(0));
        pty_->send(QByteArray::fromHex("01020304"));
        QTRY_COMPARE(comm_->inBufferCount(), 4);
        // These have reached the system's buffer but not the program's yet.
        pty_->send(QByteArray::fromHex("0506"));
        QVERIFY(pty_->waitUntilQueued(2));
        QVERIFY(comm_->setInBufferCount(0));
        DeliverPosted();
        QCOMPARE(comm_->inBufferCount(), 0);
        QVERIFY(comm_->input().isEmpty());
    }

    // A handler empties the buffer in the same loop turn that found new bytes waiting, so
    // the read that follows finds nothing. That is not a lost device.
    void emptyingWhileBytesArriveKeepsThePortOpen() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        for (int round = 0; round < 20; ++round) {
            QMetaObject::invokeMethod(
                comm_.get(), [this] { QVERIFY(comm_->setInBufferCount(0)); }, Qt::QueuedConnection);
            pty_->send(QByteArray::fromHex("5A5A5A"));
            QVERIFY(pty_->waitUntilQueued(3));
            DeliverPosted();
            DeliverPosted();
            QVERIFY2(comm_->portOpen(), qPrintable(QStringLiteral("round %1").arg(round)));
        }
        QVERIFY(std::find(rec_.events.begin(), rec_.events.end(), MSComm::DeviceLost) ==
                rec_.events.end());

        // Reading still works afterwards.
        QVERIFY(comm_->setInBufferCount(0));
        rec_.events.clear();
        pty_->send(QByteArray::fromHex("010203"));
        QTRY_COMPARE(comm_->inBufferCount(), 3);
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
    }

    // Emptying the buffer explains an empty read, not a hang-up.
    void unpluggingJustAfterEmptyingIsStillALoss() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        QVERIFY(comm_->setInBufferCount(0));
        pty_->unplug();
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::DeviceLost));
        QVERIFY(!comm_->portOpen());
    }

    void clearedBytesRaiseNoStaleEvent() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            pty_->send(QByteArray::fromHex("FF"));
            QTRY_COMPARE(comm_->inBufferCount(), 1);
            QVERIFY(comm_->setInBufferCount(0));
        }
        DeliverPosted();
        QVERIFY(rec_.events.empty());
    }

    void inputLenLimitsOneRead() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(0));
        QVERIFY(comm_->setInputLen(2));
        pty_->send(QByteArray::fromHex("0102030405"));
        QTRY_COMPARE(comm_->inBufferCount(), 5);
        QCOMPARE(comm_->input(), QByteArray::fromHex("0102"));
        QCOMPARE(comm_->input(), QByteArray::fromHex("0304"));
        QVERIFY(comm_->setInputLen(0));
        QCOMPARE(comm_->input(), QByteArray::fromHex("05"));
    }

    // A message box runs a nested event loop; the bytes arriving meanwhile stay buffered
    // and their event comes after the box has closed.
    void eventsWaitWhileAModalLoopRuns() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        size_t eventsInsideLoop = 0;
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            QEventLoop modal;
            QTimer poll;
            connect(&poll, &QTimer::timeout, &modal, [&] {
                if (comm_->inBufferCount() < 3)
                    return;
                DeliverPosted();
                eventsInsideLoop = rec_.events.size();
                modal.quit();
            });
            pty_->send(QByteArray::fromHex("010304"));
            poll.start(5);
            modal.exec();
        }
        QCOMPARE(eventsInsideLoop, size_t(0));
        QCOMPARE(comm_->inBufferCount(), 3);
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(comm_->input(), QByteArray::fromHex("010304"));
    }

    void unpluggingClosesThePortWithOneEvent() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        pty_->unplug();
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QVERIFY(rec_.events[0] != MSComm::Receive);
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::DeviceLost));
        QVERIFY(!comm_->portOpen());

        // The port itself is closed, so nothing keeps reporting the hang-up.
        const auto *port = comm_->findChild<QSerialPort *>();
        QVERIFY(port);
        QTRY_VERIFY(!port->isOpen());
        DeliverPosted();
        QCOMPARE(rec_.events.size(), size_t(1));
        QVERIFY(!comm_->setOutput(QByteArray(8, '\0')));

        // Plugged in again, the same control opens it.
        pty_ = std::make_unique<Pty>();
        QVERIFY(pty_->linkAs(dir_.path(), 4));
        QVERIFY(comm_->setPortOpen(true));
        QVERIFY(comm_->portOpen());
    }

    void closingDiscardsBufferAndPendingEvents() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            pty_->send(QByteArray::fromHex("0102"));
            QTRY_COMPARE(comm_->inBufferCount(), 2);
            QVERIFY(comm_->setPortOpen(false));
        }
        DeliverPosted();
        QVERIFY(rec_.events.empty());
        QCOMPARE(comm_->inBufferCount(), 0);
        QVERIFY(!comm_->portOpen());
    }

    void thresholdThatNoLongerHoldsWithdrawsTheEvent() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            pty_->send(QByteArray::fromHex("01"));
            QTRY_COMPARE(comm_->inBufferCount(), 1);
            QVERIFY(comm_->setRThreshold(0)); // receive notification off
        }
        DeliverPosted();
        QVERIFY(rec_.events.empty());

        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            QVERIFY(comm_->setRThreshold(1));
            QVERIFY(comm_->setRThreshold(5)); // a longer reply is now awaited
        }
        DeliverPosted();
        QVERIFY(rec_.events.empty());
        pty_->send(QByteArray::fromHex("02030405"));
        QTRY_COMPARE(rec_.events.size(), size_t(1));
    }

    void unpluggingAfterAHeldReplyDeliversTheReplyFirst() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(3));
        const auto *port = comm_->findChild<QSerialPort *>();
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            pty_->send(QByteArray::fromHex("0A0B0C"));
            QTRY_COMPARE(comm_->inBufferCount(), 3);
            pty_->unplug();
            QTRY_VERIFY(!port->isOpen());
        }
        QTRY_COMPARE(rec_.events.size(), size_t(2));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
        QCOMPARE(rec_.events[1], std::int16_t(MSComm::DeviceLost));
        QCOMPARE(comm_->input(), QByteArray::fromHex("0A0B0C"));

        // Nothing of a lost device raises further events.
        QVERIFY(comm_->setRThreshold(1));
        DeliverPosted();
        QCOMPARE(rec_.events.size(), size_t(2));
    }

    // The request goes out on a port in or out of echo mode, the line hands back `pieces`;
    // the program must see exactly `seen`, and the port end in echo mode or not.
    void adapterEcho_data() {
        QTest::addColumn<bool>("echoing");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QByteArray>("seen");
        QTest::addColumn<bool>("echoAfter");
        const QByteArray read = Hex("010300000002C40B");
        const QByteArray reply = Hex("0103040226091AAABB");
        const QByteArray write = Hex("01060A042710C3A5");
        const QByteArray refused = Hex("018602C3A1");
        // A reply that repeats the first five bytes of its request.
        const QByteArray readAt = Hex("010304000002B433");
        const QByteArray likeIt = Hex("01030400000001AABB");
        QTest::newRow("read: echo, then the reply")
            << false << read << QList{read + reply} << reply << true;
        QTest::newRow("read: echo cut across reads")
            << false << read
            << QList{read.first(3), read.sliced(3) + reply.first(2), reply.sliced(2)} << reply
            << true;
        QTest::newRow("write in echo mode: echo, then the reply")
            << true << write << QList{write.first(5), write.sliced(5), write} << write << true;
        QTest::newRow("write, no echo: the copy is the reply")
            << false << write << QList{write} << write << false;
        QTest::newRow("write refused without echo: echo mode stays")
            << true << write << QList{refused} << refused << true;
        QTest::newRow("reply starting like the request, echo mode")
            << true << readAt << QList{readAt, likeIt} << likeIt << true;
        QTest::newRow("reply starting like the request, no echo")
            << false << readAt << QList{likeIt.first(5), likeIt.sliced(5)} << likeIt << false;
        QTest::newRow("echo stopped: a read leaves echo mode")
            << true << read << QList{reply} << reply << false;
        QTest::newRow("part of a copy, then silence")
            << false << read << QList{read.first(5)} << read.first(5) << false;
    }
    void adapterEcho() {
        QFETCH(bool, echoing);
        QFETCH(QByteArray, request);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QByteArray, seen);
        QFETCH(bool, echoAfter);
        openOnPty();
        if (echoing) { // an address read comes back as it went
            const QByteArray address = Hex("FA250200000199FE");
            QVERIFY(comm_->setOutput(address));
            QCOMPARE(pty_->receive(8), address);
            pty_->send(address);
            QTRY_VERIFY(comm_->echoMode());
        }
        QVERIFY(comm_->setOutput(request));
        QCOMPARE(pty_->receive(request.size()), request);
        QVERIFY(comm_->setRThreshold(std::int16_t(seen.size())));
        for (const QByteArray &piece : pieces) { // each taken in a read of its own
            pty_->send(piece);
            QVERIFY(pty_->waitUntilQueued(int(piece.size())));
            DeliverPosted();
        }
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
        QCOMPARE(comm_->input(), seen);
        QCOMPARE(comm_->echoMode(), echoAfter);

        // Opened again, the port starts without echo mode.
        QVERIFY(comm_->setPortOpen(false));
        QVERIFY(!comm_->echoMode());
    }

    void lineErrorsFromTheDriversCounters_data() {
        QTest::addColumn<MSComm::LineCounters>("after");
        QTest::addColumn<QList<int>>("errors");
        const auto counters = [](std::uint32_t b, std::uint32_t f, std::uint32_t p,
                                 std::uint32_t o) {
            return MSComm::LineCounters{b, f, p, o};
        };
        QTest::newRow("no change") << counters(1, 2, 3, 4) << QList<int>{};
        QTest::newRow("framing") << counters(1, 3, 3, 4) << QList<int>{int(MSComm::Framing)};
        QTest::newRow("break and overrun")
            << counters(2, 2, 3, 9) << QList<int>{int(MSComm::Break), int(MSComm::Overrun)};
        QTest::newRow("parity") << counters(1, 2, 4, 4) << QList<int>{int(MSComm::Parity)};
        QTest::newRow("counter wrapped") << counters(0, 2, 3, 4) << QList<int>{int(MSComm::Break)};
    }
    void lineErrorsFromTheDriversCounters() {
        QFETCH(MSComm::LineCounters, after);
        QFETCH(QList<int>, errors);
        QList<int> found;
        for (MSComm::Event e : MSComm::LineErrorEvents(MSComm::LineCounters{1, 2, 3, 4}, after))
            found << int(e);
        QCOMPARE(found, errors);
    }

    void ptysKeepNoLineCounters() {
        openOnPty();
        auto *port = comm_->findChild<QSerialPort *>();
        QVERIFY(!MSComm::ReadLineCounters(port)); // so no line errors are invented here
    }

    void settingsApplyToAnOpenPort() {
        openOnPty();
        QVERIFY(comm_->setSettings(9600));
        const auto *port = comm_->findChild<QSerialPort *>();
        QCOMPARE(port->baudRate(), 9600);
        QVERIFY(!comm_->setCommPort(5)); // not while open
        QCOMPARE(comm_->commPort(), 4);
    }
};

QTEST_GUILESS_MAIN(TstMSComm)
#include "tst_mscomm.moc"
