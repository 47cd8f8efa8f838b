#include "register_map.hpp"

#include <algorithm>
#include <cmath>

namespace sensorsim {

bool isReadable(int address) {
    return (address >= 0 && address < reg::blockSize) || isWritable(address);
}

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

std::uint16_t scaledReading(double rawLux, std::uint16_t coefficient, std::uint16_t offset) {
    const double value = std::round(rawLux * coefficient / 10000.0) + offset;
    return static_cast<std::uint16_t>(std::clamp(value, 0.0, 65535.0));
}

} // namespace sensorsim
