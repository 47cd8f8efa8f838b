#pragma once
// What a calibration of a whole line leaves behind, free of widgets: every module's figures
// at each reference level, the rows of the calibration log, one certificate per module, and
// a module's earlier calibrations read back from the log by its label.

#include "calibration.h"
#include "calibrationrecord.h"

#include <QDate>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace calibration {

// One module measured at one level.
struct Point {
    Stats stats;
    double errorPercent = 0;
    double uncertaintyPercent = 0; // U, k = 2, in percent of the reference
    bool conforms = false;         // Conforms(error, U, tolerance)
};

// A reference level: before the adjustment (as found) and after it (as left).
struct Level {
    double reference = 0;
    std::optional<Point> asFound, asLeft;
    // The point its result is judged on: as left once there is one.
    const std::optional<Point> &Final() const { return asLeft ? asLeft : asFound; }
};

// What holds for every module of the line.
struct LineSetup {
    QDateTime started;
    QString version, port, rate;
    QString operatorName, instrument, instrumentCertificate;
    QDate instrumentDue;           // the reference's calibration is due then
    bool overdueConfirmed = false; // its due date had passed, and the technician went on
    double referenceUPercent = 0;  // the reference's expanded uncertainty, k = 2, in %
    double tolerance = 0;          // in %
    int seconds = 0;               // each measurement's length
    double resolution = 1;         // one step of the module's reading
    QString temperature, humidity; // as typed: "23.5", "45"
};

struct ModuleRecord {
    std::uint8_t address = 0;
    QString label; // its serial number or label, as the technician typed it
    std::optional<std::uint16_t> foundCoefficient, foundOffset;
    std::optional<std::uint16_t> leftCoefficient; // as read back after a write
    std::vector<Level> levels;                    // in the order measured
    std::vector<Write> writes;
    QString state;       // what happened to it last, in a sentence
    bool failed = false; // no answer, a write that did not take: the others went on
    bool restored = false;
    QString certificateNumber; // once its certificate is written
};

// The point a level of `module` is judged on: its final one, but only as left once the
// module holds another coefficient than it was found with, since what was measured before
// says nothing about the module as it is now.
const std::optional<Point> &JudgedPoint(const ModuleRecord &module, const Level &level);
// The largest error's size over the levels' judged points, in percent; nothing without one.
std::optional<double> Linearity(const ModuleRecord &module);
// Not failed, and every level's judged point conforms; false without a point.
bool Passed(const ModuleRecord &module);
// The reference's calibration was due before `today`.
bool Overdue(const LineSetup &setup, const QDate &today);

// The log rows of a module, one per level, in the calibration log's columns.
QList<QByteArray> LogRows(const LineSetup &setup, const ModuleRecord &module);
// Appends every module's rows to the log at path, as AppendToLog does; why it could not, or
// nothing.
std::optional<QString> AppendLineToLog(const QString &path, const LineSetup &setup,
                                       const std::vector<ModuleRecord> &modules);

// An earlier calibration of a module, one log row.
struct HistoryEntry {
    QString time;                  // as the log holds it
    QString certificate;           // its certificate number
    QString reference;             // the level's reference value
    QString foundError, leftError; // "-5.00", as the log holds them; empty when not measured
    QString result;                // "合格", "不合格"
};
// The rows of the log at path whose label is `label`, oldest first; an empty list when the
// log does not exist yet, and the reason when it cannot be read.
std::variant<std::vector<HistoryEntry>, QString> ReadHistory(const QString &path,
                                                             const QString &label);

// The module's certificate, its pages numbered; why it could not, or nothing.
std::optional<QString> WriteLineCertificate(const QString &path, const LineSetup &setup,
                                            const ModuleRecord &module);

} // namespace calibration
