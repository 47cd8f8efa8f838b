#include "calibrationrecord.h"

#include "extras/record/csvfile.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

namespace calibration {
namespace {

// The header; no column holds a comma. A single module's columns came first; those a line's
// rows add follow them, so a log begun before them only needs them added at the end.
QStringList SingleColumns() {
    return QStringLiteral("时间,操作员,参考仪器,参考仪器证书编号,串口,波特率,设备地址,参考值,"
                          "允许误差(%),测量时间(s),调整前系数,调整前偏移量,调整前读数个数,"
                          "调整前平均值,调整前标准差,调整前误差(%),调整后系数,调整后偏移量,"
                          "调整后读数个数,调整后平均值,调整后标准差,调整后误差(%),结果,状态,"
                          "最后写入,写入记录")
        .split(u',');
}

QStringList LineColumns() {
    return QStringLiteral("标签,证书编号,检定点,参考仪器扩展不确定度(%),参考仪器有效期至,温度(℃),"
                          "相对湿度(%),调整前扩展不确定度(%),调整后扩展不确定度(%),线性(%)")
        .split(u',');
}

QStringList Columns() {
    return SingleColumns() + LineColumns();
}

QString Number(double value, int decimals) {
    return QLocale::c().toString(value, 'f', decimals);
}

void AppendMeasured(QByteArray &row, const Measured &m) {
    const auto field = [&row](const QString &text) { csv::AppendField(row, text); };
    field(m.coefficient ? CoefficientText(*m.coefficient) : QString());
    field(m.offset ? QString::number(*m.offset) : QString());
    field(m.stats ? QString::number(m.stats->count) : QString());
    field(m.stats ? Number(m.stats->mean, 3) : QString());
    field(m.stats ? Number(m.stats->deviation, 3) : QString());
    field(m.errorPercent ? Number(*m.errorPercent, 2) : QString());
}

// A log begun before a line's columns were added, rewritten with the present header and
// each row given those columns empty, its bytes otherwise as they were. QSaveFile writes
// the whole file beside the old one and only then puts it in its place, so a failure
// leaves the old log as it was. Any other file is left to AppendRows to accept or refuse.
std::optional<QString> Widen(const QString &path) {
    QFile file(path);
    const QByteArray oldStart = csv::FileStart(SingleColumns());
    if (!file.open(QIODevice::ReadOnly) || file.peek(oldStart.size()) != oldStart)
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    file.close(); // Windows replaces no file that is still open
    // Split as RFC 4180 reads it: a quoted field may hold a line break.
    const std::vector<csv::Row> rows = csv::ReadRows(bytes);
    const QByteArray empty(LineColumns().size(), ',');
    QByteArray widened = LogStart();
    qsizetype from = oldStart.size();
    for (size_t r = 1; r < rows.size(); ++r) {
        if (!rows[r].whole)
            return QStringLiteral("该文件最后一行不完整，未写入任何内容");
        widened += bytes.sliced(from, rows[r].end - from);
        if (rows[r].fields != QStringList{QString()}) // a blank line stays blank
            widened += empty;
        from = rows[r].end;
    }
    widened += bytes.sliced(from);
    QSaveFile save(path);
    if (!save.open(QIODevice::WriteOnly) || save.write(widened) != widened.size() || !save.commit())
        return save.errorString();
    return std::nullopt;
}

} // namespace

QString MeasuredText(const Measured &m) {
    QString text;
    if (m.coefficient)
        text += QStringLiteral("系数 %1，").arg(CoefficientText(*m.coefficient));
    if (m.stats)
        text += QStringLiteral("%1 个读数，平均值 %2，标准差 %3，")
                    .arg(m.stats->count)
                    .arg(Number(m.stats->mean, 3), Number(m.stats->deviation, 3));
    if (m.errorPercent)
        text += QStringLiteral("误差 %1").arg(PercentText(*m.errorPercent));
    return text;
}

QString LastWriteText(const Record &record) {
    if (record.writes.empty())
        return QStringLiteral("未写入任何内容");
    const Write &last = record.writes.back();
    return QStringLiteral("最后写入：%1（%2）")
        .arg(last.what, last.confirmed ? QStringLiteral("已确认") : QStringLiteral("未确认"));
}

QByteArray LogStart() {
    return csv::FileStart(Columns());
}

QByteArray LogRow(const Record &record, const QStringList &lineFields) {
    QByteArray row;
    csv::AppendTime(row, record.started);
    const QLocale c = QLocale::c();
    for (const QString &field :
         {record.operatorName, record.instrument, record.certificate, record.port, record.rate,
          record.device, c.toString(record.reference, 'g', 10),
          c.toString(record.tolerance, 'g', 10), QString::number(record.seconds)})
        csv::AppendField(row, field);
    AppendMeasured(row, record.asFound);
    AppendMeasured(row, record.asLeft);
    QStringList writes;
    for (const Write &w : record.writes)
        writes << w.time.toString(Qt::ISODate) + u' ' + w.what +
                      (w.confirmed ? QStringLiteral("（已确认）") : QStringLiteral("（未确认）"));
    for (const QString &field :
         {record.passed ? QStringLiteral("合格") : QStringLiteral("不合格"), record.status,
          LastWriteText(record), writes.join(QStringLiteral("; "))})
        csv::AppendField(row, field);
    for (qsizetype i = 0, n = LineColumns().size(); i < n; ++i)
        csv::AppendField(row, lineFields.value(i));
    return row + "\r\n";
}

std::optional<QString> AppendRowsToLog(const QString &path, const QList<QByteArray> &rows) {
    if (auto failure = Widen(path))
        return failure;
    return csv::AppendRows(path, Columns(), rows);
}

std::optional<QString> AppendToLog(const QString &path, const Record &record) {
    return AppendRowsToLog(path, {LogRow(record)});
}

} // namespace calibration
