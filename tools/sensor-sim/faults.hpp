#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

namespace sensorsim {

// Misbehaviour to put on the line, all off by default. "Every" counts are 1-based over the
// whole run: with 3, the 3rd, 6th, 9th... request (or reply) is hit, so tests can tell in
// advance which one.
struct FaultOptions {
    std::chrono::milliseconds delay{0}; // before each reply
    int splitBytes = 0;                 // write replies in pieces this long; 0: whole
    std::chrono::milliseconds splitGap{20};
    int badCrcEvery = 0;
    int dropEvery = 0;
    int noiseEvery = 0;
    int noiseCount = 3;
    bool wireTime = false; // pace output at the line speed
    std::uint32_t seed = 1;
};

// Decides, request by request and reply by reply, which faults apply.
class FaultPlan {
public:
    explicit FaultPlan(const FaultOptions &options) : options_(options), random_(options.seed) {}

    // Call once per request received; true when it is to go unanswered.
    bool dropRequest();

    struct ReplyFaults {
        bool badCrc = false;
        std::vector<std::uint8_t> noise; // to follow the reply; empty for none
    };
    // Call once per reply about to be sent.
    ReplyFaults nextReply();

    const FaultOptions &options() const { return options_; }

private:
    FaultOptions options_;
    std::mt19937 random_; // its algorithm is fixed: same seed, same bytes on any platform
    std::uint64_t requests_ = 0;
    std::uint64_t replies_ = 0;
};

} // namespace sensorsim
