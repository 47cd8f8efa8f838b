#include "register_map.hpp"

namespace sensorsim {

bool isWritable(int address) {
    return settingTarget(address) >= 0 || address == reg::unitAddress;
}

int settingTarget(int address) {
    switch (address) {
    case reg::rangeCoefficientSetting:
        return reg::rangeCoefficient;
    case reg::offsetSetting:
        return reg::offset;
    case reg::gainSetting:
        return reg::gain;
    default:
        return -1;
    }
}

std::uint16_t IlluminanceWalk::next() {
    constexpr int low = 480;
    constexpr int high = 520;
    if (value_ + step_ > high || value_ + step_ < low) {
        step_ = -step_;
    }
    value_ += step_;
    return static_cast<std::uint16_t>(value_);
}

} // namespace sensorsim
