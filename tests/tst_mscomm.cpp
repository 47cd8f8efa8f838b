// The serial control against a real pseudo-terminal: thresholds, Input, InBufferCount,
// events held while a modal loop runs, a device that disappears, what it says of the port
// opening and closing, and its use of the echo filter (the quiet timer, an emptied buffer).

#include "pty.h"
#include "serial/mscomm.h"

#include <QFile>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
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
    QList<bool> opened; // what PortOpenChanged said
};

} // namespace

class TstMSComm : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Pty> pty_;
    std::unique_ptr<MSComm> comm_;
    Recorder rec_;

    // A control on COM4, linked to a fresh pty, recording every event; not opened yet.
    void makeOnPty() {
        QVERIFY(dir_.isValid());
        plugIn();
        comm_ = std::make_unique<MSComm>(dir_.path());
        rec_ = {};
        connect(comm_.get(), &MSComm::OnComm, comm_.get(),
                [this] { rec_.events.push_back(comm_->commEvent()); });
        connect(comm_.get(), &MSComm::PortOpenChanged, comm_.get(),
                [this](bool open) { rec_.opened.append(open); });
        QVERIFY(comm_->setCommPort(4));
        QVERIFY(comm_->setSettings(19200));
    }

    void plugIn() {
        pty_ = std::make_unique<Pty>();
        QVERIFY(pty_->isValid());
        QVERIFY(pty_->linkAs(dir_.path(), 4));
    }

    void openOnPty() {
        makeOnPty();
        QVERIFY(comm_->setPortOpen(true));
        QVERIFY(comm_->portOpen());
        QCOMPARE(rec_.opened, QList<bool>{true});
    }

    // The device sends, and the control has taken the bytes in once this returns: any event
    // they raise has run, unless events are held.
    void arrive(const QByteArray &bytes) {
        pty_->send(bytes);
        QVERIFY(pty_->waitUntilQueued(int(bytes.size())));
        DeliverPosted();
    }

