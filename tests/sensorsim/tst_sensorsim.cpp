// The sensor simulator from outside, the way the program and the benchmarks meet it:
// libmodbus as the master on its linked pty, raw bytes where libmodbus would not send them,
// its traffic log, its signals and its command line.

#include "modbus/frame.h"
#include "tests/e2e/simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <set>

#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

using Block = std::array<std::uint16_t, 3>; // registers 4..6: coefficient, offset, gain
constexpr Block kDefaults{10000, 0, 1};

// The simulated room: 300..800 lx, plus a few lx of noise.
constexpr int kMinLux = 290;
constexpr int kMaxLux = 810;

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Checked with the program's own codec: two independent implementations, so a wrong CRC
// on either side shows.
QByteArray WithCrc(QByteArray frame) {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(frame.constData());
    const std::uint16_t crc = modbus::Crc16Value({bytes, std::size_t(frame.size())});
    return frame.append(char(crc & 0xFF)).append(char(crc >> 8));
}

bool CrcOk(const QByteArray &frame) {
    return frame.size() >= 4 && WithCrc(frame.chopped(2)) == frame;
}

const QByteArray kReadAddress = Hex("FA 25 02 00 00 01 99 FE");
const QByteArray kReadSettings = WithCrc(Hex("01 03 00 04 00 03"));
const QByteArray kSettingsReply = WithCrc(Hex("01 03 06 27 10 00 00 00 01"));

