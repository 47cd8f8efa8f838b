// The sensor simulator from outside, the way the program and the benchmarks meet it:
// libmodbus as the master on its linked pty, raw bytes where libmodbus would not send them,
// raw RTU bytes over a loopback TCP connection, its traffic log, its signals and its
// command line.

#include "modbus/frame.h"
#include "ptypair.h"
#include "tests/e2e/simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <set>

#include <modbus.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
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

// The simulator as a serial device server (--tcp 0). Started here rather than through
// Simulator, which always gives it a pty to link.
class TcpSim {
public:
    TcpSim(const QString &logPath, const QStringList &options) : logPath_(logPath) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(SENSOR_SIM_PATH),
                       QStringList{"--tcp", "0", "--log", logPath, "--stdin-eof-exits"} + options);
        QElapsedTimer clock;
        clock.start();
        while (process_.waitForStarted(5000) && !process_.canReadLine() && clock.elapsed() < 5000)
            process_.waitForReadyRead(100);
        // The port after the last colon, an IPv6 address in brackets before it.
        static const QRegularExpression ready(
            QStringLiteral(R"(^sensor-sim: tcp \[?([^\]]+)\]?:(\d+), address \d+\n$)"));
        const auto m = ready.match(QString::fromLocal8Bit(process_.readLine()));
        host_ = m.captured(1);
        port_ = m.captured(2);
    }
    ~TcpSim() {
        process_.closeWriteChannel(); // --stdin-eof-exits
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }
    TcpSim(const TcpSim &) = delete;
    TcpSim &operator=(const TcpSim &) = delete;

    // A new client at the address of the ready line; an fd of -1 when none.
    pty::Fd connect() const {
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        if (port_.isEmpty() || getaddrinfo(qPrintable(host_), qPrintable(port_), &hints, &found))
            return pty::Fd();
        pty::Fd fd(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
        if (fd.Get() >= 0 && ::connect(fd.Get(), found->ai_addr, found->ai_addrlen) != 0)
            fd = pty::Fd();
        freeaddrinfo(found);
        return fd;
    }
    void signal(int signo) { ::kill(pid_t(process_.processId()), signo); }
    // The kinds in the traffic log, once there are `count` of them (or after 5 s).
    QStringList kinds(qsizetype count) const {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            QStringList kinds;
            QFile file(logPath_);
            if (file.open(QIODevice::ReadOnly))
                for (const QByteArray &line : file.readAll().split('\n'))
                    if (!line.isEmpty())
                        kinds << QString::fromLatin1(line.split(' ').value(1));
            if (kinds.size() >= count || clock.elapsed() >= 5000)
                return kinds;
            QTest::qSleep(5);
        }
    }

private:
    QProcess process_;
    QString logPath_;
    QString host_;
    QString port_;
};

