#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sensorsim {

// True when `bytes` is exactly one request whose length its function code fixes (or its
// byte count gives) and whose CRC checks out. Such a frame can be handled at once instead
// of after the silence that would otherwise end it, which keeps the reply's latency and
// the arrival timestamp honest. Anything else waits for the silence.
bool isCompleteRequest(std::span<const std::uint8_t> bytes);

} // namespace sensorsim
