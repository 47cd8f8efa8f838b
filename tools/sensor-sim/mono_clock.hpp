#pragma once

#include <chrono>
#include <ctime>

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

} // namespace sensorsim
