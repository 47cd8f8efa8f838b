// sensor-sim: a stand-in for the sensor module on a pseudo-terminal, so the companion
// program can be run and tested without hardware.
//
//   program <-> [pty A] <-> bridge <-> [pty B] <-> libmodbus RTU server
//
// With --tcp, pty A is a TCP connection instead: the module behind a serial device server.
//
// With several modules on the line (--module), each is a libmodbus RTU server on a pty of its
// own behind the bridge, and all are under one light.
//
// The bridge answers the module's non-Modbus read-address query itself and passes all
// other requests through unchanged to the modules at their address; replies come back
// through it whole, colliding when more than one module answers, and that is where the fault
// options (delays, split replies, bad CRCs, noise, lost requests) act.

#include "bridge.h"
#include "commands.h"
#include "eventloop.h"
#include "line.h"
#include "log.h"
#include "tcpline.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <getopt.h>

using namespace sensorsim;

namespace {

constexpr int kExitRuntimeError = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string link;
    std::string tcpHost = "127.0.0.1";
    int tcpPort = -1; // --tcp; -1: on a pty
    int address = 1;
    bool haveAddress = false;
    std::vector<ModuleWanted> modules; // --module; empty: the one at --address
    int baud = 19200;
    bool verbose = false;
    bool stdinEofExits = false;
    bool stdinCommands = false;
    bool help = false;
    std::string log; // traffic log file; empty for none
    std::optional<double> light;
    ModuleOptions module; // every module's, unless its --module says otherwise
    FaultOptions faults;
};

const char *UsageText() {
    return "usage: sensor-sim (--link PATH | --tcp PORT [--tcp-host ADDR])\n"
           "                  [--address N | --module MODULE...] [--baud B] [--verbose]\n"
           "                  [--stdin-eof-exits] [--stdin-commands] [--log FILE]\n"
           "                  [module options] [fault options]\n"
           "  --link PATH         symlink to create for the program's side of the line\n"
           "  --tcp PORT          no pty: serve the line over TCP, as a serial device server\n"
           "                      does, one client at a time, raw RTU bytes both ways; while\n"
           "                      one is served, others are accepted and closed at once.\n"
           "                      0 picks a free port; the ready line names it\n"
           "  --tcp-host ADDR     numeric IPv4 or IPv6 address to listen at (default\n"
           "                      127.0.0.1)\n"
           "  --address N         initial Modbus unit address, 1..247 (default 1)\n"
           "  --module MODULE     a module on the line, instead of the one at --address;\n"
           "                      repeat it for several (64 at most). MODULE is\n"
           "                      ADDR[:KEY=VALUE[,KEY=VALUE]], the keys sensitivity=S,\n"
           "                      noise=LX and read-only-params: its own --sensitivity,\n"
           "                      --light-noise and --read-only-params. Two at\n"
           "                      one address answer together: their replies collide into\n"
           "                      bytes that are no frame\n"
           "  --baud B            the module's rate (default 19200): it answers only while\n"
           "                      the program's side of the line is set to B (over TCP there\n"
           "                      is no such setting: always)\n"
           "  --verbose           log every handled request to stderr\n"
           "  --stdin-eof-exits   exit when standard input reaches end of file\n"
           "  --stdin-commands    carry out the commands on standard input (see below)\n"
           "  --log FILE          write a traffic log to FILE (see below)\n"
           "\n"
           "module options:\n"
           "  --light LUX         a steady raw light, 0..65535 lx, instead of the ten-minute\n"
           "                      day; one light for every module on the line\n"
           "  --light-noise LX    noise on the raw light, +-LX lx, 0..10000 (default 4 on the\n"
           "                      day, 0 with --light)\n"
           "  --sensitivity S     the sensor's own gain error, 0.1..10 (default 1): the raw\n"
           "                      light is multiplied by S before coefficient and offset\n"
           "                      (with --module: for each module that names none)\n"
           "  --read-only-params  acknowledge writes to 0x0A04..0x0A06 as usual but keep\n"
           "                      the old values\n"
           "\n"
           "fault options (all off by default, any combination):\n"
           "  --delay MS          wait MS milliseconds before each reply\n"
           "  --split N           write each reply in pieces of N bytes ...\n"
           "  --gap MS            ... MS milliseconds apart (default 20)\n"
           "  --bad-crc EVERY     spoil the CRC of every EVERY-th reply (1: all)\n"
           "  --drop EVERY        leave every EVERY-th request unanswered\n"
           "  --noise EVERY[:N]   write N random bytes (default 3) straight after every\n"
           "                      EVERY-th reply\n"
           "  --wire-time         pace output at the line speed, 10 bits per byte\n"
           "  --echo              write each request back whole before its reply, as an\n"
           "                      adapter that hears its own transmission does\n"
           "  --noise-at-wrong-rate  answer a request at another rate than B with six\n"
           "                      random bytes that are no frame\n"
           "  --seed S            seed for the random bytes and the reading's noise\n"
           "                      (0..4294967295, default 1)\n"
           "Requests and replies are counted from 1 over the whole run: with EVERY 3 the\n"
           "3rd, 6th, 9th... are hit. Every frame received counts as a request, every reply\n"
           "sent (not dropped) as a reply.\n"
           "\n"
           "signals:\n"
           "  SIGUSR1             unplug: close the program's pty and remove the link;\n"
           "                      over TCP, close the client's connection\n"
           "  SIGUSR2             plug in again: new pty, same link, a new ready line;\n"
           "                      nothing over TCP\n"
           "  SIGTERM, SIGINT, SIGHUP  remove the link and exit\n"
           "\n"
           "commands on stdin (--stdin-commands), one a line; anything else is ignored with\n"
           "a message on stderr:\n"
           "  add [MODULE]        connect a module (MODULE as for --module; default: at the\n"
           "                      factory address 1)\n"
           "  pull ADDR           disconnect every module at ADDR: it answers no more\n"
           "  light LUX           the one light becomes steady at LUX, 0..65535 lx\n"
           "  light day           the light follows the ten-minute day again\n"
           "\n"
           "traffic log: one line per event, flushed at once,\n"
           "  SECONDS.MICROSECONDS KIND [BYTE...]\n"
           "time is CLOCK_MONOTONIC, bytes are two-digit uppercase hex. KIND is one of\n"
           "  rx      a request, stamped when its last byte arrived\n"
           "  tx      a reply as sent, stamped as its first byte is written\n"
           "  drop    the request just received, left unanswered\n"
           "  badcrc  a reply before its CRC was spoiled (the next tx is what went out)\n"
           "  noise   random bytes written after the reply\n"
           "  collide one of the replies that collided (the next tx is what went out)\n"
           "  echo    a request written back (--echo)\n"
           "  unplug, replug   (no bytes)\n"
           "  connect, disconnect, refused   a TCP client served, gone, turned away\n";
}

