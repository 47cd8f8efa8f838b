#include "environment.hpp"

#include <cmath>
#include <numbers>

namespace sensorsim {

namespace {

constexpr double dayLength = 600.0;         // s
constexpr double temperaturePeriod = 900.0; // s

} // namespace

Environment::Environment(MonoClock::time_point start, std::uint32_t seed)
    : start_(start), random_(seed ^ 0x5EED1234U) {}

double Environment::seconds(MonoClock::time_point now) const {
    return std::chrono::duration<double>(now - start_).count();
}

double Environment::noise(double amplitude) {
    // Sum of two uniform draws: triangular, so large excursions are rare. Done by hand
    // because the standard distributions differ between library implementations.
    const double a = static_cast<std::uint32_t>(random_()) / 4294967295.0;
    const double b = static_cast<std::uint32_t>(random_()) / 4294967295.0;
    return (a + b - 1.0) * amplitude;
}

double Environment::illuminance(MonoClock::time_point now) {
    const double phase = 2 * std::numbers::pi * (seconds(now) / dayLength + 0.25);
    return 550.0 - 250.0 * std::cos(phase) + noise(4.0);
}

double Environment::temperature(MonoClock::time_point now) {
    const double phase = 2 * std::numbers::pi * seconds(now) / temperaturePeriod;
    return 23.5 + 0.4 * std::sin(phase) + noise(0.02);
}

} // namespace sensorsim