struct ModbusDeleter {
    void operator()(modbus_t *ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Client = std::unique_ptr<modbus_t, ModbusDeleter>;

// libmodbus as the master on the simulator's line at `baud`, talking to `unit`; empty on
// failure. The simulator answers only at its own rate.
Client Connect(const QString &link, int unit, int baud = 19200) {
    Client client(modbus_new_rtu(link.toLocal8Bit().constData(), baud, 'N', 8, 1));
    if (!client || modbus_set_slave(client.get(), unit) != 0 ||
        modbus_set_response_timeout(client.get(), 1, 0) != 0 || modbus_connect(client.get()) != 0)
        return nullptr;
    return client;
}

std::optional<Block> ReadBlock(modbus_t *ctx) {
    Block block{};
    if (modbus_read_registers(ctx, 4, 3, block.data()) != 3)
        return std::nullopt;
    return block;
}

bool SendRaw(int fd, const QByteArray &bytes) {
    tcflush(fd, TCIFLUSH);
    return write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

// Each read() on its own, to see how a reply was cut up on its way: until the line has been
// quiet for `quietMs`, or `limit` bytes came.
QByteArrayList Reads(int fd, int quietMs, qsizetype limit = 4096) {
    QByteArrayList reads;
    qsizetype got = 0;
    pollfd p{fd, POLLIN, 0};
    while (got < limit && poll(&p, 1, quietMs) > 0) {
        char chunk[256];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        reads.append(QByteArray(chunk, n));
        got += n;
    }
    return reads;
}

// Sends `request` raw and returns what comes back, up to `expected` bytes or a quiet spell.
QByteArray Exchange(int fd, const QByteArray &request, qsizetype expected = 4096) {
    return SendRaw(fd, request) ? Reads(fd, 300, expected).join() : QByteArray("<not sent>");
}

bool Exists(const QString &path) {
    return QFileInfo(path).isSymLink() || QFileInfo::exists(path);
}

// The log's clock, in the log's microseconds.
qint64 MonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

qint64 Micros(const LoggedFrame &frame) {
    return qRound64(frame.time * 1e6);
}

QStringList Kinds(const std::vector<LoggedFrame> &frames) {
    QStringList kinds;
    for (const LoggedFrame &f : frames)
        kinds << f.direction;
    return kinds;
}

} // namespace

class TstSensorSim : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<Simulator> sim_;
    Client client_;

    QString link() const { return dir_.filePath(QStringLiteral("COM4")); }
    QString expectedReadyLine(int address) const {
        return QStringLiteral("sensor-sim: %1 -> %2, address %3")
            .arg(link(), QFile::symLinkTarget(link()))
            .arg(address);
    }
    // A simulator on COM4 with `options`, and a libmodbus master talking to unit 1.
    bool start(const QStringList &options = {}) {
        sim_ = std::make_unique<Simulator>(link(), options);
        const qsizetype baud = options.indexOf(QStringLiteral("--baud"));
        client_ = sim_->isReady()
                      ? Connect(link(), 1, baud < 0 ? 19200 : options.value(baud + 1).toInt())
                      : nullptr;
        return client_ != nullptr;
    }
    modbus_t *ctx() const { return client_.get(); }
    int fd() const { return modbus_get_socket(client_.get()); }
    // The simulator writes a log line just after the event, so a test can be a moment ahead.
    std::vector<LoggedFrame> waitForLog(size_t lines) const {
        QElapsedTimer clock;
        clock.start();
        while (sim_->log().size() < lines && clock.elapsed() < 5000)
            QTest::qSleep(5);
        return sim_->log();
    }

private slots:
    void cleanup() {
        // Every line logged in the test is in the documented format.
        for (const LoggedFrame &frame : sim_ ? sim_->log() : std::vector<LoggedFrame>{})
            QVERIFY2(!frame.direction.isEmpty(), frame.bytes.constData());
        client_.reset();
        sim_.reset();
    }

    void refusesBadArguments_data() {
        QTest::addColumn<QStringList>("args");
        const QString link = dir_.filePath(QStringLiteral("BAD"));
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("--link without a path") << QStringList{"--link"};
        const QList<QStringList> rows = {
            {"--address", "0"}, {"--address", "248"}, {"--address", "7x"},
            {"--baud", "fast"}, {"--frobnicate"},     {"--log"},
            {"--log", ""},      {"--delay", "-5"},    {"--split", "0"},
            {"--gap", "10"},    {"--bad-crc", "x"},   {"--drop", "0"},
            {"--noise", "2:0"}, {"--noise", ":3"},    {"--noise", "2:"},
            {"--seed", "-1"},   {"--wire-time=1"},    {"link", "twice"},
        };
        for (const QStringList &row : rows)
            QTest::newRow(qPrintable(row.join(' '))) << QStringList{"--link", link} + row;
    }
    void refusesBadArguments() {
        QFETCH(QStringList, args);
        const auto [status, errors] = Simulator::runToEnd(args);
        QCOMPARE(status, 2);
        QVERIFY2(errors.contains("usage:"), errors.constData());
        QVERIFY(!Exists(dir_.filePath(QStringLiteral("BAD"))));
    }

    void leavesSomeoneElsesFileAlone() {
        const QString file = dir_.filePath(QStringLiteral("COM5"));
        QFile keep(file);
        QVERIFY(keep.open(QIODevice::WriteOnly) && keep.write("keep me") == 7);
        keep.close();
        const auto [status, errors] = Simulator::runToEnd({"--link", file});
        QCOMPARE(status, 2);
        QVERIFY2(errors.contains("not a symlink"), errors.constData());
        QVERIFY(keep.open(QIODevice::ReadOnly));
        QCOMPARE(keep.readAll(), QByteArray("keep me"));
    }

    void replacesAStaleLinkAndAnnouncesIt() {
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/stale-pty"), link())); // a crash's
        sim_ = std::make_unique<Simulator>(link(), QStringList{"--verbose"});
        QVERIFY(sim_->isReady());
        QVERIFY(QFile::symLinkTarget(link()).startsWith(u"/dev/"));
        QCOMPARE(sim_->readyLine(), expectedReadyLine(1));
    }

    void measurementBlock() {
        QVERIFY(start());
        std::array<std::uint16_t, 16> holding{};
        std::array<std::uint16_t, 16> input{};
        QCOMPARE(modbus_read_registers(ctx(), 0, 16, holding.data()), 16);
        QCOMPARE(modbus_read_input_registers(ctx(), 0, 16, input.data()), 16);
        for (const auto &regs : {holding, input}) {
            QVERIFY(regs[0] >= kMinLux && regs[0] <= kMaxLux);
            QVERIFY(regs[2] >= 2300 && regs[2] <= 2400); // 23.00..24.00 degrees
            QVERIFY((Block{regs[4], regs[5], regs[6]}) == kDefaults);
            for (const std::size_t unused : {1, 3, 7, 8, 9, 10, 11, 12, 13, 14, 15})
                QCOMPARE(regs[unused], 0);
        }
    }

    // A live reading: it must move between requests and stay plausible.
    void liveReading() {
        QVERIFY(start());
        std::set<std::uint16_t> seen;
        for (int i = 0; i < 20; ++i) {
            std::uint16_t lux = 0;
            QCOMPARE(modbus_read_registers(ctx(), 0, 1, &lux), 1);
            QVERIFY(lux >= kMinLux && lux <= kMaxLux);
            seen.insert(lux);
        }
        QVERIFY(seen.size() >= 3);
    }

    void readableRanges_data() {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("readable");
        QTest::newRow("3: 0x0000 x16") << 3 << 0 << 16 << true;
        QTest::newRow("3: 0x0A04 x3") << 3 << 0x0A04 << 3 << true;
        QTest::newRow("3: 0x0B00 x1") << 3 << 0x0B00 << 1 << true;
        QTest::newRow("3: 0x0010 x1") << 3 << 16 << 1 << false;
        QTest::newRow("3: 0x0000 x17") << 3 << 0 << 17 << false;
        QTest::newRow("3: 0x000F x2") << 3 << 15 << 2 << false;
        QTest::newRow("3: 0x0100 x1") << 3 << 0x0100 << 1 << false;
        QTest::newRow("3: 0x0A03 x2") << 3 << 0x0A03 << 2 << false;
        QTest::newRow("3: 0x0A06 x2") << 3 << 0x0A06 << 2 << false;
        QTest::newRow("3: 0x0B01 x1") << 3 << 0x0B01 << 1 << false;
        QTest::newRow("4: 0x0010 x1") << 4 << 16 << 1 << false;
    }
    void readableRanges() {
        QFETCH(int, function);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(bool, readable);
        QVERIFY(this->start());
        std::array<std::uint16_t, 17> regs{};
        errno = 0;
        const int got = function == 3
                            ? modbus_read_registers(ctx(), start, count, regs.data())
                            : modbus_read_input_registers(ctx(), start, count, regs.data());
        QCOMPARE(got, readable ? count : -1);
        QCOMPARE(errno, readable ? 0 : EMBXILADD);
    }

    // Register 0 is the raw reading x coefficient (register 4 / 10000) + offset (register 5).
    // The raw value is not visible, so each row compares with a default reading taken just
    // before; the tolerance covers the sensor noise of both reads.
    void scaling_data() {
        QTest::addColumn<int>("coefficient");
        QTest::addColumn<int>("offset");
        for (const auto &[coefficient, offset] :
             std::initializer_list<std::pair<int, int>>{{2000, 0},
                                                        {10000, 5000},
                                                        {65535, 0},
                                                        {0, 1234},
                                                        {5000, 100},
                                                        {10000, 65535},
                                                        {30000, 64000}})
            QTest::addRow("x%d +%d", coefficient, offset) << coefficient << offset;
    }
    void scaling() {
        QFETCH(int, coefficient);
        QFETCH(int, offset);
        QVERIFY(start());
        std::uint16_t before = 0;
        std::uint16_t scaled = 0;
        const std::array<std::uint16_t, 2> setting{std::uint16_t(coefficient),
                                                   std::uint16_t(offset)};
        QCOMPARE(modbus_read_registers(ctx(), 0, 1, &before), 1);
        QCOMPARE(modbus_write_registers(ctx(), 0x0A04, 2, setting.data()), 2);
        QCOMPARE(modbus_read_registers(ctx(), 0, 1, &scaled), 1);
        const double factor = coefficient / 10000.0;
        const double expected = before * factor + offset;
        const double tolerance = 20.0 * factor + 1.0;
        QVERIFY2(scaled >= std::min(expected - tolerance, 65535.0) &&
                     scaled <= std::min(expected + tolerance, 65535.0),
                 qPrintable(QStringLiteral("read %1, expected %2 from %3")
                                .arg(scaled)
                                .arg(expected)
                                .arg(before)));
    }

    void settings_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("shownAt");
        QTest::newRow("offset 0x0A05 = 1234") << 0x0A05 << 1234 << 5;
        QTest::newRow("coefficient 0x0A04 = 20000") << 0x0A04 << 20000 << 4;
        QTest::newRow("gain 0x0A06 = 8") << 0x0A06 << 8 << 6;
    }
    void settings() {
        QFETCH(int, address);
        QFETCH(int, value);
        QFETCH(int, shownAt);
        QVERIFY(start());
        std::uint16_t holding = 0;
        std::uint16_t input = 0;
        QCOMPARE(modbus_write_register(ctx(), address, std::uint16_t(value)), 1);
        QCOMPARE(modbus_read_registers(ctx(), shownAt, 1, &holding), 1);
        QCOMPARE(modbus_read_input_registers(ctx(), shownAt, 1, &input), 1);
        QCOMPARE(int(holding), value);
        QCOMPARE(int(input), value);
    }

