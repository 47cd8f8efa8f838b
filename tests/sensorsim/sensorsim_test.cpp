// End-to-end test of sensor-sim: talks to it through its symlinked pty with libmodbus as the
// master, the way the companion program will.
//
// usage: sensorsim-test PATH-TO-SENSOR-SIM

#include "check.hpp"
#include "sim_process.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Block = std::array<std::uint16_t, 3>; // registers 4..6: coefficient, offset, gain
namespace fs = std::filesystem;

namespace {

constexpr auto processTimeout = 5s;
const Block defaults{10000, 0, 1};
const Bytes readAddressQuery{0xFA, 0x25, 0x02, 0x00, 0x00, 0x01, 0x99, 0xFE};

struct ModbusDeleter {
    void operator()(modbus_t *ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Client = std::unique_ptr<modbus_t, ModbusDeleter>;

Client connectClient(const std::string &port, int unit) {
    Client client(modbus_new_rtu(port.c_str(), 19200, 'N', 8, 1));
    if (!CHECK(client && modbus_set_slave(client.get(), unit) == 0 &&
               modbus_set_response_timeout(client.get(), 1, 0) == 0 &&
               modbus_connect(client.get()) == 0)) {
        return nullptr;
    }
    return client;
}

std::string hex(int value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%04X", value);
    return text.data();
}

bool exists(const std::string &path) {
    return fs::exists(fs::symlink_status(path));
}

std::string linkTarget(const std::string &path) {
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

std::string fileText(const std::string &path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Written out here rather than shared with the simulator, so a wrong CRC there shows.
std::uint16_t crc16(const Bytes &bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 1U) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        }
    }
    return crc;
}

Bytes withCrc(Bytes frame) {
    const std::uint16_t crc = crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

bool crcOk(const Bytes &frame) {
    return frame.size() >= 4 && withCrc({frame.begin(), frame.end() - 2}) == frame;
}

// The clock the simulator stamps its log with, in the same microseconds.
long long monotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
}

// Each read() on its own, to see how a reply was cut up on its way: until the line has been
// quiet for `quiet`, or `limit` bytes came.
std::vector<Bytes> collectReads(int fd, std::chrono::milliseconds quiet, std::size_t limit = 4096) {
    std::vector<Bytes> reads;
    std::size_t got = 0;
    std::array<std::uint8_t, 256> chunk{};
    pollfd p{fd, POLLIN, 0};
    while (got < limit && poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        reads.emplace_back(chunk.begin(), chunk.begin() + n);
        got += static_cast<std::size_t>(n);
    }
    return reads;
}

Bytes joined(const std::vector<Bytes> &parts) {
    Bytes all;
    for (const Bytes &part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes collect(int fd, std::chrono::milliseconds quiet, std::size_t limit = 4096) {
    return joined(collectReads(fd, quiet, limit));
}

bool sendRaw(int fd, const Bytes &bytes) {
    tcflush(fd, TCIFLUSH);
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

Block readBlock(modbus_t *ctx) {
    Block block{};
    CHECK_EQ(modbus_read_registers(ctx, 4, 3, block.data()), 3);
    return block;
}

struct LogLine {
    long long micros = 0;
    std::string kind;
    Bytes bytes;
};

// Every line must match the documented format; a line that doesn't fails the check and
// is left out.
std::vector<LogLine> parseLog(const std::string &path) {
    static const std::regex format(R"(^(\d+)\.(\d{6}) ([a-z]+)((?: [0-9A-F]{2})*)$)");
    std::vector<LogLine> lines;
    std::istringstream in(fileText(path));
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (!CHECK(std::regex_match(text, m, format))) {
            std::fprintf(stderr, "  log line: %s\n", text.c_str());
            continue;
        }
        LogLine line;
        line.micros = std::stoll(m[1]) * 1'000'000 + std::stoll(m[2]);
        line.kind = m[3];
        std::istringstream hexBytes(m[4]);
        for (unsigned byte = 0; hexBytes >> std::hex >> byte;) {
            line.bytes.push_back(static_cast<std::uint8_t>(byte));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<LogLine> ofKind(const std::vector<LogLine> &lines, const std::string &kind) {
    std::vector<LogLine> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [&kind](const LogLine &l) { return l.kind == kind; });
    return out;
}

// The simulator writes a log line just after the event, so a test can be a moment ahead.
std::vector<LogLine> waitForLog(const std::string &path, std::size_t count) {
    const auto lineCount = [&path] {
        const std::string text = fileText(path);
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    const auto deadline = Clock::now() + processTimeout;
    while (lineCount() < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    return parseLog(path);
}

// A simulator for one scenario, with its ready line read and checked.
struct Sim {
    std::string link;
    std::unique_ptr<SimProcess> process;
    bool ready = false;
};

Sim startSim(const std::string &exe, const std::string &link, std::vector<std::string> extra) {
    std::vector<std::string> args{"--link", link, "--stdin-eof-exits"};
    args.insert(args.end(), extra.begin(), extra.end());
    Sim sim{link, std::make_unique<SimProcess>(exe, args)};
    const auto line = sim.process->readLine(processTimeout);
    sim.ready = CHECK(line == "sensor-sim: " + link + " -> " + linkTarget(link) + ", address 1");
    return sim;
}

const Bytes readSettings = withCrc({0x01, 0x03, 0x00, 0x04, 0x00, 0x03});
const Bytes settingsReply = withCrc({0x01, 0x03, 0x06, 0x27, 0x10, 0x00, 0x00, 0x00, 0x01});

// Sends `request` raw and returns everything up to `expected` bytes or a quiet spell.
Bytes exchange(int fd, const Bytes &request, std::size_t expected = 4096) {
    CHECK(sendRaw(fd, request));
    return collect(fd, 300ms, expected);
}

void testRejectsBadArguments(const std::string &exe, const std::string &dir) {
    const std::string link = dir + "/BAD";
    const std::string log = dir + "/stderr.txt";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--link"},
        {"--link", link, "--address", "0"},
        {"--link", link, "--address", "248"},
        {"--link", link, "--address", "7x"},
        {"--link", link, "--baud", "fast"},
        {"--link", link, "--frobnicate"},
        {"--link", link, "--log"},
        {"--link", link, "--log", ""},
        {"--link", link, "--delay", "-5"},
        {"--link", link, "--split", "0"},
        {"--link", link, "--gap", "10"}, // without --split
        {"--link", link, "--bad-crc", "x"},
        {"--link", link, "--drop", "0"},
        {"--link", link, "--noise", "2:0"},
        {"--link", link, "--noise", ":3"},
        {"--link", link, "--noise", "2:"},
        {"--link", link, "--seed", "-1"},
        {"--link", link, "--wire-time=1"},
    };
    for (const auto &args : cases) {
        std::string label = "bad arguments:";
        for (const auto &a : args) {
            label += " " + a;
        }
        check::Scope scope(label);
        SimProcess sim(exe, args, log);
        CHECK_EQ(sim.waitExit(processTimeout).value_or(-1), 2);
        CHECK(fileText(log).find("usage:") != std::string::npos);
        CHECK(!exists(link));
    }

    check::Scope scope("link path is a regular file");
    const std::string file = dir + "/COM5";
    std::ofstream(file) << "keep me";
    SimProcess sim(exe, {"--link", file}, log);
    CHECK_EQ(sim.waitExit(processTimeout).value_or(-1), 2);
    CHECK(fileText(log).find("not a symlink") != std::string::npos);
    CHECK(fileText(file) == "keep me");
}

// The simulated room: 300..800 lx, plus a few lx of noise.
constexpr int minLux = 290;
constexpr int maxLux = 810;

void testMeasurementBlock(modbus_t *ctx) {
    check::Scope scope("measurement block");
    std::array<std::uint16_t, 16> holding{};
    std::array<std::uint16_t, 16> input{};
    if (!CHECK_EQ(modbus_read_registers(ctx, 0, 16, holding.data()), 16) ||
        !CHECK_EQ(modbus_read_input_registers(ctx, 0, 16, input.data()), 16)) {
        return;
    }
    for (const auto &regs : {holding, input}) {
        CHECK(regs[0] >= minLux && regs[0] <= maxLux);
        CHECK(regs[2] >= 2300 && regs[2] <= 2400); // 23.00..24.00 degrees
        CHECK((std::array{regs[4], regs[5], regs[6]}) == defaults);
        for (const int unused : {1, 3, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
            CHECK_EQ(regs[static_cast<std::size_t>(unused)], 0);
        }
    }
    // A live reading: it must move between requests and stay plausible.
    std::set<std::uint16_t> seen;
    for (int i = 0; i < 20; ++i) {
        std::uint16_t lux = 0;
        CHECK_EQ(modbus_read_registers(ctx, 0, 1, &lux), 1);
        CHECK(lux >= minLux && lux <= maxLux);
        seen.insert(lux);
    }
    CHECK(seen.size() >= 3);

    struct Range {
        int start;
        int count;
        bool readable;
    };
    for (const Range &r :
         {Range{0, 16, true}, Range{0x0A04, 3, true}, Range{0x0B00, 1, true}, Range{16, 1, false},
          Range{0, 17, false}, Range{15, 2, false}, Range{0x0100, 1, false},
          Range{0x0A03, 2, false}, Range{0x0A06, 2, false}, Range{0x0B01, 1, false}}) {
        check::Scope row("read " + hex(r.start) + " x" + std::to_string(r.count));
        std::array<std::uint16_t, 17> regs{};
        const int got = modbus_read_registers(ctx, r.start, r.count, regs.data());
        if (r.readable) {
            CHECK_EQ(got, r.count);
        } else {
            CHECK_EQ(got, -1);
            CHECK_EQ(errno, EMBXILADD);
        }
    }
    std::uint16_t value = 0;
    CHECK_EQ(modbus_read_input_registers(ctx, 16, 1, &value), -1);
}

// Register 0 is the raw reading x coefficient (register 4 / 10000) + offset (register 5).
// The raw value is not visible, so each row compares with a default reading taken just
// before; the tolerance covers the sensor noise of both reads.
void testScaling(modbus_t *ctx) {
    struct Case {
        std::uint16_t coefficient;
        std::uint16_t offset;
    };
    for (const Case &c : {Case{2000, 0}, Case{10000, 5000}, Case{65535, 0}, Case{0, 1234},
                          Case{5000, 100}, Case{10000, 65535}, Case{30000, 64000}}) {
        check::Scope scope("scaling x" + std::to_string(c.coefficient) + " +" +
                           std::to_string(c.offset));
        std::uint16_t before = 0;
        std::uint16_t scaled = 0;
        const std::array<std::uint16_t, 2> setting{c.coefficient, c.offset};
        CHECK_EQ(modbus_write_registers(ctx, 0x0A04, 3, defaults.data()), 3);
        CHECK_EQ(modbus_read_registers(ctx, 0, 1, &before), 1);
        CHECK_EQ(modbus_write_registers(ctx, 0x0A04, 2, setting.data()), 2);
        CHECK_EQ(modbus_read_registers(ctx, 0, 1, &scaled), 1);
        const double factor = c.coefficient / 10000.0;
        const double expected = before * factor + c.offset;
        const double tolerance = 20.0 * factor + 1.0;
        const double low = std::min(expected - tolerance, 65535.0);
        const double high = std::min(expected + tolerance, 65535.0);
        if (!CHECK(scaled >= low && scaled <= high)) {
            std::fprintf(stderr, "  read %u, expected %.1f from %u\n", scaled, expected, before);
        }
    }
    CHECK_EQ(modbus_write_registers(ctx, 0x0A04, 3, defaults.data()), 3);
}

void testSettings(modbus_t *ctx) {
    struct Case {
        int address;
        std::uint16_t value;
        int shownAt;
    };
    for (const Case &c : {Case{0x0A05, 1234, 5}, Case{0x0A04, 20000, 4}, Case{0x0A06, 8, 6}}) {
        check::Scope scope("setting " + hex(c.address) + " = " + std::to_string(c.value));
        std::uint16_t holding = 0;
        std::uint16_t input = 0;
        CHECK_EQ(modbus_write_register(ctx, c.address, c.value), 1);
        CHECK_EQ(modbus_read_registers(ctx, c.shownAt, 1, &holding), 1);
        CHECK_EQ(modbus_read_input_registers(ctx, c.shownAt, 1, &input), 1);
        CHECK_EQ(holding, c.value);
        CHECK_EQ(input, c.value);
    }

    check::Scope scope("settings: restore all three in one write");
    CHECK_EQ(modbus_write_registers(ctx, 0x0A04, 3, defaults.data()), 3);
    CHECK(readBlock(ctx) == defaults);

    // Anything but the settings and the unit address is read-only; a write that lands
    // elsewhere (say, straight into the measurement block) must fail visibly.
    for (const int address : {0, 4, 0x0A03, 0x0A07}) {
        check::Scope row("read-only " + hex(address));
        CHECK_EQ(modbus_write_register(ctx, address, 42), -1);
        CHECK_EQ(errno, EMBXILADD);
    }
    CHECK(readBlock(ctx) == defaults);
}

void testReadAddressQuery(modbus_t *ctx, const Bytes &expected) {
    check::Scope scope("read-address query answered by unit " + std::to_string(expected[3]));
    const int fd = modbus_get_socket(ctx);
    CHECK(sendRaw(fd, readAddressQuery));
    CHECK(collect(fd, 1000ms, expected.size()) == expected);
    CHECK(collect(fd, 100ms).empty()); // nothing more, e.g. from libmodbus
    CHECK(readBlock(ctx) == defaults); // and Modbus traffic carries on
}

void testAddressChange(modbus_t *ctx) {
    {
        check::Scope scope("unit address 1 -> 7");
        // The echo has to come from unit 1, or libmodbus would reject it.
        CHECK_EQ(modbus_write_register(ctx, 0x0B00, 7), 1);
        modbus_set_response_timeout(ctx, 0, 300'000);
        std::uint16_t value = 0;
        CHECK_EQ(modbus_read_registers(ctx, 0, 1, &value), -1);
        modbus_set_response_timeout(ctx, 1, 0);
        // The first request for the new address follows an ignored one: it must be answered.
        modbus_set_slave(ctx, 7);
        CHECK_EQ(modbus_read_registers(ctx, 0x0B00, 1, &value), 1);
        CHECK_EQ(value, 7);
    }
    testReadAddressQuery(ctx, {0xFA, 0x25, 0x01, 0x07, 0x61, 0x65});

    for (const int bad : {0, 248, 0xFFFF}) {
        check::Scope scope("out-of-range unit address " + std::to_string(bad));
        std::uint16_t value = 0;
        CHECK_EQ(modbus_write_register(ctx, 0x0B00, static_cast<std::uint16_t>(bad)), 1);
        CHECK_EQ(modbus_read_registers(ctx, 0x0B00, 1, &value), 1);
        CHECK_EQ(value, 7);
    }
}

void testSurvivesGarbage(modbus_t *ctx) {
    Bytes noise;
    for (std::uint32_t seed = 12345, i = 0; i < 64; ++i) {
        seed = seed * 1103515245U + 12345U;
        noise.push_back(static_cast<std::uint8_t>(seed >> 16));
    }
    Bytes queryPlusByte = readAddressQuery;
    queryPlusByte.push_back(0x00);

    struct Case {
        const char *name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"pseudo-random noise", noise},
        {"request with bad crc", {0x07, 0x03, 0x00, 0x00, 0x00, 0x07, 0x04, 0x6F}},
        {"header announcing 246 more bytes", {0x07, 0x10, 0x00, 0x00, 0x00, 0x7B, 0xF6}},
        {"request for another unit", {0x09, 0x03, 0x00, 0x00, 0x00, 0x07, 0x05, 0x40}},
        {"unknown function, other unit", {0x09, 0x41, 0x00, 0x91, 0x92}},
        {"read-address query plus a byte", queryPlusByte},
        {"start of a read-address query", {0xFA, 0x25, 0x02}},
        {"300 bytes of 0xFF", Bytes(300, 0xFF)},
    };
    const int fd = modbus_get_socket(ctx);
    for (const Case &c : cases) {
        check::Scope scope(std::string("garbage: ") + c.name);
        CHECK(sendRaw(fd, c.bytes));
        // A real module stays silent, and answers again once the line has been quiet.
        CHECK(collect(fd, 200ms).empty());
        CHECK(readBlock(ctx) == defaults);
    }
}

void runMainScenario(const std::string &exe, const std::string &dir) {
    const std::string link = dir + "/COM4";
    fs::create_symlink("/nonexistent/stale-pty", link); // a crashed run's leftover

    // --stdin-eof-exits: should this test die, the simulator goes with it.
    SimProcess sim(exe, {"--link", link, "--verbose", "--stdin-eof-exits"});
    const auto line = sim.readLine(processTimeout);
    if (!CHECK(line.has_value())) {
        return;
    }
    const std::string pts = linkTarget(link);
    CHECK(pts.starts_with("/dev/"));
    CHECK(*line == "sensor-sim: " + link + " -> " + pts + ", address 1");

    if (const Client client = connectClient(link, 1)) {
        testMeasurementBlock(client.get());
        testScaling(client.get());
        testSettings(client.get());
        testReadAddressQuery(client.get(), {0xFA, 0x25, 0x01, 0x01, 0xE1, 0x67});
        testAddressChange(client.get());
        testSurvivesGarbage(client.get());
    }
    for (int round = 0; round < 3; ++round) {
        check::Scope scope("reopen " + std::to_string(round));
        if (const Client client = connectClient(link, 7)) {
            CHECK(readBlock(client.get()) == defaults);
        }
    }

    check::Scope scope("SIGTERM");
    CHECK_EQ(kill(sim.pid(), SIGTERM), 0);
    CHECK_EQ(sim.waitExit(processTimeout).value_or(-1), 0);
    CHECK(!exists(link));
}

void testStdinEofExits(const std::string &exe, const std::string &dir) {
    check::Scope scope("--stdin-eof-exits");
    const std::string link = dir + "/COM9";
    SimProcess sim(exe, {"--link", link, "--address", "9", "--stdin-eof-exits"});
    const auto line = sim.readLine(processTimeout);
    CHECK(line == "sensor-sim: " + link + " -> " + linkTarget(link) + ", address 9");
    sim.closeStdin();
    CHECK_EQ(sim.waitExit(processTimeout).value_or(-1), 0);
    CHECK(!exists(link));
}

// Requests and replies are counted from 1, so which ones a fault hits is known up front.
void testDropAndBadCrc(const std::string &exe, const std::string &dir) {
    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::vector<int> errnos; // per request: 0 for success
    };
    const Case cases[] = {
        {"--drop 3", {"--drop", "3"}, {0, 0, ETIMEDOUT, 0, 0, ETIMEDOUT, 0}},
        {"--bad-crc 2", {"--bad-crc", "2"}, {0, EMBBADCRC, 0, EMBBADCRC, 0}},
        {"--bad-crc 1", {"--bad-crc", "1"}, {EMBBADCRC, EMBBADCRC}},
        {"--drop 2 --bad-crc 2", // replies are counted as sent, so 1 ok, 3 bad, 5 ok
         {"--drop", "2", "--bad-crc", "2"},
         {0, ETIMEDOUT, EMBBADCRC, ETIMEDOUT, 0}},
    };
    for (const Case &c : cases) {
        check::Scope scope(c.name);
        const std::string log = dir + "/faults.log";
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--log", log});
        Sim sim = startSim(exe, dir + "/COM2", args);
        const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr;
        if (!client) {
            continue;
        }
        modbus_set_response_timeout(client.get(), 0, 300'000);
        int dropped = 0;
        for (std::size_t i = 0; i < c.errnos.size(); ++i) {
            check::Scope row(std::string(c.name) + ", request " + std::to_string(i + 1));
            std::uint16_t value = 0;
            errno = 0;
            const int got = modbus_read_registers(client.get(), 4, 1, &value);
            CHECK_EQ(got, c.errnos[i] == 0 ? 1 : -1);
            CHECK_EQ(c.errnos[i] == 0 ? 0 : errno, c.errnos[i]);
            dropped += c.errnos[i] == ETIMEDOUT ? 1 : 0;
        }
        // rx for each request; drop or tx for each; badcrc before each spoiled tx.
        const auto spoiled = std::count(c.errnos.begin(), c.errnos.end(), EMBBADCRC);
        const auto lines = waitForLog(log, c.errnos.size() * 2 + static_cast<std::size_t>(spoiled));
        CHECK_EQ(ofKind(lines, "badcrc").size(), spoiled);
        CHECK_EQ(ofKind(lines, "rx").size(), c.errnos.size());
        CHECK_EQ(ofKind(lines, "drop").size(), dropped);
        CHECK_EQ(ofKind(lines, "tx").size(), c.errnos.size() - static_cast<std::size_t>(dropped));
        // A spoiled reply is announced by a badcrc line with the bytes as they should have
        // been, right before the tx line with what went out.
        for (std::size_t k = 0; k < lines.size(); ++k) {
            if (lines[k].kind != "tx") {
                continue;
            }
            const bool announced = k > 0 && lines[k - 1].kind == "badcrc";
            CHECK(crcOk(lines[k].bytes) == !announced);
            if (announced) {
                CHECK(crcOk(lines[k - 1].bytes));
                CHECK(lines[k - 1].bytes.size() == lines[k].bytes.size());
            }
        }
    }
}

void testSplitReplies(const std::string &exe, const std::string &dir) {
    check::Scope scope("--split 2 --gap 40");
    Sim sim = startSim(exe, dir + "/COM2", {"--split", "2", "--gap", "40"});
    const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr;
    if (!client) {
        return;
    }
    const int fd = modbus_get_socket(client.get());
    CHECK(sendRaw(fd, readSettings));
    const auto reads = collectReads(fd, 1000ms, settingsReply.size());
    CHECK(joined(reads) == settingsReply);
    // Six pieces 40 ms apart; landing in one read would take a 200 ms stall of this test.
    CHECK(reads.size() > 1);
    CHECK(readBlock(client.get()) == defaults); // libmodbus puts the pieces together
}

void testNoise(const std::string &exe, const std::string &dir) {
    check::Scope scope("--noise 2:5");
    const std::string log = dir + "/noise.log";
    Sim sim = startSim(exe, dir + "/COM2", {"--noise", "2:5", "--log", log});
    const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr;
    if (!client) {
        return;
    }
    const int fd = modbus_get_socket(client.get());
    CHECK(exchange(fd, readSettings) == settingsReply);
    const Bytes noisy = exchange(fd, readSettings);
    CHECK(exchange(fd, readSettings) == settingsReply);

    const auto noise = ofKind(waitForLog(log, 7), "noise");
    if (CHECK_EQ(noise.size(), 1) && CHECK_EQ(noise[0].bytes.size(), 5) &&
        CHECK_EQ(noisy.size(), settingsReply.size() + 5)) {
        CHECK(Bytes(noisy.begin(), noisy.begin() + 11) == settingsReply);
        CHECK(Bytes(noisy.begin() + 11, noisy.end()) == noise[0].bytes);
    }
}

// Timing is measured in benchmarks; here only lower bounds, which no slow machine breaks.
void testDelayAndWireTime(const std::string &exe, const std::string &dir) {
    {
        check::Scope scope("--delay 300");
        const std::string log = dir + "/delay.log";
        Sim sim = startSim(exe, dir + "/COM2", {"--delay", "300", "--log", log});
        if (const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr) {
            modbus_set_response_timeout(client.get(), 3, 0);
            const auto start = Clock::now();
            CHECK(readBlock(client.get()) == defaults);
            CHECK(Clock::now() - start >= 300ms);
            const auto lines = waitForLog(log, 2);
            if (CHECK_EQ(lines.size(), 2)) {
                CHECK(lines[1].micros - lines[0].micros >= 300'000);
            }
        }
    }
    {
        // 1200 baud, 10 bits a byte: 8.3 ms per byte, 37 bytes for all 16 registers.
        check::Scope scope("--wire-time --baud 1200");
        Sim sim = startSim(exe, dir + "/COM2", {"--wire-time", "--baud", "1200"});
        if (const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr) {
            const int fd = modbus_get_socket(client.get());
            const auto start = Clock::now();
            CHECK(sendRaw(fd, withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x10})));
            const auto reads = collectReads(fd, 1000ms, 37);
            CHECK(Clock::now() - start >= 37 * 8333us);
            CHECK(reads.size() > 1);
            CHECK(joined(reads).size() == 37 && crcOk(joined(reads)));
        }
    }
    {
        check::Scope scope("every fault at once");
        Sim sim = startSim(exe, dir + "/COM2",
                           {"--wire-time", "--baud", "9600", "--delay", "20", "--split", "3",
                            "--gap", "5", "--bad-crc", "2", "--noise", "3:2", "--drop", "4"});
        if (const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr) {
            const int fd = modbus_get_socket(client.get());
            const Bytes first = exchange(fd, readSettings, 11);
            const Bytes second = exchange(fd, readSettings, 11);
            const Bytes third = exchange(fd, readSettings, 13);
            CHECK(first == settingsReply);
            CHECK(second.size() == settingsReply.size() && !crcOk(second));
            CHECK(third.size() == settingsReply.size() + 2);
            CHECK(exchange(fd, readSettings).empty());
        }
    }
}

// The log is what benchmarks of the program parse: one rx per request, one tx per reply,
// on this machine's monotonic clock, written by the time the reply can be read.
void testTrafficLog(const std::string &exe, const std::string &dir) {
    check::Scope scope("--log");
    const std::string log = dir + "/traffic.log";
    Sim sim = startSim(exe, dir + "/COM2", {"--log", log});
    const Client client = sim.ready ? connectClient(sim.link, 1) : nullptr;
    if (!client) {
        return;
    }
    struct Case {
        Bytes request;
        Bytes reply; // empty: none
    };
    const Case cases[] = {
        {readSettings, settingsReply},
        {withCrc({0x01, 0x06, 0x0A, 0x06, 0x00, 0x01}),
         withCrc({0x01, 0x06, 0x0A, 0x06, 0x00, 0x01})},
        {readAddressQuery, {0xFA, 0x25, 0x01, 0x01, 0xE1, 0x67}},
        {withCrc({0x01, 0x03, 0x00, 0x10, 0x00, 0x01}), withCrc({0x01, 0x83, 0x02})},
        {withCrc({0x09, 0x03, 0x00, 0x00, 0x00, 0x01}), {}},
        {withCrc({0x01, 0x04, 0x00, 0x05, 0x00, 0x01}), withCrc({0x01, 0x04, 0x02, 0x00, 0x00})},
    };
    const int fd = modbus_get_socket(client.get());
    std::vector<std::pair<long long, long long>> windows; // per request: sent, reply read
    std::size_t expectedLines = 0;
    for (const Case &c : cases) {
        const long long sent = monotonicMicros();
        const Bytes reply = exchange(fd, c.request, c.reply.empty() ? 4096 : c.reply.size());
        windows.emplace_back(sent, monotonicMicros());
        CHECK(reply == c.reply);
        // The request's line is out before it is answered; no waiting for it.
        expectedLines += c.reply.empty() ? 1 : 2;
        CHECK_EQ(ofKind(parseLog(log), "rx").size(), windows.size());
    }

    const auto lines = waitForLog(log, expectedLines);
    if (!CHECK_EQ(lines.size(), expectedLines)) {
        return;
    }
    std::size_t at = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        check::Scope row("log of request " + std::to_string(i + 1));
        const auto [sent, read] = windows[i];
        const LogLine &rx = lines[at++];
        CHECK(rx.kind == "rx" && rx.bytes == cases[i].request);
        CHECK(sent <= rx.micros && rx.micros <= read);
        if (!cases[i].reply.empty()) {
            const LogLine &tx = lines[at++];
            CHECK(tx.kind == "tx" && tx.bytes == cases[i].reply);
            CHECK(rx.micros <= tx.micros && tx.micros <= read);
        }
    }
}

bool waitUntilGone(const std::string &path) {
    const auto deadline = Clock::now() + processTimeout;
    while (exists(path) && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    return !exists(path);
}

void testUnplug(const std::string &exe, const std::string &dir) {
    const std::string log = dir + "/unplug.log";
    Sim sim = startSim(exe, dir + "/COM3", {"--log", log});
    const Client before = sim.ready ? connectClient(sim.link, 1) : nullptr;
    if (!before) {
        return;
    }
    CHECK(readBlock(before.get()) == defaults);
    const pid_t pid = sim.process->pid();
    {
        check::Scope scope("SIGUSR1 unplugs");
        CHECK_EQ(kill(pid, SIGUSR1), 0);
        // Like a pulled adapter: the open port fails and the device node goes away.
        pollfd p{modbus_get_socket(before.get()), POLLIN, 0};
        CHECK_EQ(poll(&p, 1, 5000), 1);
        std::array<std::uint8_t, 16> sink{};
        CHECK((p.revents & (POLLHUP | POLLERR)) != 0 || read(p.fd, sink.data(), sink.size()) <= 0);
        CHECK(waitUntilGone(sim.link));
        std::uint16_t value = 0;
        CHECK_EQ(modbus_read_registers(before.get(), 4, 1, &value), -1);
    }
    {
        check::Scope scope("SIGUSR2 plugs in again");
        CHECK_EQ(kill(pid, SIGUSR2), 0);
        const auto line = sim.process->readLine(processTimeout);
        CHECK(line == "sensor-sim: " + sim.link + " -> " + linkTarget(sim.link) + ", address 1");
        if (const Client after = connectClient(sim.link, 1)) {
            CHECK(readBlock(after.get()) == defaults);
        }
        CHECK_EQ(kill(pid, SIGUSR2), 0); // already plugged in: no new pty, no new line
        CHECK(!sim.process->readLine(200ms).has_value());
        CHECK(exists(sim.link));
    }
    {
        check::Scope scope("SIGTERM while unplugged");
        CHECK_EQ(kill(pid, SIGUSR1), 0);
        CHECK(waitUntilGone(sim.link));
        CHECK_EQ(kill(pid, SIGUSR1), 0); // unplugging twice is harmless
        CHECK_EQ(kill(pid, SIGTERM), 0);
        CHECK_EQ(sim.process->waitExit(processTimeout).value_or(-1), 0);
        CHECK(!exists(sim.link));
        std::vector<std::string> kinds;
        for (const LogLine &l : parseLog(log)) {
            kinds.push_back(l.kind);
        }
        CHECK((kinds ==
               std::vector<std::string>{"rx", "tx", "unplug", "replug", "rx", "tx", "unplug"}));
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-SENSOR-SIM\n", argv[0]);
        return 2;
    }
    alarm(80); // every wait is bounded already; this is the backstop (ctest allows 90 s)

    std::string dir = (fs::temp_directory_path() / "sensorsim-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    testRejectsBadArguments(argv[1], dir);
    runMainScenario(argv[1], dir);
    testStdinEofExits(argv[1], dir);
    testDropAndBadCrc(argv[1], dir);
    testSplitReplies(argv[1], dir);
    testNoise(argv[1], dir);
    testDelayAndWireTime(argv[1], dir);
    testTrafficLog(argv[1], dir);
    testUnplug(argv[1], dir);

    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("sensorsim: %d check(s) failed\n", check::failures);
    return check::failures == 0 ? 0 : 1;
}
