#pragma once
// The baud rate a program set on its end of a pseudo-terminal, read from our end: a module
// hears the line only at its own rate, so the simulator has to know which rate was chosen.

#include <optional>

namespace sensorsim {

// The output rate in bits per second, or nothing when the terminal cannot be asked.
std::optional<int> LineRate(int fd);

} // namespace sensorsim