private slots:
    void cleanup() {
        comm_.reset();
        pty_.reset();
    }

    // Closed, the control takes the window's preparation and refuses what it cannot do.
    void propertiesWhileClosed() {
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
        QVERIFY(!comm.setCommPort(0));
        QVERIFY(!comm.setCommPort(17));
        QCOMPARE(comm.commPort(), 1);
        QVERIFY(!comm.setInBufferCount(3));
        QVERIFY(!comm.setRThreshold(-1));
        QVERIFY(!comm.setSettings(0));
        QVERIFY(!comm.setSettings(-9600));
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
        const QSignalSpy opened(&comm, &MSComm::PortOpenChanged);
        QVERIFY(comm.setCommPort(4));
        QVERIFY(!comm.setPortOpen(true));
        QVERIFY(!comm.portOpen());
        QVERIFY(!comm.setOutput(QByteArray(8, '\0')));
        QVERIFY(opened.isEmpty());
    }

    void openFailsWhileAnotherProgramHoldsThePort() {
        openOnPty();
        MSComm other(dir_.path());
        QVERIFY(other.setCommPort(4));
        QVERIFY(!other.setPortOpen(true));
        QVERIFY(!other.portOpen());
        QVERIFY(comm_->portOpen());
        QVERIFY(!comm_->setPortOpen(true)); // already open: nothing to tell
        QCOMPARE(rec_.opened, QList<bool>{true});
    }

    void receiveEventOnceThresholdIsReached() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(9));
        arrive(QByteArray::fromHex("0103040001"));
        QVERIFY(rec_.events.empty());

        pty_->send(QByteArray::fromHex("0002AABB"));
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));

        // More bytes before the buffer is read raise nothing new.
        arrive(QByteArray::fromHex("CCDDEE"));
        QCOMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(comm_->input(), QByteArray::fromHex("01030400010002AABBCCDDEE"));

        // Read, so the next reply raises its own event.
        pty_->send(QByteArray(9, '\x11'));
        QTRY_COMPARE(rec_.events.size(), size_t(2));
        QCOMPARE(comm_->input(), QByteArray(9, '\x11'));

        // A threshold set over bytes already buffered raises it, later.
        QVERIFY(comm_->setRThreshold(0));
        arrive(QByteArray::fromHex("010602"));
        QVERIFY(comm_->setRThreshold(3));
        QVERIFY2(rec_.events.size() == 2, "OnComm must never run inside a property write");
        QTRY_COMPARE(rec_.events.size(), size_t(3));
        QCOMPARE(rec_.events[2], std::int16_t(MSComm::Receive));
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
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
        QCOMPARE(comm_->input(), QByteArray::fromHex("010203"));
    }

    void inputLenLimitsOneRead() {
        openOnPty();
        QVERIFY(comm_->setRThreshold(0));
        QVERIFY(comm_->setInputLen(2));
        arrive(QByteArray::fromHex("0102030405"));
        QCOMPARE(comm_->input(), QByteArray::fromHex("0102"));
        QCOMPARE(comm_->input(), QByteArray::fromHex("0304"));
        QVERIFY(comm_->setInputLen(0));
        QCOMPARE(comm_->input(), QByteArray::fromHex("05"));
    }

    // Events wait while a message box is open, and are judged when their turn comes:
    // whatever happened meanwhile leaves nothing stale to report, and the next bytes raise
    // their own.
    void heldEvents_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<bool>("raised");      // the held event, once released
        QTest::addColumn<QByteArray>("later"); // bytes after that raise one event; none if empty
        QTest::addColumn<QByteArray>("seen");  // what Input gives in the end
        QTest::newRow("nothing: delivered once released")
            << "nothing" << true << QByteArray() << Hex("01");
        QTest::newRow("buffer emptied, the system's too")
            << "empty" << false << Hex("02") << Hex("02");
        QTest::newRow("receive notification off") << "off" << false << QByteArray() << Hex("01");
        QTest::newRow("a longer reply awaited")
            << "raise" << false << Hex("02030405") << Hex("0102030405");
        QTest::newRow("port closed") << "close" << false << QByteArray() << QByteArray();
    }
    void heldEvents() {
        QFETCH(QString, meanwhile);
        QFETCH(bool, raised);
        QFETCH(QByteArray, later);
        QFETCH(QByteArray, seen);
        openOnPty();
        QVERIFY(comm_->setRThreshold(1));
        {
            comm_->setEventsHeld(true); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            arrive(Hex("01"));
            QVERIFY(rec_.events.empty());
            if (meanwhile == QLatin1String("empty")) {
                // These have reached the system's buffer but not the program's yet.
                pty_->send(Hex("0506"));
                QVERIFY(pty_->waitUntilQueued(2));
                QVERIFY(comm_->setInBufferCount(0));
            } else if (meanwhile == QLatin1String("off")) {
                QVERIFY(comm_->setRThreshold(0));
            } else if (meanwhile == QLatin1String("raise")) {
                QVERIFY(comm_->setRThreshold(5));
            } else if (meanwhile == QLatin1String("close")) {
                QVERIFY(comm_->setPortOpen(false));
            }
        }
        DeliverPosted();
        QCOMPARE(rec_.events.size(), size_t(raised ? 1 : 0));
        if (!later.isEmpty()) {
            pty_->send(later);
            QTRY_COMPARE(rec_.events.size(), size_t(1));
        }
        QCOMPARE(comm_->input(), seen);
        if (!comm_->portOpen()) { // closed again, there is nothing to tell
            QVERIFY(comm_->setPortOpen(false));
            QCOMPARE(rec_.opened, (QList<bool>{true, false}));
        }
    }

    // The device disappears: one event after any reply that had already come, the port
    // closed and said to be, and nothing more from it until it is plugged in again.
    void deviceLoss_data() {
        QTest::addColumn<bool>("emptiedFirst"); // an empty read then is not the loss itself
        QTest::addColumn<QByteArray>("heldReply");
        QTest::addColumn<QList<int>>("events");
        const int lost = MSComm::DeviceLost;
        QTest::newRow("unplugged") << false << QByteArray() << QList{lost};
        QTest::newRow("unplugged just after emptying") << true << QByteArray() << QList{lost};
        QTest::newRow("unplugged after a held reply")
            << false << Hex("0A0B0C") << QList{int(MSComm::Receive), lost};
    }
    void deviceLoss() {
        QFETCH(bool, emptiedFirst);
        QFETCH(QByteArray, heldReply);
        QFETCH(QList<int>, events);
        openOnPty();
        QVERIFY(comm_->setRThreshold(std::int16_t(std::max<qsizetype>(1, heldReply.size()))));
        if (emptiedFirst)
            QVERIFY(comm_->setInBufferCount(0));
        const auto *port = comm_->findChild<QSerialPort *>();
        {
            comm_->setEventsHeld(!heldReply.isEmpty()); // as while a message box is open
            const auto release = qScopeGuard([this] { comm_->setEventsHeld(false); });
            if (!heldReply.isEmpty())
                arrive(heldReply);
            pty_->unplug();
            // The port itself is closed, so nothing keeps reporting the hang-up.
            QTRY_VERIFY(!port->isOpen());
        }
        QTRY_COMPARE(rec_.events.size(), size_t(events.size()));
        QCOMPARE(QList<int>(rec_.events.begin(), rec_.events.end()), events);
        QVERIFY(!comm_->portOpen());
        QVERIFY(!comm_->setOutput(QByteArray(8, '\0')));
        QCOMPARE(rec_.opened, (QList<bool>{true, false}));

        // What it left raises nothing new, and closing it again tells nothing.
        QVERIFY(comm_->setRThreshold(0));
        QVERIFY(comm_->setRThreshold(1));
        DeliverPosted();
        QCOMPARE(rec_.events.size(), size_t(events.size()));
        QCOMPARE(comm_->input(), heldReply);
        QVERIFY(comm_->setPortOpen(false));
        QCOMPARE(rec_.opened, (QList<bool>{true, false}));

        plugIn(); // the same control opens it again
        QVERIFY(comm_->setPortOpen(true));
        QCOMPARE(rec_.opened, (QList<bool>{true, false, true}));
    }

    // What the echo filter needs of the control: each read handed to it, the quiet timer
    // started again by every piece it holds and handing them on when the line stays quiet,
    // an emptied buffer and a reopened port. The filter's own rules are tst_echofilter's.
    void adapterEcho_data() {
        QTest::addColumn<QList<QByteArray>>("pieces"); // after a read request
        QTest::addColumn<int>("emptiedAfter");         // the piece the program empties after
        QTest::addColumn<QByteArray>("seen");
        QTest::addColumn<bool>("echoAfter");
        const QByteArray read = Hex("010300000002C40B");
        const QByteArray reply = Hex("0103040226091AAABB");
        QTest::newRow("copy cut across reads, then the reply")
            << QList{read.first(3), read.sliced(3) + reply.first(2), reply.sliced(2)} << -1 << reply
            << true;
        QTest::newRow("part of a copy, then silence")
            << QList{read.first(5)} << -1 << read.first(5) << false;
        QTest::newRow("buffer emptied mid-copy")
            << QList{read.first(3), read.sliced(3) + reply} << 0 << read.sliced(3) + reply << false;
    }
    void adapterEcho() {
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(int, emptiedAfter);
        QFETCH(QByteArray, seen);
        QFETCH(bool, echoAfter);
        openOnPty();
        const QByteArray request = Hex("010300000002C40B");
        QVERIFY(comm_->setOutput(request));
        QCOMPARE(pty_->receive(request.size()), request);
        QVERIFY(comm_->setRThreshold(std::int16_t(seen.size())));
        for (qsizetype i = 0; i < pieces.size(); ++i) { // each taken in a read of its own
            arrive(pieces[i]);
            if (i == emptiedAfter)
                QVERIFY(comm_->setInBufferCount(0));
        }
        QTRY_COMPARE(rec_.events.size(), size_t(1));
        QCOMPARE(rec_.events[0], std::int16_t(MSComm::Receive));
        QCOMPARE(comm_->input(), seen);
        QCOMPARE(comm_->echoMode(), echoAfter);

        // Opened again, the port starts without echo mode.
        QVERIFY(comm_->setPortOpen(false));
        QVERIFY(comm_->setPortOpen(true));
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

    void settingsApplyToAnOpenPort() {
        openOnPty();
        auto *port = comm_->findChild<QSerialPort *>();
        QVERIFY(!MSComm::ReadLineCounters(port)); // a pty keeps none: no line errors invented
        QCOMPARE(port->baudRate(), 19200);
        QVERIFY(comm_->setSettings(9600));
        QCOMPARE(port->baudRate(), 9600);
        QVERIFY(!comm_->setSettings(0)); // a refused rate leaves the line as it is
        QCOMPARE(port->baudRate(), 9600);
        QVERIFY(!comm_->setCommPort(5)); // not while open
        QCOMPARE(comm_->commPort(), 4);
    }
};

QTEST_GUILESS_MAIN(TstMSComm)
#include "tst_mscomm.moc"
