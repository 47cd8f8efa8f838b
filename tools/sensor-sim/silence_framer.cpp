#include "silence_framer.hpp"

#include "request_frame.hpp"

#include <utility>

namespace sensorsim {

void SilenceFramer::feed(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (bytes.empty()) {
        return;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    lastByte_ = now;
    complete_ = isCompleteRequest(pending_);
}

std::optional<SilenceFramer::Clock::time_point> SilenceFramer::deadline() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    if (complete_ || pending_.size() >= limit_) {
        return lastByte_;
    }
    return lastByte_ + gap_;
}

bool SilenceFramer::ready(Clock::time_point now) const {
    const auto due = deadline();
    return due && now >= *due;
}

SilenceFramer::Frame SilenceFramer::take() {
    complete_ = false;
    return {std::exchange(pending_, {}), lastByte_};
}

} // namespace sensorsim
