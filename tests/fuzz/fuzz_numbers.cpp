// The number services and the decoders on arbitrary text and bytes. The input is split at
// its first zero byte: the text before it goes through the numeric test and every
// conversion (read as UTF-8 and as Latin-1), the bytes after it are a reply for the
// decoders, with the text as the start address. The first 8 bytes are also taken as a
// double for the formats and the conversions from a double.

#include "app/runtime.h"
#include "fuzzcheck.h"
#include "modbus/decoding.h"
#include "operations/parameterencoding.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The grammar the header describes, written independently of the product's scanner.
bool MatchesGrammar(const QString &text) {
    static const QRegularExpression grammar(
        QStringLiteral(R"(\A[ \t]*[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?[ \t]*\z)"));
    return grammar.match(text).hasMatch();
}

// The nearest double to the text (which matches the grammar), or empty when it is too large
// for one. Values too close to zero for a normal double come back as 0 or unchanged.
std::optional<double> Reference(const QString &text) {
    QByteArray ascii = text.trimmed().toLatin1();
    if (ascii.startsWith('+'))
        ascii.remove(0, 1);
    double v = 0;
    const auto [end, error] = std::from_chars(ascii.constData(), ascii.constEnd(), v);
    Require(end == ascii.constEnd(), "reference did not read the whole number");
    if (error == std::errc::result_out_of_range)
        return std::nullopt; // overflow or underflow; told apart by the caller
    return v;
}

template <rt::RuntimeInt T> void CheckConversions(double v) {
    constexpr double lo = double(std::numeric_limits<T>::min());
    constexpr double hi = double(std::numeric_limits<T>::max());
    const double f = std::floor(v);
    const auto floored = rt::FlooredTo<T>(v);
    Require(floored.has_value() == (f >= lo && f <= hi), "FlooredTo range");
    if (floored)
        Require(double(*floored) == f, "FlooredTo value");

    const double r = rt::RoundHalfEven(v);
    if (std::isfinite(v)) {
        Require(r == std::floor(r) && std::fabs(r - v) <= 0.5, "RoundHalfEven not nearest");
        if (std::fabs(r - v) == 0.5)
            Require(std::fmod(r, 2.0) == 0.0, "RoundHalfEven tie not even");
    }
    const auto rounded = rt::RoundedTo<T>(v);
    Require(rounded.has_value() == (std::isfinite(r) && r >= lo && r <= hi), "RoundedTo range");
    if (rounded)
        Require(double(*rounded) == r, "RoundedTo value");
}

// "#0.00" / "#0.0000": an optional minus, digits, a point, exactly `decimals` digits, and
// no minus on a text that reads as zero.
void CheckFixed(double v, int decimals) {
    const QString text = rt::FormatFixed(v, decimals);
    static const QRegularExpression two(QStringLiteral(R"(\A-?[0-9]+\.[0-9]{2}\z)"));
    static const QRegularExpression four(QStringLiteral(R"(\A-?[0-9]+\.[0-9]{4}\z)"));
    Require((decimals == 2 ? two : four).match(text).hasMatch(), "FormatFixed pattern");
    const auto back = rt::ToNumber(text);
    Require(back.has_value(), "FormatFixed text is not numeric");
    if (text.startsWith(u'-'))
        Require(*back != 0.0, "FormatFixed shows -0");
    Require(std::fabs(*back - v) <=
                0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + std::fabs(v) * 1e-15,
            "FormatFixed value");
}

