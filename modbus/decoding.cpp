#include "decoding.h"

#include "app/runtime.h"

#include <cmath>

namespace modbus {
namespace {

std::optional<std::uint8_t> ByteAt(const QByteArray &bytes, qsizetype i) {
    if (i < 0 || i >= bytes.size())
        return std::nullopt;
    return static_cast<std::uint8_t>(bytes[i]);
}

std::uint16_t Register(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(256 * high + low);
}

// The channel of the first value: 2 x (start - 1), or 0 for start 0 and for a start that
// is not a number. Kept in a double, which cannot overflow for any numeric text.
double BaseChannel(QStringView startText) {
    const auto start = rt::ToNumber(startText);
    if (!start)
        return 0;
    const double whole = std::floor(*start);
    return whole == 0 ? 0 : 2 * (whole - 1);
}

} // namespace

QString ChannelText(int channel, std::uint16_t value) {
    switch (channel) {
    case 0:
        return rt::DecimalText(value);
    case 2:
        return rt::FormatFixed(value / 10000.0, 4);
    default:
        return rt::FormatFixed(value / 100.0, 2);
    }
}

MeasuredDisplay DecodeMeasured(const QByteArray &reply, QStringView startText) {
    MeasuredDisplay shown;
    const auto count = ByteAt(reply, 2);
    if (!count)
        return shown;
    const double base = BaseChannel(startText);

    // The holders start empty (0) and keep the previous pair's byte when a byte is missing.
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    int k = 0;
    for (int i = 3; i <= *count + 1; i += 4, ++k) {
        high = ByteAt(reply, i).value_or(high);
        low = ByteAt(reply, i + 1).value_or(low);
        const double channel = base + k;
        if (channel >= 0 && channel < kChannels) {
            const int c = static_cast<int>(channel);
            shown.text[c] = ChannelText(c, Register(high, low));
        }
        if (k < kChannels)
            shown.black[k] = true;
    }
    return shown;
}

std::optional<QString> DecodeParameter(const QByteArray &reply, std::int16_t paramIndex) {
    return ParameterText(paramIndex,
                         Register(ByteAt(reply, 3).value_or(0), ByteAt(reply, 4).value_or(0)));
}

std::optional<QString> ParameterText(std::int16_t paramIndex, std::uint16_t value) {
    switch (paramIndex) {
    case 0:
        return rt::FormatFixed(value / 10000.0, 4);
    case 1:
    case 2:
        return rt::DecimalText(value);
    default:
        return std::nullopt;
    }
}

std::optional<QString> DecodeAddress(const QByteArray &reply) {
    const auto address = ByteAt(reply, 3);
    if (!address)
        return std::nullopt;
    return rt::DecimalText(*address);
}

} // namespace modbus
