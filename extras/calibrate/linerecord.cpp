#include "linerecord.h"

#include <algorithm>
#include <cmath>

namespace calibration {

const std::optional<Point> &JudgedPoint(const ModuleRecord &module, const Level &level) {
    // A write not read back leaves the coefficient unknown: changed, as far as is known.
    const bool changed =
        !module.writes.empty() && module.leftCoefficient != module.foundCoefficient;
    return changed ? level.asLeft : level.Final();
}

std::optional<double> Linearity(const ModuleRecord &module) {
    std::optional<double> largest;
    for (const Level &level : module.levels)
        if (const auto &point = JudgedPoint(module, level))
            largest = std::max(largest.value_or(0.0), std::abs(point->errorPercent));
    return largest;
}

bool Passed(const ModuleRecord &module) {
    if (module.failed || module.levels.empty())
        return false;
    return std::ranges::all_of(module.levels, [&module](const Level &level) {
        const auto &point = JudgedPoint(module, level);
        return point && point->conforms;
    });
}

bool Overdue(const LineSetup &setup, const QDate &today) {
    return setup.instrumentDue.isValid() && setup.instrumentDue < today;
}

} // namespace calibration
