// The line's rows of the calibration log, and a module's history read back from it.

#include "linerecord.h"

#include "extras/record/csvfile.h"

#include <QFile>
#include <QLocale>

#include <algorithm>

namespace calibration {
namespace {

QString Percent(double percent) {
    return QLocale::c().toString(percent, 'f', 2);
}

// One side of the adjustment at a level, in the single module's terms.
Measured Side(std::optional<std::uint16_t> coefficient, std::optional<std::uint16_t> offset,
              const std::optional<Point> &point) {
    Measured side{coefficient, offset, std::nullopt, std::nullopt};
    if (point) {
        side.stats = point->stats;
        side.errorPercent = point->errorPercent;
    }
    return side;
}

} // namespace

QList<QByteArray> LogRows(const LineSetup &setup, const ModuleRecord &module) {
    Record record;
    record.started = setup.started;
    record.port = setup.port;
    record.rate = setup.rate;
    record.device = QString::number(module.address);
    record.operatorName = setup.operatorName;
    record.instrument = setup.instrument;
    record.certificate = setup.instrumentCertificate;
    record.tolerance = setup.tolerance;
    record.seconds = setup.seconds;
    record.writes = module.writes;
    record.status = QString(module.state).replace(u'\n', u' ').trimmed(); // one line in the log
    // As left, the coefficient is the one read back after the write; with nothing written it
    // is the one found, and after a write that was not read back it is not known. The offset
    // is never written. A level with nothing as left has that side empty, as a single
    // module's row has when it was not adjusted.
    const std::optional<std::uint16_t> leftCoefficient =
        module.leftCoefficient  ? module.leftCoefficient
        : module.writes.empty() ? module.foundCoefficient
                                : std::nullopt;
    const std::optional<double> linearity = Linearity(module);
    QList<QByteArray> rows;
    for (size_t i = 0; i < module.levels.size(); ++i) {
        const Level &level = module.levels[i];
        record.reference = level.reference;
        record.asFound = Side(module.foundCoefficient, module.foundOffset, level.asFound);
        record.asLeft = module.leftCoefficient || level.asLeft
                            ? Side(leftCoefficient, module.foundOffset, level.asLeft)
                            : Measured{};
        const std::optional<Point> &judged = JudgedPoint(module, level);
        record.passed = !module.failed && judged && judged->conforms;
        const auto uncertainty = [](const std::optional<Point> &point) {
            return point ? Percent(point->uncertaintyPercent) : QString();
        };
        rows << LogRow(record,
                       {module.label, module.certificateNumber, QString::number(i + 1),
                        QLocale::c().toString(setup.referenceUPercent, 'g', 10),
                        setup.instrumentDue.toString(Qt::ISODate), setup.temperature,
                        setup.humidity, uncertainty(level.asFound), uncertainty(level.asLeft),
                        linearity ? Percent(*linearity) : QString()});
    }
    return rows;
}

std::optional<QString> AppendLineToLog(const QString &path, const LineSetup &setup,
                                       const std::vector<ModuleRecord> &modules) {
    QList<QByteArray> rows;
    for (const ModuleRecord &module : modules)
        rows << LogRows(setup, module);
    if (rows.isEmpty())
        return std::nullopt;
    return AppendRowsToLog(path, rows);
}

std::variant<std::vector<HistoryEntry>, QString> ReadHistory(const QString &path,
                                                             const QString &label) {
    std::vector<HistoryEntry> entries;
    QFile file(path);
    if (!file.exists())
        return entries;
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    const std::vector<csv::Row> rows = csv::ReadRows(bytes);
    if (rows.empty())
        return entries; // begun, not written to
    // Columns by name, so that one added later moves none of them.
    const QStringList &header = rows.front().fields;
    const auto column = [&header](const QString &name) { return header.indexOf(name); };
    const qsizetype time = column(QStringLiteral("时间")),
                    reference = column(QStringLiteral("参考值")),
                    found = column(QStringLiteral("调整前误差(%)")),
                    left = column(QStringLiteral("调整后误差(%)")),
                    result = column(QStringLiteral("结果")),
                    labelled = column(QStringLiteral("标签")),
                    certificate = column(QStringLiteral("证书编号"));
    if (std::min({time, reference, found, left, result}) < 0)
        return QStringLiteral("该文件不是本程序的校准记录");
    // A log begun before a line's columns holds no labels; an empty label names no module.
    const QString wanted = label.trimmed();
    if (labelled < 0 || certificate < 0 || wanted.isEmpty())
        return entries;
    for (size_t r = 1; r < rows.size(); ++r) {
        // A row of other fields than the header's does not say which is which.
        const QStringList &f = rows[r].fields;
        if (rows[r].whole && f.size() == header.size() && f[labelled].trimmed() == wanted)
            entries.push_back(
                {f[time], f[certificate], f[reference], f[found], f[left], f[result]});
    }
    return entries;
}

} // namespace calibration
