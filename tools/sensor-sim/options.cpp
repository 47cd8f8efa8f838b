#include "options.hpp"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace sensorsim {

namespace {

template <typename T> bool parseNumber(std::string_view text, T min, T max, T &out) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

bool parseInt(std::string_view text, int min, int max, int &out) {
    return parseNumber(text, min, max, out);
}

bool parseMs(std::string_view text, int max, std::chrono::milliseconds &out) {
    int ms = 0;
    if (!parseInt(text, 0, max, ms)) {
        return false;
    }
    out = std::chrono::milliseconds(ms);
    return true;
}

constexpr int maxEvery = 1'000'000'000;

// EVERY[:COUNT]
bool parseNoise(std::string_view text, FaultOptions &faults) {
    const auto colon = text.find(':');
    if (!parseInt(text.substr(0, colon), 1, maxEvery, faults.noiseEvery)) {
        return false;
    }
    return colon == std::string_view::npos ||
           parseInt(text.substr(colon + 1), 1, 256, faults.noiseCount);
}

bool takesValue(std::string_view arg) {
    for (const std::string_view name :
         {"--link", "--address", "--baud", "--log", "--delay", "--split", "--gap", "--bad-crc",
          "--drop", "--noise", "--seed"}) {
        if (arg == name) {
            return true;
        }
    }
    return false;
}

} // namespace

const char *usageText() {
    return "usage: sensor-sim --link PATH [--address N] [--baud B] [--verbose]\n"
           "                  [--stdin-eof-exits] [--log FILE] [fault options]\n"
           "  --link PATH         symlink to create for the program's side of the line\n"
           "  --address N         initial Modbus unit address, 1..247 (default 1)\n"
           "  --baud B            nominal line speed (default 19200)\n"
           "  --verbose           log every handled request to stderr\n"
           "  --stdin-eof-exits   exit when standard input reaches end of file\n"
           "  --log FILE          write a traffic log to FILE (see below)\n"
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
           "  --seed S            seed for the random bytes and the reading's noise\n"
           "                      (0..4294967295, default 1)\n"
           "Requests and replies are counted from 1 over the whole run: with EVERY 3 the\n"
           "3rd, 6th, 9th... are hit. Every frame received counts as a request, every reply\n"
           "sent (not dropped) as a reply.\n"
           "\n"
           "signals:\n"
           "  SIGUSR1             unplug: close the program's pty and remove the link\n"
           "  SIGUSR2             plug in again: new pty, same link, a new ready line\n"
           "  SIGTERM, SIGINT     remove the link and exit\n"
           "\n"
           "traffic log: one line per event, flushed at once,\n"
           "  SECONDS.MICROSECONDS KIND [BYTE...]\n"
           "time is CLOCK_MONOTONIC, bytes are two-digit uppercase hex. KIND is one of\n"
           "  rx      a request, stamped when its last byte arrived\n"
           "  tx      a reply as sent, stamped as its first byte is written\n"
           "  drop    the request just received, left unanswered\n"
           "  badcrc  a reply before its CRC was spoiled (the next tx is what went out)\n"
           "  noise   random bytes written after the reply\n"
           "  unplug, replug   (no bytes)\n";
}

std::optional<Options> parseOptions(std::span<char *const> args, std::string &error) {
    Options options;
    bool haveLink = false;
    bool haveGap = false;

    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }

        if (takesValue(arg) && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = std::string(arg) + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        } else if (!takesValue(arg) && inlineValue) {
            error = std::string(arg) + " takes no value";
            return std::nullopt;
        }

        FaultOptions &faults = options.faults;
        const auto fail = [&error](const char *message) {
            error = message;
            return std::nullopt;
        };
        if (arg == "--link") {
            if (value.empty()) {
                return fail("--link needs a non-empty path");
            }
            options.link = value;
            haveLink = true;
        } else if (arg == "--address") {
            if (!parseInt(value, 1, 247, options.address)) {
                return fail("--address must be an integer in 1..247");
            }
        } else if (arg == "--baud") {
            // Sets the inter-frame silence, and the pace under --wire-time.
            if (!parseInt(value, 50, 4000000, options.baud)) {
                return fail("--baud must be an integer in 50..4000000");
            }
        } else if (arg == "--log") {
            if (value.empty()) {
                return fail("--log needs a non-empty path");
            }
            options.log = value;
        } else if (arg == "--delay") {
            if (!parseMs(value, 60'000, faults.delay)) {
                return fail("--delay must be milliseconds in 0..60000");
            }
        } else if (arg == "--split") {
            if (!parseInt(value, 1, 256, faults.splitBytes)) {
                return fail("--split must be a byte count in 1..256");
            }
        } else if (arg == "--gap") {
            if (!parseMs(value, 10'000, faults.splitGap)) {
                return fail("--gap must be milliseconds in 0..10000");
            }
            haveGap = true;
        } else if (arg == "--bad-crc") {
            if (!parseInt(value, 1, maxEvery, faults.badCrcEvery)) {
                return fail("--bad-crc must be a positive integer");
            }
        } else if (arg == "--drop") {
            if (!parseInt(value, 1, maxEvery, faults.dropEvery)) {
                return fail("--drop must be a positive integer");
            }
        } else if (arg == "--noise") {
            if (!parseNoise(value, faults)) {
                return fail("--noise must be EVERY or EVERY:COUNT, COUNT in 1..256");
            }
        } else if (arg == "--seed") {
            if (!parseNumber<std::uint32_t>(value, 0, UINT32_MAX, faults.seed)) {
                return fail("--seed must be an integer in 0..4294967295");
            }
        } else if (arg == "--wire-time") {
            faults.wireTime = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--stdin-eof-exits") {
            options.stdinEofExits = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        } else {
            error = "unknown argument: " + std::string(args[i]);
            return std::nullopt;
        }
    }

    if (!haveLink) {
        error = "--link is required";
        return std::nullopt;
    }
    if (haveGap && options.faults.splitBytes == 0) {
        error = "--gap only makes sense with --split";
        return std::nullopt;
    }
    return options;
}

} // namespace sensorsim
