#pragma once

#include "log.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sensorsim {

// RTU frames are delimited by silence on the line. This collects bytes until the line has
// been quiet for `gap`, so the bridge can look at whole frames. A recognisably complete
// request is released at once; a stream without pauses is released once `limit` bytes have
// piled up, so nothing is held back indefinitely.
class SilenceFramer {
public:
    using Clock = MonoClock;

    struct Frame {
        std::vector<std::uint8_t> bytes;
        Clock::time_point arrived; // when its last byte came in
    };

    SilenceFramer(Clock::duration gap, std::size_t limit) : gap_(gap), limit_(limit) {}

    void feed(std::span<const std::uint8_t> bytes, Clock::time_point now);

    // When the pending bytes become a frame; empty if nothing is pending.
    std::optional<Clock::time_point> deadline() const;

    bool ready(Clock::time_point now) const;

    // Hands over everything collected so far.
    Frame take();

    void clear() { pending_.clear(); }

private:
    Clock::duration gap_;
    std::size_t limit_;
    std::vector<std::uint8_t> pending_;
    Clock::time_point lastByte_{};
    bool complete_ = false;
};

} // namespace sensorsim
