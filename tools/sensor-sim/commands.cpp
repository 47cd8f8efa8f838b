#include "commands.h"

#include "log.h"

#include <array>
#include <cctype>
#include <cerrno>

#include <unistd.h>

namespace sensorsim {

namespace {

// Longer than any command; anything longer is refused as a whole.
constexpr std::size_t kMaxLine = 256;

constexpr const char *kCommandsHelp =
    "add [ADDR[:sensitivity=S][,noise=LX][,read-only-params]], pull ADDR, light LUX, light day";

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The next word of `text`, taken off its front.
std::string_view NextWord(std::string_view &text) {
    text = Trimmed(text);
    const auto end = std::min(text.find_first_of(" \t"), text.size());
    const std::string_view word = text.substr(0, end);
    text = Trimmed(text.substr(end));
    return word;
}

// A line as it may be shown on stderr: control bytes and the like as '?'.
std::string Printable(std::string_view text) {
    std::string shown(text);
    for (char &c : shown) {
        if (std::isprint(static_cast<unsigned char>(c)) == 0) {
            c = '?';
        }
    }
    return shown;
}

} // namespace

std::optional<ModuleWanted> ParseModule(std::string_view text, std::string &error) {
    ModuleWanted wanted;
    const auto colon = text.find(':');
    if (!ParseNumber(text.substr(0, colon), 1, 247, wanted.address)) {
        error = "the address must be an integer in 1..247";
        return std::nullopt;
    }
    if (colon == std::string_view::npos) {
        return wanted;
    }
    for (std::string_view rest = text.substr(colon + 1);;) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const auto equals = item.find('=');
        const std::string_view key = item.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? "" : item.substr(equals + 1);
        if (key == "sensitivity") {
            if (!ParseNumber(value, 0.1, 10.0, wanted.sensitivity.emplace())) {
                error = "sensitivity must be in 0.1..10";
                return std::nullopt;
            }
        } else if (key == "noise") {
            if (!ParseNumber(value, 0.0, 10000.0, wanted.lightNoise.emplace())) {
                error = "noise must be lx in 0..10000";
                return std::nullopt;
            }
        } else if (key == "read-only-params" && equals == std::string_view::npos) {
            wanted.readOnlySettings = true;
        } else {
            error = "unknown module setting '" + std::string(item) +
                    "' (sensitivity=S, noise=LX or read-only-params)";
            return std::nullopt;
        }
        if (comma == std::string_view::npos) {
            return wanted;
        }
        rest = rest.substr(comma + 1);
    }
}

bool StdinCommands::ReadAndRun() {
    std::array<char, 512> buffer{};
    const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (n <= 0) {
        if (!overlong_ && !Trimmed(partial_).empty()) {
            Run(partial_);
        }
        partial_.clear();
        return false;
    }
    for (const char c : std::string_view(buffer.data(), static_cast<std::size_t>(n))) {
        if (c == '\n') {
            if (!overlong_) {
                Run(partial_);
            }
            partial_.clear();
            overlong_ = false;
        } else if (!overlong_ && partial_.size() >= kMaxLine) {
            LogError("stdin: a line longer than %zu characters ignored", kMaxLine);
            partial_.clear();
            overlong_ = true;
        } else if (!overlong_) {
            partial_.push_back(c);
        }
    }
    return true;
}

void StdinCommands::Run(std::string_view command) {
    std::string_view rest = command;
    const std::string_view verb = NextWord(rest);
    const std::string_view argument = NextWord(rest);
    if (verb.empty()) {
        return; // a blank line
    }
    const std::string error = !rest.empty()     ? "one argument at most"
                              : verb == "add"   ? Add(argument)
                              : verb == "pull"  ? Pull(argument)
                              : verb == "light" ? SetLight(argument)
                                                : "unknown command";
    if (!error.empty()) {
        LogError("stdin: '%s' ignored: %s (commands: %s)", Printable(command).c_str(),
                 error.c_str(), kCommandsHelp);
    }
}

std::string StdinCommands::Add(std::string_view argument) {
    std::string error;
    const auto wanted = argument.empty() ? ModuleWanted{} : ParseModule(argument, error);
    if (wanted && line_.Add(*wanted, error)) {
        LogError("add: a module at %d; the line has %s", wanted->address,
                 line_.Addresses().c_str());
    }
    return error;
}

std::string StdinCommands::Pull(std::string_view argument) {
    int address = 0;
    if (!ParseNumber(argument, 1, 247, address)) {
        return "the address must be an integer in 1..247";
    }
    const std::size_t pulled = line_.Pull(address);
    if (pulled == 0) {
        return "no module at " + std::to_string(address);
    }
    LogError("pull: %zu module(s) at %d gone; the line has %s", pulled, address,
             line_.Addresses().c_str());
    return {};
}

std::string StdinCommands::SetLight(std::string_view argument) {
    double lux = 0;
    if (argument == "day") {
        line_.TheLight().SetSteady(std::nullopt);
        LogError("light: the ten-minute day");
    } else if (ParseNumber(argument, 0.0, 65535.0, lux)) {
        line_.TheLight().SetSteady(lux);
        LogError("light: %g lx", lux);
    } else {
        return "LUX must be in 0..65535, or day";
    }
    return {};
}

} // namespace sensorsim
