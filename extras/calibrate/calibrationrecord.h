#pragma once
// What one calibration leaves behind: the row of the calibration log, a CSV file beside
// the recordings that follows their conventions, and the certificate as a PDF file.

#include "calibration.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace calibration {

// One side of the adjustment: what the module held and how it read.
struct Measured {
    std::optional<std::uint16_t> coefficient;
    std::optional<std::uint16_t> offset;
    std::optional<Stats> stats;
    std::optional<double> errorPercent;
};

struct Write {
    QDateTime time;
    QString what;   // "量程缩放系数 1.0526"
    bool confirmed; // the module repeated the request
};

struct Record {
    QDateTime started;
    QString version;
    QString port, rate, device;
    QString operatorName, instrument, certificate;
    double reference = 0, tolerance = 0;
    int seconds = 0;
    Measured asFound, asLeft;
    std::vector<Write> writes;
    QString status; // how it ended, in a sentence
    bool passed = false;
};

// "系数 1.0000，40 个读数，平均值 950.000，标准差 0.000，误差 -5.00 %", of what is known.
QString MeasuredText(const Measured &m);
// "最后写入：量程缩放系数 1.0526（已确认）", or that nothing was written.
QString LastWriteText(const Record &record);

// The log's start (byte-order mark and header) and one row of it. A line's rows carry
// `lineFields` in the columns after a single module's (label first, as LogStart names
// them); the ones not given, and all of them in a single module's row, are empty.
QByteArray LogStart();
QByteArray LogRow(const Record &record, const QStringList &lineFields = {});
// Appends the rows to the log at path as a recording's rows are appended (csvfile.h),
// starting the file when it is new, and syncs it. A log begun before a line's columns were
// added gets them first, empty in its rows. The reason it could not, or nothing; a file
// that is not this log is left as it is.
std::optional<QString> AppendRowsToLog(const QString &path, const QList<QByteArray> &rows);
std::optional<QString> AppendToLog(const QString &path, const Record &record);

// Writes the certificate; the reason it could not, or nothing.
std::optional<QString> WriteCertificate(const QString &path, const Record &record);

} // namespace calibration
