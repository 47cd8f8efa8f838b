#include "faults.hpp"

namespace sensorsim {

namespace {

bool hits(std::uint64_t count, int every) {
    return every > 0 && count % static_cast<std::uint64_t>(every) == 0;
}

} // namespace

bool FaultPlan::dropRequest() {
    return hits(++requests_, options_.dropEvery);
}

FaultPlan::ReplyFaults FaultPlan::nextReply() {
    ++replies_;
    ReplyFaults faults;
    faults.badCrc = hits(replies_, options_.badCrcEvery);
    if (hits(replies_, options_.noiseEvery)) {
        for (int i = 0; i < options_.noiseCount; ++i) {
            faults.noise.push_back(static_cast<std::uint8_t>(random_() >> 24));
        }
    }
    return faults;
}

} // namespace sensorsim
