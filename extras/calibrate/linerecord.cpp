#include "linerecord.h"

#include <algorithm>
#include <cmath>

namespace calibration {

std::optional<double> Linearity(const ModuleRecord &module) {
    std::optional<double> largest;
    for (const Level &level : module.levels)
        if (const auto &point = level.Final())
            largest = std::max(largest.value_or(0.0), std::abs(point->errorPercent));
    return largest;
}

bool Passed(const ModuleRecord &module) {
    if (module.failed || module.levels.empty())
        return false;
    return std::ranges::all_of(
        module.levels, [](const Level &level) { return level.Final() && level.Final()->conforms; });
}

bool Overdue(const LineSetup &setup, const QDate &today) {
    return setup.instrumentDue.isValid() && setup.instrumentDue < today;
}

} // namespace calibration