    void allSettingsInOneWrite() {
        QVERIFY(start());
        const Block changed{2000, 7, 3};
        QCOMPARE(modbus_write_registers(ctx(), 0x0A04, 3, changed.data()), 3);
        QVERIFY(ReadBlock(ctx()) == changed);
        QCOMPARE(modbus_write_registers(ctx(), 0x0A04, 3, kDefaults.data()), 3);
        QVERIFY(ReadBlock(ctx()) == kDefaults);
    }

    // Anything but the settings and the unit address is read-only; a write that lands
    // elsewhere (say, straight into the measurement block) must fail visibly.
    void readOnlyRegisters_data() {
        QTest::addColumn<int>("address");
        for (const int address : {0, 4, 0x0A03, 0x0A07})
            QTest::addRow("0x%04X", address) << address;
    }
    void readOnlyRegisters() {
        QFETCH(int, address);
        QVERIFY(start());
        errno = 0;
        QCOMPARE(modbus_write_register(ctx(), address, 42), -1);
        QCOMPARE(errno, EMBXILADD);
        QVERIFY(ReadBlock(ctx()) == kDefaults);
    }

    void readAddressQuery() {
        QVERIFY(start());
        QVERIFY(SendRaw(fd(), kReadAddress));
        const QByteArray reply = Reads(fd(), 1000, 6).join();
        QCOMPARE(reply, Hex("FA 25 01 01 E1 67"));
        QVERIFY(CrcOk(reply));
        QVERIFY(Reads(fd(), 100).isEmpty());    // nothing more, e.g. from libmodbus
        QVERIFY(ReadBlock(ctx()) == kDefaults); // and Modbus traffic carries on
    }

