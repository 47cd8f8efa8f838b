#pragma once

#include <cstdint>
#include <span>

namespace sensorsim {

// CRC-16 as used on Modbus RTU lines (reflected polynomial 0xA001, initial value 0xFFFF).
// Frames carry it low byte first.
std::uint16_t crc16Modbus(std::span<const std::uint8_t> bytes);

} // namespace sensorsim