constexpr int kMaxEvery = 1'000'000'000;

// EVERY[:COUNT]
bool ParseNoise(std::string_view text, FaultOptions &faults) {
    const auto colon = text.find(':');
    return ParseNumber(text.substr(0, colon), 1, kMaxEvery, faults.noiseEvery) &&
           (colon == std::string_view::npos ||
            ParseNumber(text.substr(colon + 1), 1, 256, faults.noiseCount));
}

const option kLongOptions[] = {
    // the line, the module and the traffic log
    {"link", required_argument, nullptr, 'l'},
    {"address", required_argument, nullptr, 'a'},
    {"module", required_argument, nullptr, 'M'},
    {"baud", required_argument, nullptr, 'b'},
    {"log", required_argument, nullptr, 'L'},
    {"tcp", required_argument, nullptr, 'T'},
    {"tcp-host", required_argument, nullptr, 'H'},
    // what the module sees and takes
    {"light", required_argument, nullptr, 'x'},
    {"light-noise", required_argument, nullptr, 'N'},
    {"sensitivity", required_argument, nullptr, 'G'},
    {"read-only-params", no_argument, nullptr, 'R'},
    // fault options
    {"delay", required_argument, nullptr, 'd'},
    {"split", required_argument, nullptr, 's'},
    {"gap", required_argument, nullptr, 'g'},
    {"bad-crc", required_argument, nullptr, 'c'},
    {"drop", required_argument, nullptr, 'D'},
    {"noise", required_argument, nullptr, 'n'},
    {"seed", required_argument, nullptr, 'S'},
    {"wire-time", no_argument, nullptr, 'w'},
    {"echo", no_argument, nullptr, 'E'},
    {"noise-at-wrong-rate", no_argument, nullptr, 'W'},
    // running the simulator
    {"verbose", no_argument, nullptr, 'v'},
    {"stdin-eof-exits", no_argument, nullptr, 'e'},
    {"stdin-commands", no_argument, nullptr, 'C'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// Returns nullopt and fills `error` when the arguments make no sense.
std::optional<Options> ParseOptions(int argc, char **argv, std::string &error) {
    Options o;
    FaultOptions &f = o.faults;
    // The options that take a whole number: their range, where they go, and what a refused
    // value is told. --baud is the only rate the module hears; it also sets the inter-frame
    // silence, and the pace under --wire-time.
    struct Number {
        int option;
        int min;
        int max;
        int *out;
        const char *must;
    };
    const Number numbers[] = {
        {'a', 1, 247, &o.address, "must be an integer in 1..247"},
        {'b', 50, 4'000'000, &o.baud, "must be an integer in 50..4000000"},
        {'T', 0, 65535, &o.tcpPort, "must be a port number in 0..65535"},
        {'d', 0, 60'000, &f.delayMs, "must be milliseconds in 0..60000"},
        {'s', 1, 256, &f.splitBytes, "must be a byte count in 1..256"},
        {'g', 0, 10'000, &f.splitGapMs, "must be milliseconds in 0..10000"},
        {'c', 1, kMaxEvery, &f.badCrcEvery, "must be a positive integer"},
        {'D', 1, kMaxEvery, &f.dropEvery, "must be a positive integer"},
    };
    bool haveGap = false;
    bool haveTcpHost = false;
    ModuleOptions &m = o.module;
    opterr = 0; // our own message, followed by the usage
    int index = 0;
    for (int c = 0; (c = getopt_long(argc, argv, ":h", kLongOptions, &index)) != -1;) {
        const std::string_view value = optarg != nullptr ? optarg : "";
        const auto refuse = [&](const char *must) {
            error = std::string("--") + kLongOptions[index].name + " " + must;
            return false;
        };
        const auto *const n = std::ranges::find(numbers, c, &Number::option);
        bool ok = true;
        switch (c) {
        case 'l':
            o.link = value;
            ok = !value.empty() || refuse("needs a non-empty path");
            break;
        case 'L':
            o.log = value;
            ok = !value.empty() || refuse("needs a non-empty path");
            break;
        case 'H':
            o.tcpHost = value;
            haveTcpHost = true;
            ok = TcpLine::IsNumericAddress(o.tcpHost) ||
                 refuse("must be a numeric IPv4 or IPv6 address");
            break;
        case 'M': {
            std::string why;
            const auto wanted = ParseModule(value, why);
            if (wanted) {
                o.modules.push_back(*wanted);
            }
            ok = wanted || refuse(("must be ADDR[:KEY=VALUE[,KEY=VALUE]]: " + why).c_str());
            break;
        }
        case 'x':
            ok = ParseNumber(value, 0.0, 65535.0, o.light.emplace()) ||
                 refuse("must be lx in 0..65535");
            break;
        case 'N':
            ok = ParseNumber(value, 0.0, 10000.0, m.lightNoise.emplace()) ||
                 refuse("must be lx in 0..10000");
            break;
        case 'G':
            ok = ParseNumber(value, 0.1, 10.0, m.sensitivity) || refuse("must be in 0.1..10");
            break;
        case 'R':
            m.readOnlySettings = true;
            break;
        case 'n':
            ok = ParseNoise(value, f) || refuse("must be EVERY or EVERY:COUNT, COUNT in 1..256");
            break;
        case 'S':
            ok = ParseNumber<std::uint32_t>(value, 0, UINT32_MAX, f.seed) ||
                 refuse("must be an integer in 0..4294967295");
            break;
        case 'w':
            f.wireTime = true;
            break;
        case 'E':
            f.echo = true;
            break;
        case 'W':
            f.noiseAtWrongRate = true;
            break;
        case 'v':
            o.verbose = true;
            break;
        case 'e':
            o.stdinEofExits = true;
            break;
        case 'C':
            o.stdinCommands = true;
            break;
        case 'h':
            o.help = true;
            return o;
        case ':':
            error = std::string(argv[optind - 1]) + " needs a value";
            return std::nullopt;
        default:
            if (n == std::end(numbers)) { // unknown, ambiguous, or a value where none belongs
                error = "unknown argument: " + std::string(argv[optind - 1]);
                return std::nullopt;
            }
            ok = ParseNumber(value, n->min, n->max, *n->out) || refuse(n->must);
            haveGap = haveGap || c == 'g';
            o.haveAddress = o.haveAddress || c == 'a';
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (optind < argc) {
        error = "unknown argument: " + std::string(argv[optind]);
    } else if (!o.link.empty() && o.tcpPort >= 0) {
        error = "--link and --tcp exclude each other";
    } else if (o.link.empty() && o.tcpPort < 0) {
        error = "--link or --tcp is required";
    } else if (haveTcpHost && o.tcpPort < 0) {
        error = "--tcp-host only makes sense with --tcp";
    } else if (haveGap && f.splitBytes == 0) {
        error = "--gap only makes sense with --split";
    } else if (o.haveAddress && !o.modules.empty()) {
        error = "--address and --module exclude each other: give each address in --module";
    } else if (o.modules.size() > Line::kMaxModules) {
        error = "--module: the line holds " + std::to_string(Line::kMaxModules) + " at most";
    }
    return error.empty() ? std::optional(o) : std::nullopt;
}

} // namespace

int main(int argc, char **argv) {
    std::string error;
    const auto options = ParseOptions(argc, argv, error);
    if (!options) {
        std::fprintf(stderr, "sensor-sim: %s\n%s", error.c_str(), UsageText());
        return kExitUsage;
    }
    if (options->help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    verbose = options->verbose;

    TrafficLog log;
    if (!options->log.empty() && !log.Open(options->log, error)) {
        LogError("%s", error.c_str());
        return kExitRuntimeError;
    }

    Line line(options->baud, options->faults.seed, options->light, options->module);
    const std::vector<ModuleWanted> modules =
        options->modules.empty() ? std::vector{ModuleWanted{options->address, {}, {}, {}}}
                                 : options->modules;
    for (const ModuleWanted &module : modules) {
        if (!line.Add(module, error)) {
            LogError("%s", error.c_str());
            return kExitRuntimeError;
        }
    }

    Bridge bridge(line, options->baud, options->faults, log);
    return RunEventLoop({bridge, line, log, options->link, options->stdinEofExits,
                         options->stdinCommands, options->tcpHost, options->tcpPort});
}
