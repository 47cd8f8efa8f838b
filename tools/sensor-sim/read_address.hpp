#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace sensorsim {

// The module answers a proprietary "who are you" query on the reserved unit 250 with
// function 0x25. It is not a standard Modbus function, so libmodbus cannot parse it and
// the bridge answers it itself.
inline constexpr std::array<std::uint8_t, 8> readAddressRequest{0xFA, 0x25, 0x02, 0x00,
                                                                0x00, 0x01, 0x99, 0xFE};

bool isReadAddressRequest(std::span<const std::uint8_t> frame);

// Reply: FA 25 01 <address> followed by the CRC, low byte first.
std::array<std::uint8_t, 6> readAddressReply(std::uint8_t address);

} // namespace sensorsim
