#pragma once

#include "log.hpp"

#include <cstdint>
#include <random>

namespace sensorsim {

// What the module's sensors see. Time runs fast, one "day" every ten minutes, so a session
// shows the light rise and fall; each reading also carries a little noise, like a real
// photodiode, so two reads in a row rarely agree exactly.
class Environment {
public:
    Environment(MonoClock::time_point start, std::uint32_t seed);

    // Daylight through a window on top of room lighting: 300 lx at night, 800 lx at noon.
    // The run starts mid-morning, at 550 lx and rising.
    double illuminance(MonoClock::time_point now);

    // Around 23.5 degrees Celsius, drifting by a few tenths.
    double temperature(MonoClock::time_point now);

private:
    double seconds(MonoClock::time_point now) const;
    double noise(double amplitude); // roughly -amplitude..amplitude, most often near 0

    MonoClock::time_point start_;
    std::mt19937 random_;
};

} // namespace sensorsim
