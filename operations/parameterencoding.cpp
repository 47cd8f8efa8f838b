#include "parameterencoding.h"

#include "app/runtime.h"

#include <cmath>

namespace operations {

std::optional<std::uint16_t> ParameterRegisterValue(QStringView entry, int index) {
    const auto number = rt::ToNumber(entry);
    // Far outside the range anyway; checked first because such a double has no float.
    if (!number || std::fabs(*number) > 1e7)
        return std::nullopt;
    float v = static_cast<float>(*number);
    if (v > 65535.0f || v < -65535.0f)
        return std::nullopt;
    if (index == 0)
        v = v * 10000.0f;
    if (v < 0.0f)
        v = v + 65536.0f;
    const double n = rt::RoundHalfEven(static_cast<double>(v));
    if (n < 0 || n > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(n);
}

} // namespace operations
