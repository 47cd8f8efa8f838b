#pragma once

#include <cstdint>

namespace sensorsim {

namespace reg {

// Measurement block, readable as holding (function 3) and input (function 4) registers.
// Registers the module leaves unused in the block read as 0.
inline constexpr int illuminance = 0; // lx, after coefficient and offset
inline constexpr int temperature = 2; // degrees Celsius x 100
inline constexpr int rangeCoefficient = 4;
inline constexpr int offset = 5;
inline constexpr int gain = 6;
inline constexpr int blockSize = 16;

// Settings are written at their own addresses and show up in the measurement block.
inline constexpr int rangeCoefficientSetting = 0x0A04;
inline constexpr int offsetSetting = 0x0A05;
inline constexpr int gainSetting = 0x0A06;
inline constexpr int unitAddress = 0x0B00;

inline constexpr int mapSize = unitAddress + 1;

inline constexpr std::uint16_t defaultRangeCoefficient = 10000; // x10000, so 1.0
inline constexpr std::uint16_t defaultOffset = 0;
inline constexpr std::uint16_t defaultGain = 1;

} // namespace reg

inline constexpr int minUnitAddress = 1;
inline constexpr int maxUnitAddress = 247;

// The measurement block, the settings and the unit address; anything else is refused.
bool isReadable(int address);

// Only the settings and the unit address accept writes; the module rejects the rest.
bool isWritable(int address);

// The measurement-block register a settings address feeds, or -1.
int settingTarget(int address);

// What register 0 shows: the raw reading scaled by the coefficient (register 4 / 10000),
// plus the offset (register 5), rounded and held within a register's range.
std::uint16_t scaledReading(double rawLux, std::uint16_t coefficient, std::uint16_t offset);

} // namespace sensorsim
