#include "runtime.h"

#include <QRegularExpression>

namespace rt {

std::optional<double> ToNumber(QStringView text) {
    // Blanks (space, tab) around an optional sign, digits with an optional point, and an
    // optional exponent. ASCII digits only, so the C-locale conversion sees exactly what was
    // checked.
    static const QRegularExpression grammar(QRegularExpression::anchoredPattern(
        QStringLiteral("[ \\t]*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t]*")));
    const QRegularExpressionMatch match = grammar.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    // Past the grammar, a conversion can only fail by overflow (refused: no double holds
    // it) or underflow (a value too close to zero to tell from it).
    bool ok = false;
    const double v = match.captured(1).toDouble(&ok);
    if (!std::isfinite(v))
        return std::nullopt;
    return ok ? v : 0.0;
}

bool IsNumeric(QStringView text) {
    return ToNumber(text).has_value();
}

double RoundHalfEven(double v) {
    // remainder() takes away the nearest integer, ties to even, whatever the rounding mode.
    return std::isfinite(v) ? v - std::remainder(v, 1.0) : v;
}

QString DecimalText(long long value) {
    return QString::number(value);
}

QString FormatFixed(double value, int decimals) {
    QString text = QString::number(value, 'f', decimals);
    // A value that rounds to zero must not show as "-0.00".
    if (text.startsWith(u'-') && QStringView(text).sliced(1).toString().toDouble() == 0.0)
        text.remove(0, 1);
    return text;
}

} // namespace rt
