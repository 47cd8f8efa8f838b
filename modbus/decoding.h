#pragma once
// What a reply shows in the window, by the operation it answers. The decoders trust the
// bytes: no CRC, address or length test. A byte beyond those received is not read; the
// value it would have filled keeps what it held (see each function).

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace modbus {

// The measured-value boxes are channels 0 to 3.
inline constexpr int kChannels = 4;

struct MeasuredDisplay {
    // New text for each channel's box, and the register value it shows; empty where the
    // box keeps its text.
    std::array<std::optional<QString>, kChannels> text;
    std::array<std::optional<std::uint16_t>, kChannels> value;
    // Channels whose text colour is set to black. They follow the pair counter, not the
    // channel a value went to.
    std::array<bool, kChannels> black{};
};

// A read-registers reply to the measurement query: one value per four data bytes (the
// second register of each pair is not shown), placed from the channel the start address
// gives (start 0 or 1 -> channel 0, 2 -> 2, 3 -> 4, ...). A start text that is not a
// number counts as 0. A reply of fewer than 3 bytes has no byte count and shows nothing.
MeasuredDisplay DecodeMeasured(const QByteArray &reply, QStringView startText);

// Text of channel n's value: 0 as an integer, 1 and 3 in hundredths, 2 in ten-thousandths.
QString ChannelText(int channel, std::uint16_t value);
// The number that text stands for, and its decimals.
double ChannelValue(int channel, std::uint16_t value);
int ChannelDecimals(int channel);

// The registers of a read reply, as many as its byte count announces and it holds.
std::vector<std::uint16_t> ReplyRegisters(const QByteArray &reply);

// A calibration parameter's register value as its box shows it: index 0 in
// ten-thousandths, 1 and 2 as integers. Empty for an index without a box.
std::optional<QString> ParameterText(std::int16_t paramIndex, std::uint16_t value);

// The register of a parameter-read reply: bytes 3 and 4, missing ones counted as 0.
std::uint16_t ParameterRegister(const QByteArray &reply);

// Byte 3 of an address reply as a decimal number; empty for a reply of fewer than 4 bytes.
std::optional<QString> DecodeAddress(const QByteArray &reply);

} // namespace modbus
