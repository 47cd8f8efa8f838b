#pragma once
// Number services shared by every handler: the numeric test, floored and rounded
// conversions with their ranges, checked arithmetic and the decimal formats.
// A conversion that cannot be made returns an empty optional; callers that tolerate
// errors simply skip the step.

#include <QString>
#include <QStringView>
#include <QtNumeric>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>

namespace rt {

// True for a plain decimal number: optional blanks (space, tab) around it, an optional
// sign, digits with an optional decimal point, and an optional exponent ("1e3", " -2.5 ",
// ".5", "7."). False for the empty text and for anything else, including numbers that do
// not fit a double.
bool IsNumeric(QStringView text);

// The value of a text that passes IsNumeric; empty otherwise. Both use one grammar, so a
// text that the test accepts always converts.
std::optional<double> ToNumber(QStringView text);

// Integer types the conversions produce: byte, 16-bit and 32-bit signed.
template <typename T>
concept RuntimeInt = std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int16_t> ||
    std::is_same_v<T, std::int32_t>;

template <RuntimeInt T> std::optional<T> InRange(double whole) {
    if (!std::isfinite(whole) || whole < static_cast<double>(std::numeric_limits<T>::min()) ||
        whole > static_cast<double>(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(whole);
}

// Integer part rounded toward minus infinity: 2.9 -> 2, -0.5 -> -1.
template <RuntimeInt T> std::optional<T> FlooredTo(double v) {
    return InRange<T>(std::floor(v));
}

// Nearest integer, halves to even: 2.5 -> 2, 3.5 -> 4, -2.5 -> -2. Independent of the
// floating-point rounding mode.
double RoundHalfEven(double v);
template <RuntimeInt T> std::optional<T> RoundedTo(double v) {
    return InRange<T>(RoundHalfEven(v));
}

template <RuntimeInt T> std::optional<T> FlooredTo(QStringView text) {
    const auto v = ToNumber(text);
    return v ? FlooredTo<T>(*v) : std::nullopt;
}
template <RuntimeInt T> std::optional<T> RoundedTo(QStringView text) {
    const auto v = ToNumber(text);
    return v ? RoundedTo<T>(*v) : std::nullopt;
}

// Addition that fails instead of wrapping around.
template <typename T> std::optional<T> CheckedAdd(T a, T b) {
    T sum;
    if (qAddOverflow(a, b, &sum))
        return std::nullopt;
    return sum;
}

// Decimal text of an integer: no leading zeros, no blanks, '-' when negative.
QString DecimalText(long long value);

// The patterns "#0.00" (decimals = 2) and "#0.0000" (decimals = 4): at least one digit
// before the point, exactly `decimals` after it, always a '.' whatever the locale.
QString FormatFixed(double value, int decimals);

} // namespace rt
