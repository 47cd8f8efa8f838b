#pragma once
// What the simulator reports: diagnostics on stderr, and the traffic log of --log. Stdout
// carries only the ready line that scripts wait for.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace sensorsim {

// CLOCK_MONOTONIC itself rather than steady_clock, whose source differs between platforms:
// the traffic log's timestamps must be comparable with other processes' clock_gettime().
struct MonoClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<MonoClock>;
    static constexpr bool is_steady = true;

    static time_point now() noexcept {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
    }
};

inline bool verbose = false; // --verbose: one line per request

[[gnu::format(printf, 1, 2)]] void LogError(const char *format, ...);
[[gnu::format(printf, 1, 2)]] void LogVerbose(const char *format, ...); // only with --verbose

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

    bool Open(const std::string &path, std::string &error);
    void Record(MonoClock::time_point when, std::string_view kind,
                std::span<const std::uint8_t> bytes = {});

private:
    int fd_ = -1;
};

} // namespace sensorsim
