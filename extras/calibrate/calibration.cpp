#include "calibration.h"

#include <QLocale>

#include <cmath>

namespace calibration {

std::optional<Stats> StatsOf(std::span<const Sample> samples) {
    if (samples.empty())
        return std::nullopt;
    Stats stats;
    stats.count = int(samples.size());
    // Times from the first sample, in minutes, so the sums stay small and exact enough.
    const qint64 t0 = samples.front().time;
    double sumT = 0, sumV = 0;
    for (const Sample &s : samples) {
        sumT += double(s.time - t0) / 60'000.0;
        sumV += s.value;
    }
    const double n = double(samples.size());
    const double meanT = sumT / n;
    stats.mean = sumV / n;
    double sumVV = 0, sumTT = 0, sumTV = 0;
    for (const Sample &s : samples) {
        const double dt = double(s.time - t0) / 60'000.0 - meanT;
        const double dv = s.value - stats.mean;
        sumVV += dv * dv;
        sumTT += dt * dt;
        sumTV += dt * dv;
    }
    if (samples.size() > 1)
        stats.deviation = std::sqrt(sumVV / (n - 1));
    if (sumTT > 0)
        stats.slopePerMinute = sumTV / sumTT;
    return stats;
}

bool IsStable(const Stats &stats, double tolerancePercent, double seconds) {
    if (stats.count < kFewestReadings)
        return false;
    const double quarterBand = tolerancePercent / 100.0 * std::abs(stats.mean) / 4.0;
    const double drift = std::abs(stats.slopePerMinute) * seconds / 60.0;
    return stats.deviation <= quarterBand && drift <= quarterBand;
}

std::optional<double> ReferenceIn(const QString &text) {
    bool ok = false;
    const double reference = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(reference) && reference > 0 ? std::optional(reference)
                                                           : std::nullopt;
}

std::optional<double> ToleranceIn(const QString &text) {
    bool ok = false;
    const double tolerance = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && tolerance > 0 && tolerance <= 100 ? std::optional(tolerance) : std::nullopt;
}

std::optional<int> SecondsIn(const QString &text) {
    bool ok = false;
    const int seconds = QLocale::c().toInt(text.trimmed(), &ok);
    return ok && seconds >= 1 && seconds <= 3600 ? std::optional(seconds) : std::nullopt;
}

QString ReferenceRule() {
    return QStringLiteral("参考值应为大于 0 的数字。");
}

QString ToleranceRule() {
    return QStringLiteral("允许误差(%)应为大于 0 且不超过 100 的数字。");
}

QString SecondsRule() {
    return QStringLiteral("测量时间(s)应为 1 到 3600 之间的整数。");
}

double ErrorPercent(double mean, double reference) {
    return (mean - reference) / reference * 100.0;
}

bool WithinTolerance(double errorPercent, double tolerancePercent) {
    return std::abs(errorPercent) <= tolerancePercent;
}

Proposal NewCoefficient(std::uint16_t coefficient, double reference, double mean) {
    Proposal proposal;
    if (!(mean > 0)) {
        proposal.refusal = Refusal::MeanNotPositive;
        return proposal;
    }
    // In register units, so that a product that lies exactly on a half rounds as it reads.
    const double scaled = double(coefficient) * reference / mean;
    proposal.exact = scaled / kCoefficientScale;
    const double rounded = std::round(scaled);
    if (!(rounded >= kLowestCoefficient && rounded <= kHighestCoefficient)) {
        proposal.refusal = Refusal::OutOfRange;
        return proposal;
    }
    proposal.coefficient = static_cast<std::uint16_t>(rounded);
    return proposal;
}

double ExpandedUncertaintyPercent(double referenceUPercent, const Stats &stats, double resolution,
                                  double reference) {
    const double toPercent = 100.0 / reference;
    const double ofReference = referenceUPercent / 2.0;
    const double ofMean =
        stats.count > 1 ? stats.deviation / std::sqrt(double(stats.count)) * toPercent : 0.0;
    const double ofResolution = resolution / 2.0 / std::sqrt(3.0) * toPercent;
    return 2.0 *
           std::sqrt(ofReference * ofReference + ofMean * ofMean + ofResolution * ofResolution);
}

bool Conforms(double errorPercent, double uncertaintyPercent, double tolerancePercent) {
    // A hair of rounding must not fail a module whose figures, as printed, add up exactly.
    return std::abs(errorPercent) + uncertaintyPercent <= tolerancePercent + 1e-9;
}

std::optional<QString> NextCertificateNumber(const QString &number) {
    qsizetype start = number.size();
    while (start > 0 && number[start - 1].isDigit() && number[start - 1].unicode() < 128)
        --start;
    if (start == number.size())
        return std::nullopt;
    QString digits = number.mid(start);
    // Counted up as text, so that no width of digits overflows.
    qsizetype i = digits.size();
    while (i > 0 && digits[i - 1] == u'9')
        digits[--i] = u'0';
    if (i == 0)
        digits.prepend(u'1');
    else
        digits[i - 1] = QChar(digits[i - 1].unicode() + 1);
    return number.left(start) + digits;
}

QString RefusalText(const Proposal &proposal) {
    switch (proposal.refusal) {
    case Refusal::MeanNotPositive:
        return QStringLiteral("测量平均值为零或负数，无法计算新系数，未写入任何内容。");
    case Refusal::OutOfRange:
        return QStringLiteral(
                   "新系数 %1 超出允许范围 %2–%3，未写入任何内容。请检查参考值与测量条件。")
            .arg(QLocale::c().toString(proposal.exact, 'f', 4), CoefficientText(kLowestCoefficient),
                 CoefficientText(kHighestCoefficient));
    case Refusal::None:
        break;
    }
    return {};
}

QString CoefficientText(std::uint16_t coefficient) {
    return QLocale::c().toString(double(coefficient) / kCoefficientScale, 'f', 4);
}

QString PercentText(double percent) {
    // -0.004 would read "-0.00 %"; a rounded zero carries no sign.
    const double shown = std::round(percent * 100.0) / 100.0;
    return QLocale::c().toString(shown == 0 ? 0.0 : shown, 'f', 2) + QStringLiteral(" %");
}

} // namespace calibration
