#include "decoding.h"

#include "app/runtime.h"

#include <algorithm>
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

int ChannelDecimals(int channel) {
    switch (channel) {
    case 0:
        return 0;
    case 2:
        return 4;
    default:
        return 2;
    }
}

double ChannelValue(int channel, std::uint16_t value) {
    switch (ChannelDecimals(channel)) {
    case 0:
        return value;
    case 4:
        return value / 10000.0;
    default:
        return value / 100.0;
    }
}

QString ChannelText(int channel, std::uint16_t value) {
    const int decimals = ChannelDecimals(channel);
    return decimals == 0 ? rt::DecimalText(value)
                         : rt::FormatFixed(ChannelValue(channel, value), decimals);
}

std::vector<std::uint16_t> ReplyRegisters(const QByteArray &reply) {
    std::vector<std::uint16_t> registers;
    const auto count = ByteAt(reply, 2);
    if (!count)
        return registers;
    // The data bytes the byte count announces, as far as they came.
    const qsizetype end = std::min<qsizetype>(reply.size(), 3 + *count);
    for (qsizetype high = 3; high + 1 < end; high += 2)
        registers.push_back(Register(*ByteAt(reply, high), *ByteAt(reply, high + 1)));
    return registers;
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
            shown.value[c] = Register(high, low);
            shown.text[c] = ChannelText(c, *shown.value[c]);
        }
        if (k < kChannels)
            shown.black[k] = true;
    }
    return shown;
}

std::uint16_t ParameterRegister(const QByteArray &reply) {
    return Register(ByteAt(reply, 3).value_or(0), ByteAt(reply, 4).value_or(0));
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
