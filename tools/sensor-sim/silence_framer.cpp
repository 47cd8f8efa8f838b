#include "silence_framer.hpp"

#include <utility>

namespace sensorsim {

void SilenceFramer::feed(std::span<const std::uint8_t> bytes, Clock::time_point now) {
    if (bytes.empty()) {
        return;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    lastByte_ = now;
}

std::optional<SilenceFramer::Clock::time_point> SilenceFramer::deadline() const {
    if (pending_.empty()) {
        return std::nullopt;
    }
    if (pending_.size() >= limit_) {
        return lastByte_;
    }
    return lastByte_ + gap_;
}

bool SilenceFramer::ready(Clock::time_point now) const {
    const auto due = deadline();
    return due && now >= *due;
}

std::vector<std::uint8_t> SilenceFramer::take() {
    return std::exchange(pending_, {});
}

} // namespace sensorsim
