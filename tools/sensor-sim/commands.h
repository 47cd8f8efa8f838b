#pragma once
// The words that describe a module (--module, and `add` on stdin) and the commands that
// change the line while it runs, read line by line from stdin (--stdin-commands).

#include "line.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace sensorsim {

template <typename T> bool ParseNumber(std::string_view text, T min, T max, T &out) {
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Written so that a NaN is out of range too.
    if (ec != std::errc{} || end != text.data() + text.size() || !(min <= value && value <= max)) {
        return false;
    }
    out = value;
    return true;
}

// ADDR[:KEY=VALUE[,KEY=VALUE]...], the keys `sensitivity` and `noise`. Empty, with `error`
// saying what is wrong, when the text is no module.
std::optional<ModuleWanted> ParseModule(std::string_view text, std::string &error);

// What stdin says. Every line is a command, carried out as soon as it is in; a line that
// is not understood gets one message on stderr and changes nothing.
class StdinCommands {
public:
    explicit StdinCommands(Line &line) : line_(line) {}

    // One read() of stdin, which poll() found readable, and every whole line it completes
    // carried out. False once stdin is at its end; a last line without a newline is carried
    // out then.
    bool ReadAndRun();

private:
    void Run(std::string_view command);
    // Each command's work: empty when done, else why not.
    std::string Add(std::string_view argument);
    std::string Pull(std::string_view argument);
    std::string SetLight(std::string_view argument);

    Line &line_;
    std::string partial_;   // a line not yet ended
    bool overlong_ = false; // the line being read is over the limit: skip to its end
};

} // namespace sensorsim
