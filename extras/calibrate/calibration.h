#pragma once
// The arithmetic of a calibration against a reference instrument, free of widgets: the
// statistics of a measurement, when it counts as stable, its error against the reference,
// and the new range coefficient that would bring the mean onto the reference.

#include <QString>

#include <cstdint>
#include <optional>
#include <span>

namespace calibration {

// The coefficient's register holds ten-thousandths; what the module accepts as sensible.
inline constexpr int kCoefficientScale = 10000;
inline constexpr std::uint16_t kLowestCoefficient = 2000;   // 0.2000
inline constexpr std::uint16_t kHighestCoefficient = 50000; // 5.0000
// Fewer readings say nothing about the spread.
inline constexpr int kFewestReadings = 5;

struct Sample {
    qint64 time = 0; // milliseconds
    double value = 0;
};

struct Stats {
    int count = 0;
    double mean = 0;
    double deviation = 0;      // sample standard deviation (n - 1)
    double slopePerMinute = 0; // least-squares drift of the value
};

// Empty without a sample; one sample has no deviation and no slope.
std::optional<Stats> StatsOf(std::span<const Sample> samples);

// Stable: at least kFewestReadings, and both the spread and the drift over the measuring
// time stay within a quarter of the tolerance band (tolerance % of the mean): a reading
// that wanders by that much would move the error by a quarter of what is allowed.
bool IsStable(const Stats &stats, double tolerancePercent, double seconds);

// The technician's figures as typed: a reference reading above 0, a tolerance in percent
// above 0 and at most 100, a measuring time of 1 to 3600 whole seconds; nothing otherwise,
// and the rule in words.
std::optional<double> ReferenceIn(const QString &text);
std::optional<double> ToleranceIn(const QString &text);
std::optional<int> SecondsIn(const QString &text);
QString ReferenceRule();
QString ToleranceRule();
QString SecondsRule();

// (mean - reference) / reference, in percent.
double ErrorPercent(double mean, double reference);
bool WithinTolerance(double errorPercent, double tolerancePercent);

enum class Refusal { None, MeanNotPositive, OutOfRange };

struct Proposal {
    Refusal refusal = Refusal::None;
    std::uint16_t coefficient = 0; // the register value, valid when not refused
    double exact = 0;              // the unrounded coefficient, for the message
};

// coefficient × reference / mean, rounded to the register's ten-thousandths (halves away
// from zero), refused outside kLowestCoefficient..kHighestCoefficient.
Proposal NewCoefficient(std::uint16_t coefficient, double reference, double mean);

// The expanded uncertainty U (k = 2) of an error, in percent of the reference: the
// reference instrument's own (its certificate's U at k = 2, in percent of its reading), the
// standard deviation of the mean of the readings, and the module's resolution (a rectangular
// distribution over one step of its reading) combined as root sum of squares.
double ExpandedUncertaintyPercent(double referenceUPercent, const Stats &stats, double resolution,
                                  double reference);
// The decision rule: conforming when the error's size plus U lies within the tolerance, a
// guard band of U, so that a "合格" stands at least at the 95 % level.
bool Conforms(double errorPercent, double uncertaintyPercent, double tolerancePercent);

// The next certificate number: its last run of digits counted up, its width kept
// ("LC-2026-0099" → "LC-2026-0100"); nothing when it does not end in a digit.
std::optional<QString> NextCertificateNumber(const QString &number);

// Why a proposal is refused, for the technician.
QString RefusalText(const Proposal &proposal);

// "1.0526" for 10526.
QString CoefficientText(std::uint16_t coefficient);
// "-4.87 %", with an ASCII minus.
QString PercentText(double percent);

} // namespace calibration
