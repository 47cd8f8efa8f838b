#pragma once

#include "mono_clock.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sensorsim {

// The --log file: one line per event, "SECONDS.MICROS KIND[ HEX]...", e.g.
//   12345.678901 rx 01 03 00 00 00 02 C4 0B
// Each line goes out in a single write(), so a reader never sees half a line and never
// waits for a buffer to fill. Without a file every call is a no-op.
class TrafficLog {
public:
    TrafficLog() = default;
    TrafficLog(const TrafficLog &) = delete;
    TrafficLog &operator=(const TrafficLog &) = delete;
    ~TrafficLog();

    bool open(const std::string &path, std::string &error);
    void record(MonoClock::time_point when, std::string_view kind,
                std::span<const std::uint8_t> bytes = {});

private:
    int fd_ = -1;
};

} // namespace sensorsim