    void addressChange() {
        QVERIFY(start());
        // The echo has to come from unit 1, or libmodbus would reject it.
        QCOMPARE(modbus_write_register(ctx(), 0x0B00, 7), 1);
        modbus_set_response_timeout(ctx(), 0, 300'000);
        std::uint16_t value = 0;
        QCOMPARE(modbus_read_registers(ctx(), 0, 1, &value), -1);
        modbus_set_response_timeout(ctx(), 1, 0);
        // The first request for the new address follows an ignored one: it must be answered.
        modbus_set_slave(ctx(), 7);
        QCOMPARE(modbus_read_registers(ctx(), 0x0B00, 1, &value), 1);
        QCOMPARE(value, 7);
        const QByteArray reply = Exchange(fd(), kReadAddress, 6);
        QCOMPARE(reply, Hex("FA 25 01 07 61 65"));
        QVERIFY(CrcOk(reply));
        // The program closes and opens its port again; the module keeps its new address.
        for (int round = 0; round < 3; ++round) {
            client_.reset();
            client_ = Connect(link(), 7);
            QVERIFY(client_);
            QVERIFY(ReadBlock(ctx()) == kDefaults);
        }
    }

    void outOfRangeAddressIsIgnored_data() {
        QTest::addColumn<int>("address");
        for (const int address : {0, 248, 0xFFFF})
            QTest::addRow("%d", address) << address;
    }
    void outOfRangeAddressIsIgnored() {
        QFETCH(int, address);
        QVERIFY(start());
        std::uint16_t value = 0;
        QCOMPARE(modbus_write_register(ctx(), 0x0B00, std::uint16_t(address)), 1);
        QCOMPARE(modbus_read_registers(ctx(), 0x0B00, 1, &value), 1);
        QCOMPARE(value, 1);
    }

    void survivesGarbage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray noise;
        for (std::uint32_t seed = 12345, i = 0; i < 64; ++i) {
            seed = seed * 1103515245U + 12345U;
            noise.append(char(seed >> 16));
        }
        QTest::newRow("pseudo-random noise") << noise;
        QTest::newRow("request with bad crc") << Hex("07 03 00 00 00 07 04 6F");
        QTest::newRow("header announcing 246 more bytes") << Hex("07 10 00 00 00 7B F6");
        QTest::newRow("request for another unit") << Hex("09 03 00 00 00 07 05 40");
        QTest::newRow("unknown function, other unit") << Hex("09 41 00 91 92");
        QTest::newRow("read-address query plus a byte") << kReadAddress + '\0';
        QTest::newRow("start of a read-address query") << Hex("FA 25 02");
        QTest::newRow("300 bytes of 0xFF") << QByteArray(300, '\xFF');
    }
    void survivesGarbage() {
        QFETCH(QByteArray, bytes);
        QVERIFY(start({"--verbose"}));
        QVERIFY(SendRaw(fd(), bytes));
        // A real module stays silent, and answers again once the line has been quiet.
        QVERIFY(Reads(fd(), 200).isEmpty());
        QVERIFY(ReadBlock(ctx()) == kDefaults);
    }

