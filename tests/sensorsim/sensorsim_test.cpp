// End-to-end test of sensor-sim: talks to it through its symlinked pty with libmodbus as the
// master, the way the companion program will.
//
// usage: sensorsim-test PATH-TO-SENSOR-SIM

#include "check.hpp"
#include "sim_process.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
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

// What arrives until the line has been quiet for `quiet` (or `limit` bytes came).
Bytes collect(int fd, std::chrono::milliseconds quiet, std::size_t limit = 4096) {
    Bytes got;
    std::array<std::uint8_t, 256> chunk{};
    pollfd p{fd, POLLIN, 0};
    while (got.size() < limit && poll(&p, 1, static_cast<int>(quiet.count())) > 0) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n <= 0) {
            break;
        }
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    return got;
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

void testMeasurementBlock(modbus_t *ctx) {
    check::Scope scope("measurement block");
    std::array<std::uint16_t, 7> holding{};
    std::array<std::uint16_t, 7> input{};
    if (!CHECK_EQ(modbus_read_registers(ctx, 0, 7, holding.data()), 7) ||
        !CHECK_EQ(modbus_read_input_registers(ctx, 0, 7, input.data()), 7)) {
        return;
    }
    for (const auto &regs : {holding, input}) {
        CHECK(regs[0] >= 400 && regs[0] <= 600);
        CHECK((std::array{regs[1], regs[2], regs[3]}) == (Block{0, 0, 0}));
        CHECK((std::array{regs[4], regs[5], regs[6]}) == defaults);
    }
    // A live reading: it must move between requests and stay plausible.
    std::uint16_t previous = input[0];
    for (int i = 0; i < 20; ++i) {
        std::uint16_t lux = 0;
        CHECK_EQ(modbus_read_registers(ctx, 0, 1, &lux), 1);
        CHECK(lux != previous && lux >= 400 && lux <= 600);
        previous = lux;
    }
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

    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("sensorsim: %d check(s) failed\n", check::failures);
    return check::failures == 0 ? 0 : 1;
}
