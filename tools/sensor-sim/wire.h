#pragma once
// What the line itself does to frames: the RTU CRC every frame carries, and what a master
// hears when two modules answer at once.

#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace sensorsim {

// CRC-16 as used on Modbus RTU lines (reflected polynomial 0xA001, initial value 0xFFFF),
// carried low byte first.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes);

// `frame` with its CRC appended.
std::vector<std::uint8_t> WithCrc(std::vector<std::uint8_t> frame);

// True when `frame` ends in the CRC of what comes before it.
bool CrcOk(std::span<const std::uint8_t> frame);

// Several replies driven onto the line at once, as the master's UART reads them back. Two
// drivers never start on the same bit: each reply after the first starts 1 to 9 bit times
// later (drawn from `random`, so --seed makes it reproducible). The idle line is high and
// either driver pulls it low, so the line carries the AND of the bit streams; the result is
// read as a UART does, a byte from every start bit. Never a valid frame: should it check
// out by chance, its last byte is inverted.
std::vector<std::uint8_t> Collide(std::span<const std::vector<std::uint8_t>> replies,
                                  std::mt19937 &random);

} // namespace sensorsim