    void stopsOnSigterm() {
        QVERIFY(start());
        sim_->signal(SIGTERM);
        QCOMPARE(sim_->waitForExit().value_or(-1), 0);
        QVERIFY(!Exists(link()));
    }

    void stopsAtTheEndOfStdin() {
        sim_ = std::make_unique<Simulator>(link(), QStringList{"--address", "9"});
        QCOMPARE(sim_->readyLine(), expectedReadyLine(9));
        QCOMPARE(sim_->finish().value_or(-1), 0);
        QVERIFY(!Exists(link()));
    }

    // Requests and replies are counted from 1, so which ones a fault hits is known up front.
    void dropAndBadCrc_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("errnos"); // per request: 0 for success
        QTest::newRow("--drop 3") << QStringList{"--drop", "3"}
                                  << QList<int>{0, 0, ETIMEDOUT, 0, 0, ETIMEDOUT, 0};
        QTest::newRow("--bad-crc 2")
            << QStringList{"--bad-crc", "2"} << QList<int>{0, EMBBADCRC, 0, EMBBADCRC, 0};
        QTest::newRow("--bad-crc 1")
            << QStringList{"--bad-crc", "1"} << QList<int>{EMBBADCRC, EMBBADCRC};
        // Replies are counted as sent, so 1 ok, 3 bad, 5 ok.
        QTest::newRow("--drop 2 --bad-crc 2") << QStringList{"--drop", "2", "--bad-crc", "2"}
                                              << QList<int>{0, ETIMEDOUT, EMBBADCRC, ETIMEDOUT, 0};
    }
    void dropAndBadCrc() {
        QFETCH(QStringList, options);
        QFETCH(QList<int>, errnos);
        QVERIFY(start(options));
        modbus_set_response_timeout(ctx(), 0, 300'000);
        for (qsizetype i = 0; i < errnos.size(); ++i) {
            std::uint16_t value = 0;
            errno = 0;
            const int got = modbus_read_registers(ctx(), 4, 1, &value);
            const int error = got == 1 ? 0 : errno;
            QVERIFY2(
                got == (errnos[i] == 0 ? 1 : -1) && error == errnos[i],
                qPrintable(
                    QStringLiteral("request %1: %2, errno %3").arg(i + 1).arg(got).arg(error)));
        }
        // rx for each request; drop or tx for each; badcrc before each spoiled tx.
        const auto spoiled = size_t(errnos.count(EMBBADCRC));
        const auto dropped = size_t(errnos.count(ETIMEDOUT));
        const auto lines = waitForLog(size_t(errnos.size()) * 2 + spoiled);
        QCOMPARE(sim_->log(QStringLiteral("badcrc")).size(), spoiled);
        QCOMPARE(sim_->log(QStringLiteral("rx")).size(), size_t(errnos.size()));
        QCOMPARE(sim_->log(QStringLiteral("drop")).size(), dropped);
        QCOMPARE(sim_->log(QStringLiteral("tx")).size(), size_t(errnos.size()) - dropped);
        // A spoiled reply is announced by a badcrc line with the bytes as they should have
        // been, right before the tx line with what went out.
        for (size_t k = 0; k < lines.size(); ++k) {
            if (lines[k].direction != u"tx")
                continue;
            const bool announced = k > 0 && lines[k - 1].direction == u"badcrc";
            QCOMPARE(CrcOk(lines[k].bytes), !announced);
            if (announced) {
                QVERIFY(CrcOk(lines[k - 1].bytes));
                QCOMPARE(lines[k - 1].bytes.size(), lines[k].bytes.size());
            }
        }
    }

    void splitReplies() {
        QVERIFY(start({"--split", "2", "--gap", "40"}));
        QVERIFY(SendRaw(fd(), kReadSettings));
        const QByteArrayList reads = Reads(fd(), 1000, kSettingsReply.size());
        QCOMPARE(reads.join(), kSettingsReply);
        // Six pieces 40 ms apart; landing in one read would take a 200 ms stall of this test.
        QVERIFY(reads.size() > 1);
        QVERIFY(ReadBlock(ctx()) == kDefaults); // libmodbus puts the pieces together
    }

    void noise() {
        QVERIFY(start({"--noise", "2:5"}));
        QCOMPARE(Exchange(fd(), kReadSettings), kSettingsReply);
        const QByteArray noisy = Exchange(fd(), kReadSettings);
        QCOMPARE(Exchange(fd(), kReadSettings), kSettingsReply);
        waitForLog(7);
        const auto noise = sim_->log(QStringLiteral("noise"));
        QCOMPARE(noise.size(), size_t(1));
        QCOMPARE(noise[0].bytes.size(), 5);
        QCOMPARE(noisy, kSettingsReply + noise[0].bytes);
    }

    // Timing is measured in benchmarks; here only lower bounds, which no slow machine breaks.
    void delay() {
        QVERIFY(start({"--delay", "300"}));
        modbus_set_response_timeout(ctx(), 3, 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(ReadBlock(ctx()) == kDefaults);
        QVERIFY(clock.elapsed() >= 300);
        const auto lines = waitForLog(2);
        QCOMPARE(lines.size(), size_t(2));
        QVERIFY(Micros(lines[1]) - Micros(lines[0]) >= 300'000);
    }

    // 1200 baud, 10 bits a byte: 8.3 ms per byte, 37 bytes for all 16 registers.
    void wireTime() {
        QVERIFY(start({"--wire-time", "--baud", "1200"}));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(SendRaw(fd(), WithCrc(Hex("01 03 00 00 00 10"))));
        const QByteArrayList reads = Reads(fd(), 1000, 37);
        QVERIFY(clock.nsecsElapsed() >= 37 * 8'333'000LL);
        QVERIFY(reads.size() > 1);
        QCOMPARE(reads.join().size(), 37);
        QVERIFY(CrcOk(reads.join()));
    }

    void everyFaultAtOnce() {
        QVERIFY(start({"--wire-time", "--baud", "9600", "--delay", "20", "--split", "3", "--gap",
                       "5", "--bad-crc", "2", "--noise", "3:2", "--drop", "4"}));
        QCOMPARE(Exchange(fd(), kReadSettings, 11), kSettingsReply);
        const QByteArray second = Exchange(fd(), kReadSettings, 11);
        QCOMPARE(second.size(), kSettingsReply.size());
        QVERIFY(!CrcOk(second));
        QCOMPARE(Exchange(fd(), kReadSettings, 13).size(), kSettingsReply.size() + 2);
        QVERIFY(Exchange(fd(), kReadSettings).isEmpty());
    }

    // The log is what benchmarks of the program parse: an rx line per request and a tx line
    // per reply, on this machine's monotonic clock, written by the time the reply is read.
    void trafficLog_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply"); // empty: none
        QTest::newRow("read the settings") << kReadSettings << kSettingsReply;
        QTest::newRow("write the gain")
            << WithCrc(Hex("01 06 0A 06 00 01")) << WithCrc(Hex("01 06 0A 06 00 01"));
        QTest::newRow("read-address query") << kReadAddress << Hex("FA 25 01 01 E1 67");
        QTest::newRow("unmapped register")
            << WithCrc(Hex("01 03 00 10 00 01")) << WithCrc(Hex("01 83 02"));
        QTest::newRow("another unit") << WithCrc(Hex("09 03 00 00 00 01")) << QByteArray();
        QTest::newRow("input register")
            << WithCrc(Hex("01 04 00 05 00 01")) << WithCrc(Hex("01 04 02 00 00"));
    }
    void trafficLog() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QVERIFY(start());
        const qint64 sent = MonotonicMicros();
        QCOMPARE(Exchange(fd(), request, reply.isEmpty() ? 4096 : reply.size()), reply);
        const qint64 read = MonotonicMicros();
        // The request's line is out before it is answered; no waiting for it.
        QCOMPARE(sim_->log(QStringLiteral("rx")).size(), size_t(1));

        const auto lines = waitForLog(reply.isEmpty() ? 1 : 2);
        QCOMPARE(lines.size(), size_t(reply.isEmpty() ? 1 : 2));
        QCOMPARE(lines[0].direction, QStringLiteral("rx"));
        QCOMPARE(lines[0].bytes, request);
        QVERIFY(sent <= Micros(lines[0]) && Micros(lines[0]) <= read);
        if (!reply.isEmpty()) {
            QCOMPARE(lines[1].direction, QStringLiteral("tx"));
            QCOMPARE(lines[1].bytes, reply);
            QVERIFY(Micros(lines[0]) <= Micros(lines[1]) && Micros(lines[1]) <= read);
        }
    }

    void unplugAndPlugIn() {
        QVERIFY(start());
        QVERIFY(ReadBlock(ctx()) == kDefaults);

        // SIGUSR1, like a pulled adapter: the open port fails and the device node goes away.
        sim_->unplug();
        pollfd p{fd(), POLLIN, 0};
        QCOMPARE(poll(&p, 1, 5000), 1);
        char sink[16];
        QVERIFY((p.revents & (POLLHUP | POLLERR)) != 0 || read(p.fd, sink, sizeof sink) <= 0);
        QTRY_VERIFY(!Exists(link()));
        std::uint16_t value = 0;
        QCOMPARE(modbus_read_registers(ctx(), 4, 1, &value), -1);

        // SIGUSR2 plugs in again: a new pty under the same link, and a new ready line.
        QVERIFY(sim_->replug());
        QCOMPARE(sim_->readyLine(), expectedReadyLine(1));
        client_.reset();
        client_ = Connect(link(), 1);
        QVERIFY(client_);
        QVERIFY(ReadBlock(ctx()) == kDefaults);
        sim_->signal(SIGUSR2); // already plugged in: no new pty, no new line
        QVERIFY(!sim_->waitForReadyLine(200));
        QVERIFY(Exists(link()));

        // Unplugging twice is harmless, and SIGTERM while unplugged ends it cleanly.
        sim_->unplug();
        QTRY_VERIFY(!Exists(link()));
        sim_->unplug();
        sim_->signal(SIGTERM);
        QCOMPARE(sim_->waitForExit().value_or(-1), 0);
        QVERIFY(!Exists(link()));
        QCOMPARE(Kinds(sim_->log()),
                 QStringList({"rx", "tx", "unplug", "replug", "rx", "tx", "unplug"}));
    }
};

QTEST_GUILESS_MAIN(TstSensorSim)
#include "tst_sensorsim.moc"