void CheckText(const QString &text) {
    const auto number = rt::ToNumber(text);
    Require(rt::IsNumeric(text) == number.has_value(), "IsNumeric and ToNumber disagree");
    Require(!number || std::isfinite(*number), "ToNumber gave a value that is not finite");
    // Only the grammar converts, and everything in it that fits a double does.
    const bool grammar = MatchesGrammar(text);
    if (number)
        Require(grammar, "ToNumber accepted text outside the grammar");
    if (grammar) {
        const auto expected = Reference(text);
        if (expected)
            Require(number && *number == *expected, "ToNumber value differs from the nearest");
        else
            Require(!number || std::fabs(*number) < 1e-300, "overflow converted");
    }

    const auto u8 = rt::FlooredTo<std::uint8_t>(text);
    const auto i16 = rt::RoundedTo<std::int16_t>(text);
    const auto i32 = rt::FlooredTo<std::int32_t>(text);
    if (number) {
        CheckConversions<std::uint8_t>(*number);
        CheckConversions<std::int16_t>(*number);
        CheckConversions<std::int32_t>(*number);
        Require(u8 == rt::FlooredTo<std::uint8_t>(*number), "FlooredTo text and number");
        Require(i16 == rt::RoundedTo<std::int16_t>(*number), "RoundedTo text and number");
        Require(i32 == rt::FlooredTo<std::int32_t>(*number), "FlooredTo text and number");
    } else {
        Require(!u8 && !i16 && !i32, "a text that is not numeric converted");
    }

    for (int index = 0; index < 3; ++index) {
        const auto value = operations::ParameterRegisterValue(text, index);
        if (!value)
            continue;
        Require(number.has_value(), "a parameter that is not numeric encoded");
        Require(std::fabs(static_cast<float>(*number)) <= 65535.0f, "parameter beyond 65535");
        // What the window shows after reading the register back.
        const char reply[] = {1, 3, 2, char(*value >> 8), char(*value & 0xFF)};
        const auto shown = modbus::ParameterText(std::int16_t(index),
                                                 modbus::ParameterRegister(QByteArray(reply, 5)));
        Require(shown.has_value(), "no text for a parameter box");
        const auto back = rt::ToNumber(*shown);
        Require(back.has_value(), "parameter box text not numeric");
        Require(*back == (index == 0 ? *value / 10000.0 : double(*value)),
                "parameter read back differs");
        // Whole entries in range are written as they are, negative ones as two's complement.
        if (index > 0 && *number == std::floor(*number) && std::fabs(*number) <= 65535)
            Require(*value == std::uint16_t(*number < 0 ? *number + 65536 : *number),
                    "whole parameter not written as itself");
    }
}

void CheckDecoders(const QByteArray &reply, const QString &start, std::int16_t paramIndex) {
    auto byteAt = [&](qsizetype i) -> std::optional<std::uint8_t> {
        return i < reply.size() ? std::optional<std::uint8_t>(std::uint8_t(reply[i]))
                                : std::nullopt;
    };

    const modbus::MeasuredDisplay shown = modbus::DecodeMeasured(reply, start);
    const int count = byteAt(2).value_or(0);
    const int pairs = reply.size() < 3 || count < 2 ? 0 : (count - 2) / 4 + 1;
    const auto startNumber = rt::ToNumber(start);
    const double base =
        !startNumber || std::floor(*startNumber) == 0 ? 0 : 2 * (std::floor(*startNumber) - 1);
    std::array<std::optional<QString>, modbus::kChannels> expected;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    for (int k = 0; k < pairs; ++k) {
        high = byteAt(3 + 4 * k).value_or(high);
        low = byteAt(4 + 4 * k).value_or(low);
        const double channel = base + k;
        if (channel >= 0 && channel < modbus::kChannels)
            expected[int(channel)] =
                modbus::ChannelText(int(channel), std::uint16_t(256 * high + low));
    }
    for (int c = 0; c < modbus::kChannels; ++c) {
        Require(shown.text[c] == expected[c], "measured value in the wrong box");
        Require(shown.black[c] == (c < pairs), "black boxes do not follow the pairs");
    }

    const auto parameter = modbus::ParameterText(paramIndex, modbus::ParameterRegister(reply));
    Require(parameter.has_value() == (paramIndex >= 0 && paramIndex <= 2), "parameter box");

    const auto address = modbus::DecodeAddress(reply);
    Require(address.has_value() == (reply.size() >= 4), "address without its byte");
    if (address)
        Require(*address == QString::number(std::uint8_t(reply[3])), "address text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype zero = input.indexOf('\0');
    const QByteArray textBytes = zero < 0 ? input : input.first(zero);
    const QByteArray reply = zero < 0 ? QByteArray() : input.sliced(zero + 1);

    const QString latin1 = QString::fromLatin1(textBytes);
    CheckText(QString::fromUtf8(textBytes));
    CheckText(latin1);

    std::int16_t paramIndex = 0;
    std::memcpy(&paramIndex, input.constData(), std::min<std::size_t>(size, 2));
    CheckDecoders(reply, latin1, paramIndex);

    if (size >= 8) {
        double v = 0;
        std::memcpy(&v, data, sizeof v);
        CheckConversions<std::uint8_t>(v);
        CheckConversions<std::int16_t>(v);
        CheckConversions<std::int32_t>(v);
        if (std::isfinite(v)) {
            CheckFixed(v, 2);
            CheckFixed(v, 4);
        }
    }
    return 0;
}
