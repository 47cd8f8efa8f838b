#pragma once

#include <cstdint>

namespace sensorsim {

namespace reg {

// Measurement block, readable as holding (function 3) and input (function 4) registers.
inline constexpr int illuminance = 0;
inline constexpr int rangeCoefficient = 4;
inline constexpr int offset = 5;
inline constexpr int gain = 6;
inline constexpr int blockSize = 7;

// Settings are written at their own addresses and show up in the measurement block.
inline constexpr int rangeCoefficientSetting = 0x0A04;
inline constexpr int offsetSetting = 0x0A05;
inline constexpr int gainSetting = 0x0A06;
inline constexpr int unitAddress = 0x0B00;

inline constexpr int mapSize = unitAddress + 1;

inline constexpr std::uint16_t defaultRangeCoefficient = 10000;
inline constexpr std::uint16_t defaultOffset = 0;
inline constexpr std::uint16_t defaultGain = 1;

} // namespace reg

inline constexpr int minUnitAddress = 1;
inline constexpr int maxUnitAddress = 247;

// Only the settings and the unit address accept writes; the module rejects the rest.
bool isWritable(int address);

// The measurement-block register a settings address feeds, or -1.
int settingTarget(int address);

// A lamp-lit room drifting a little: a triangle wave within 480..520 lx, so successive
// readings always differ and stay in a believable range.
class IlluminanceWalk {
public:
    std::uint16_t next();

private:
    int value_ = 500;
    int step_ = 4;
};

} // namespace sensorsim
