#include "options.hpp"

#include <charconv>
#include <string_view>

namespace sensorsim {

namespace {

bool parseInt(std::string_view text, int min, int max, int &out) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < min || value > max) {
        return false;
    }
    out = value;
    return true;
}

} // namespace

const char *usageText() {
    return "usage: sensor-sim --link PATH [--address N] [--baud B] [--verbose] "
           "[--stdin-eof-exits]\n"
           "  --link PATH         symlink to create for the program's side of the line\n"
           "  --address N         initial Modbus unit address, 1..247 (default 1)\n"
           "  --baud B            nominal line speed (default 19200)\n"
           "  --verbose           log every handled request to stderr\n"
           "  --stdin-eof-exits   exit when standard input reaches end of file\n";
}

std::optional<Options> parseOptions(std::span<char *const> args, std::string &error) {
    Options options;
    bool haveLink = false;

    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view value;
        bool inlineValue = false;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }

        const bool takesValue = arg == "--link" || arg == "--address" || arg == "--baud";
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = std::string(arg) + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        } else if (!takesValue && inlineValue) {
            error = std::string(arg) + " takes no value";
            return std::nullopt;
        }

        if (arg == "--link") {
            if (value.empty()) {
                error = "--link needs a non-empty path";
                return std::nullopt;
            }
            options.link = value;
            haveLink = true;
        } else if (arg == "--address") {
            if (!parseInt(value, 1, 247, options.address)) {
                error = "--address must be an integer in 1..247";
                return std::nullopt;
            }
        } else if (arg == "--baud") {
            // Nothing is clocked on a pty, but the value sets the inter-frame silence.
            if (!parseInt(value, 50, 4000000, options.baud)) {
                error = "--baud must be an integer in 50..4000000";
                return std::nullopt;
            }
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
    return options;
}

} // namespace sensorsim
