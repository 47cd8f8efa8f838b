#include "runtime.h"

namespace rt {
namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool IsDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Moves i past a run of digits and returns how many there were.
qsizetype SkipDigits(QStringView text, qsizetype &i, qsizetype end) {
    const qsizetype start = i;
    while (i < end && IsDigit(text[i]))
        ++i;
    return i - start;
}

void SkipSign(QStringView text, qsizetype &i, qsizetype end) {
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        ++i;
}

// Returns the number's text without the surrounding blanks, or an empty view when the
// text does not follow the grammar.
QStringView NumberPart(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;

    qsizetype i = begin;
    SkipSign(text, i, end);
    qsizetype digits = SkipDigits(text, i, end);
    if (i < end && text[i] == u'.') {
        ++i;
        digits += SkipDigits(text, i, end);
    }
    if (digits == 0)
        return {};
    if (i < end && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        SkipSign(text, i, end);
        if (SkipDigits(text, i, end) == 0)
            return {};
    }
    if (i != end)
        return {};
    return text.sliced(begin, end - begin);
}

} // namespace

std::optional<double> ToNumber(QStringView text) {
    const QStringView number = NumberPart(text);
    if (number.isEmpty())
        return std::nullopt;
    // The grammar is ASCII only, so the C-locale conversion sees exactly what was checked.
    // Past the grammar, a conversion can only fail by overflow (refused: no double holds
    // it) or underflow (a value too close to zero to tell from it).
    bool ok = false;
    const double v = number.toString().toDouble(&ok);
    if (!std::isfinite(v))
        return std::nullopt;
    return ok ? v : 0.0;
}

bool IsNumeric(QStringView text) {
    return ToNumber(text).has_value();
}

double RoundHalfEven(double v) {
    if (!std::isfinite(v))
        return v;
    const double below = std::floor(v);
    const double fraction = v - below;
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
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