// True when the other end has closed the connection: end of file within `timeoutMs`.
bool ClosedByPeer(int fd, int timeoutMs = 5000) {
    pollfd p{fd, POLLIN, 0};
    char sink[16];
    return poll(&p, 1, timeoutMs) == 1 && read(fd, sink, sizeof sink) == 0;
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

    // Replies that collided: bytes that are no frame, each reply that went into them logged
    // as collide, whole, just before the tx of what went out.
    void checkCollision(const QByteArray &reply) const {
        QVERIFY(!reply.isEmpty());
        QVERIFY2(!CrcOk(reply), reply.toHex(' ').constData());
        const auto lines = sim_->log();
        auto tx = std::find_if(lines.rbegin(), lines.rend(),
                               [](const LoggedFrame &f) { return f.direction == u"tx"; });
        QVERIFY(tx != lines.rend());
        QCOMPARE(tx->bytes, reply);
        int collided = 0;
        for (auto line = tx + 1; line != lines.rend() && line->direction == u"collide"; ++line) {
            QVERIFY(CrcOk(line->bytes));
            ++collided;
        }
        QVERIFY(collided >= 2);
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
            {"--address", "0"},
            {"--address", "248"},
            {"--address", "7x"},
            {"--baud", "fast"},
            {"--frobnicate"},
            {"--log"},
            {"--log", ""},
            {"--delay", "-5"},
            {"--split", "0"},
            {"--gap", "10"},
            {"--bad-crc", "x"},
            {"--drop", "0"},
            {"--noise", "2:0"},
            {"--noise", ":3"},
            {"--noise", "2:"},
            {"--seed", "-1"},
            {"--wire-time=1"},
            {"link", "twice"},
            {"--tcp", "0"},
            {"--tcp-host", "::1"},
            {"--sensitivity", "0"},
            {"--sensitivity", "nan"},
            {"--light", "-1"},
            {"--light", "65536"},
            {"--light-noise", "-1"},
            {"--module", "0"},
            {"--module", "3:"},
            {"--module", "3:gain=2"},
            {"--module", "3:sensitivity=20"},
            {"--module", "3,5"},
            {"--address", "3", "--module", "4"},
        };
        for (const QStringList &row : rows)
            QTest::newRow(qPrintable(row.join(' '))) << QStringList{"--link", link} + row;
        QTest::newRow("--tcp 65536") << QStringList{"--tcp", "65536"};
        QTest::newRow("--tcp-host by name") << QStringList{"--tcp", "0", "--tcp-host", "localhost"};
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

    // Calibrating against a reference: a steady light seen by a sensor whose gain is off,
    // which the coefficient written at 0x0A04 (function 6, or 16 with offset and gain) puts
    // right, unless the module takes no settings. A write is acknowledged as usual either way.
    void calibration_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("write"); // at 0x0A04; one value by function 6, else 16
        QTest::addColumn<int>("low");          // every reading of register 0 in low..high
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("coefficient"); // register 4 afterwards
        const QStringList low5{"--light", "1000", "--sensitivity", "0.95"};
        const QStringList readOnly = low5 + QStringList{"--read-only-params"};
        QTest::newRow("5 % low, coefficient 1") << low5 << QList<int>{} << 950 << 950 << 10000;
        QTest::newRow("5 % low, coefficient 1.0526")
            << low5 << QList<int>{10526} << 1000 << 1000 << 10526;
        QTest::newRow("5 % low, coefficient 1.0526 and offset 7 at once")
            << low5 << QList<int>{10526, 7, 1} << 1007 << 1007 << 10526;
        QTest::newRow("read-only, function 6")
            << readOnly << QList<int>{10526} << 950 << 950 << 10000;
        QTest::newRow("read-only, function 16")
            << readOnly << QList<int>{10526, 7, 1} << 950 << 950 << 10000;
        QTest::newRow("held at 65535") << QStringList{"--light", "65535", "--sensitivity", "10"}
                                       << QList<int>{} << 65535 << 65535 << 10000;
        QTest::newRow("with noise") << QStringList{"--light", "1000", "--light-noise", "5"}
                                    << QList<int>{} << 995 << 1005 << 10000;
    }
    void calibration() {
        QFETCH(QStringList, options);
        QFETCH(QList<int>, write);
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(int, coefficient);
        QVERIFY(start(options));
        std::vector<std::uint16_t> values(write.begin(), write.end());
        if (values.size() == 1)
            QCOMPARE(modbus_write_register(ctx(), 0x0A04, values[0]), 1);
        else if (!values.empty())
            QCOMPARE(modbus_write_registers(ctx(), 0x0A04, int(values.size()), values.data()),
                     int(values.size()));
        std::set<std::uint16_t> seen;
        for (int i = 0; i < 10; ++i) {
            std::uint16_t lux = 0;
            QCOMPARE(modbus_read_registers(ctx(), 0, 1, &lux), 1);
            QVERIFY2(lux >= low && lux <= high, qPrintable(QString::number(lux)));
            seen.insert(lux);
        }
        QCOMPARE(seen.size() > 1, low != high); // steady unless asked for noise
        std::uint16_t shown = 0;
        std::uint16_t setting = 0;
        QCOMPARE(modbus_read_registers(ctx(), 4, 1, &shown), 1);
        QCOMPARE(modbus_read_registers(ctx(), 0x0A04, 1, &setting), 1);
        QCOMPARE(int(shown), coefficient);
        QCOMPARE(int(setting), coefficient);
        if (!values.empty()) { // the echo, or the address and count, as for any write
            const QByteArray request = sim_->log(QStringLiteral("rx")).front().bytes;
            const QByteArray reply = sim_->log(QStringLiteral("tx")).front().bytes;
            QCOMPARE(reply, values.size() == 1 ? request : WithCrc(request.first(6)));
        }
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

    // A line of modules under one light: each answers at its own address with its own gain,
    // two at one address collide, and commands on stdin change the line while it runs.
    // `expected` says per address what a read of register 0 gets: the value, "silent" or
    // "collide"; at 250 the read-address query, answered with the module's address.
    void line_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArrayList>("commands");
        QTest::addColumn<QString>("announced"); // how the ready line ends
        QTest::addColumn<QString>("expected");
        const QStringList light{"--light", "1000"};
        const QStringList three =
            light + QStringList{"--module", "3:sensitivity=0.9", "--module",
                                "5",        "--module",          "7:sensitivity=1.1"};
        QTest::newRow("three modules, each its own gain")
            << three << QByteArrayList{} << "addresses 3,5,7"
            << "3=900 5=1000 7=1100 1=silent 250=collide";
        QTest::newRow("one module answers the read-address query")
            << light + QStringList{"--module", "12:noise=0"} << QByteArrayList{} << "address 12"
            << "12=1000 250=12";
        QTest::newRow("two at one address collide, the third answers")
            << light + QStringList{"--module", "9", "--module", "9", "--module", "4:sensitivity=2"}
            << QByteArrayList{} << "addresses 9,9,4"
            << "9=collide 4=2000";
        QTest::newRow("added at the factory address")
            << light + QStringList{"--module", "5"} << QByteArrayList{"add"} << "address 5"
            << "1=1000 5=1000";
        QTest::newRow("added with its own gain")
            << light + QStringList{"--module", "5"} << QByteArrayList{"add 1:sensitivity=1.05"}
            << "address 5"
            << "1=1050 5=1000 250=collide";
        QTest::newRow("added at an address taken")
            << light + QStringList{"--module", "5"} << QByteArrayList{"add 5"} << "address 5"
            << "5=collide";
        QTest::newRow("pulled, silent")
            << three << QByteArrayList{"pull 3", "pull 7"} << "addresses 3,5,7"
            << "3=silent 5=1000 7=silent 250=5";
        QTest::newRow("light changes every module")
            << three << QByteArrayList{"light 2000"} << "addresses 3,5,7"
            << "3=1800 5=2000 7=2200";
        QTest::newRow("the day, then a steady light without noise")
            << QStringList{"--module", "3:sensitivity=0.5"} << QByteArrayList{"light 600"}
            << "address 3"
            << "3=300";
        QTest::newRow("bad commands change nothing")
            << light + QStringList{"--module", "5"}
            << QByteArrayList{"bogus",        "add 0",
                              "add 1:gain=2", "add 1 2",
                              "pull 9",       "pull",
                              "light -1",     "light",
                              "light nan",    QByteArray(300, 'a'),
                              "\x01\xFF",     "  "}
            << "address 5"
            << "5=1000 1=silent";
    }
    void line() {
        QFETCH(QStringList, options);
        QFETCH(QByteArrayList, commands);
        QFETCH(QString, announced);
        QFETCH(QString, expected);
        QVERIFY(start(options));
        QVERIFY2(sim_->readyLine().endsWith(", " + announced), qPrintable(sim_->readyLine()));
        for (const QByteArray &command : commands)
            QVERIFY(sim_->command(command));
        for (const QString &item : expected.split(' ')) {
            const int address = item.section('=', 0, 0).toInt();
            const QString want = item.section('=', 1);
            if (want == u"silent" || want == u"collide" || address == 250) {
                const QByteArray request =
                    address == 250 ? kReadAddress
                                   : WithCrc(QByteArray(1, char(address)) + Hex("03 00 00 00 01"));
                const QByteArray reply = Exchange(fd(), request);
                if (want == u"silent")
                    QVERIFY2(reply.isEmpty(), qPrintable(item + ": " + reply.toHex(' ')));
                else if (want != u"collide")
                    QCOMPARE(reply, WithCrc(Hex("FA 25 01") + char(want.toInt())));
                else
                    checkCollision(reply);
                continue;
            }
            std::uint16_t lux = 0;
            modbus_set_slave(ctx(), address);
            QVERIFY2(modbus_read_registers(ctx(), 0, 1, &lux) == 1, qPrintable(item));
            QCOMPARE(int(lux), want.toInt());
        }
    }

    // The addressing assistant's round: the module at the factory address is given the next
    // free one, then the next module is connected there. Each keeps the address it was given.
    void addressingOneByOne() {
        QVERIFY(start());
        for (int next = 2; next <= 4; ++next) {
            modbus_set_slave(ctx(), 1);
            QCOMPARE(modbus_write_register(ctx(), 0x0B00, std::uint16_t(next)), 1);
            QVERIFY(sim_->command("add"));
        }
        for (int address = 1; address <= 4; ++address) {
            std::uint16_t value = 0;
            modbus_set_slave(ctx(), address);
            QCOMPARE(modbus_read_registers(ctx(), 0x0B00, 1, &value), 1);
            QCOMPARE(int(value), address);
        }
        checkCollision(Exchange(fd(), kReadAddress));
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

    // Over TCP the line is the same, less the rate: the raw RTU bytes both ways, the fault
    // options as on a pty. The expected replies carry CRCs from the program's codec.
    void overTcp_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("pieces"); // at least this many reads
        QByteArray spoiled = kSettingsReply;
        spoiled.back() = char(spoiled.back() ^ 0xFF);
        QTest::newRow("one-shot read") << QStringList{} << kSettingsReply << 1;
        QTest::newRow("at ::1") << QStringList{"--tcp-host", "::1"} << kSettingsReply << 1;
        QTest::newRow("--echo: the copy first")
            << QStringList{"--echo"} << kReadSettings + kSettingsReply << 1;
        QTest::newRow("--split 2 --gap 40")
            << QStringList{"--split", "2", "--gap", "40"} << kSettingsReply << 2;
        QTest::newRow("--bad-crc 1") << QStringList{"--bad-crc", "1"} << spoiled << 1;
        QTest::newRow("--drop 1") << QStringList{"--drop", "1"} << QByteArray() << 0;
        QTest::newRow("--baud 1200: no rate to be wrong")
            << QStringList{"--baud", "1200", "--noise-at-wrong-rate"} << kSettingsReply << 1;
    }
    void overTcp() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, expected);
        QFETCH(int, pieces);
        if (options.contains(QStringLiteral("::1"))) {
            const pty::Fd probe(socket(AF_INET6, SOCK_STREAM, 0));
            sockaddr_in6 loopback{};
            loopback.sin6_family = AF_INET6;
            loopback.sin6_addr = in6addr_loopback;
            if (bind(probe.Get(), reinterpret_cast<sockaddr *>(&loopback), sizeof loopback) != 0)
                QSKIP("no IPv6 loopback here");
        }
        TcpSim sim(dir_.filePath(QStringLiteral("tcp.log")), options);
        const pty::Fd client = sim.connect();
        QVERIFY(client.Get() >= 0);
        QVERIFY(SendRaw(client.Get(), kReadSettings));
        const QByteArrayList reads =
            Reads(client.Get(), 300, expected.isEmpty() ? 4096 : expected.size());
        QCOMPARE(reads.join(), expected);
        QVERIFY(reads.size() >= pieces);
    }

    // One client at a time; when it goes, however it goes, the next one is served at once.
    void tcpNextClient_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("logged");
        QTest::newRow("closed by the client") << "close"
                                              << "disconnect";
        QTest::newRow("reset by the client") << "reset"
                                             << "disconnect";
        QTest::newRow("dropped on SIGUSR1") << "SIGUSR1"
                                            << "unplug";
    }
    void tcpNextClient() {
        QFETCH(QString, how);
        QFETCH(QString, logged);
        TcpSim sim(dir_.filePath(QStringLiteral("tcp.log")), {});
        pty::Fd first = sim.connect();
        QCOMPARE(Exchange(first.Get(), kReadSettings, kSettingsReply.size()), kSettingsReply);
        if (how == u"SIGUSR1") {
            sim.signal(SIGUSR1);
            QVERIFY(ClosedByPeer(first.Get())); // as a lost network: the connection closes
        } else if (how == u"reset") {
            const linger now{1, 0};
            QCOMPARE(setsockopt(first.Get(), SOL_SOCKET, SO_LINGER, &now, sizeof now), 0);
        }
        first = pty::Fd();
        const pty::Fd second = sim.connect();
        QCOMPARE(Exchange(second.Get(), kReadSettings, kSettingsReply.size()), kSettingsReply);
        QCOMPARE(sim.kinds(7), QStringList({"connect", "rx", "tx", logged, "connect", "rx", "tx"}));
    }

    void tcpSecondClientRefused() {
        TcpSim sim(dir_.filePath(QStringLiteral("tcp.log")), {});
        const pty::Fd first = sim.connect();
        QCOMPARE(Exchange(first.Get(), kReadSettings, kSettingsReply.size()), kSettingsReply);
        const pty::Fd second = sim.connect();
        QVERIFY(second.Get() >= 0);
        QVERIFY(ClosedByPeer(second.Get()));
        QCOMPARE(Exchange(first.Get(), kReadSettings, kSettingsReply.size()), kSettingsReply);
        QCOMPARE(sim.kinds(6), QStringList({"connect", "rx", "tx", "refused", "rx", "tx"}));
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
