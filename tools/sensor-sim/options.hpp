#pragma once

#include "faults.hpp"

#include <optional>
#include <span>
#include <string>

namespace sensorsim {

struct Options {
    std::string link;
    int address = 1;
    int baud = 19200;
    bool verbose = false;
    bool stdinEofExits = false;
    bool help = false;
    std::string log; // traffic log file; empty for none
    FaultOptions faults;
};

// Returns nullopt and fills `error` when the arguments make no sense.
std::optional<Options> parseOptions(std::span<char *const> args, std::string &error);

const char *usageText();

} // namespace sensorsim
