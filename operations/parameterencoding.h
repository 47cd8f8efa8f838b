#pragma once
// How a calibration entry becomes the 16-bit register value that is written.

#include <QStringView>

#include <cstdint>
#include <optional>

namespace operations {

// The coefficient (index 0) is written in ten-thousandths, the offset and the gain as
// they are; a negative result goes as its 16-bit two's complement. The arithmetic is in
// single precision and rounds halves to even. Empty when the entry is not a number, lies beyond
// +-65535, or does not land in 0..65535 after scaling (a coefficient of 7, or -0.5 which would
// round to 65536).
std::optional<std::uint16_t> ParameterRegisterValue(QStringView entry, int index);

} // namespace operations
