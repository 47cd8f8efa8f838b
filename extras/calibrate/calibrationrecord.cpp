#include "calibrationrecord.h"

#include "extras/record/recordrows.h"

#include <QFile>
#include <QLocale>

namespace calibration {
namespace {

const char16_t *const kColumns[] = {
    u"时间",           u"操作员",        u"参考仪器",       u"参考仪器证书编号",
    u"串口",           u"波特率",        u"设备地址",       u"参考值",
    u"允许误差(%)",    u"测量时间(s)",   u"调整前系数",     u"调整前偏移量",
    u"调整前读数个数", u"调整前平均值",  u"调整前标准差",   u"调整前误差(%)",
    u"调整后系数",     u"调整后偏移量",  u"调整后读数个数", u"调整后平均值",
    u"调整后标准差",   u"调整后误差(%)", u"结果",           u"状态",
    u"最后写入",       u"写入记录"};

QString Number(double value, int decimals) {
    return QLocale::c().toString(value, 'f', decimals);
}

void AppendMeasured(QByteArray &row, const Measured &m) {
    const auto field = [&row](const QString &text) {
        row += ',';
        recording::AppendText(row, text);
    };
    field(m.coefficient ? CoefficientText(*m.coefficient) : QString());
    field(m.offset ? QString::number(*m.offset) : QString());
    field(m.stats ? QString::number(m.stats->count) : QString());
    field(m.stats ? Number(m.stats->mean, 3) : QString());
    field(m.stats ? Number(m.stats->deviation, 3) : QString());
    field(m.errorPercent ? Number(*m.errorPercent, 2) : QString());
}

} // namespace

QString LastWriteText(const Record &record) {
    if (record.writes.empty())
        return QStringLiteral("未写入任何内容");
    const Write &last = record.writes.back();
    return QStringLiteral("最后写入：%1（%2）")
        .arg(last.what, last.confirmed ? QStringLiteral("已确认") : QStringLiteral("未确认"));
}

QByteArray LogStart() {
    QByteArray start("\xEF\xBB\xBF");
    bool first = true;
    for (const char16_t *column : kColumns) {
        if (!first)
            start += ',';
        first = false;
        start += QString::fromUtf16(column).toUtf8();
    }
    return start + "\r\n";
}

QByteArray LogRow(const Record &record) {
    QByteArray row;
    recording::AppendTime(row, record.started);
    const auto field = [&row](const QString &text) {
        row += ',';
        recording::AppendText(row, text);
    };
    field(record.operatorName);
    field(record.instrument);
    field(record.certificate);
    field(record.port);
    field(record.rate);
    field(record.device);
    field(QLocale::c().toString(record.reference, 'g', 10));
    field(QLocale::c().toString(record.tolerance, 'g', 10));
    field(QString::number(record.seconds));
    AppendMeasured(row, record.asFound);
    AppendMeasured(row, record.asLeft);
    field(record.passed ? QStringLiteral("合格") : QStringLiteral("不合格"));
    field(record.status);
    field(LastWriteText(record));
    QStringList writes;
    for (const Write &w : record.writes)
        writes << w.time.toString(Qt::ISODate) + u' ' + w.what +
                      (w.confirmed ? QStringLiteral("（已确认）") : QStringLiteral("（未确认）"));
    field(writes.join(QStringLiteral("; ")));
    return row + "\r\n";
}

std::optional<QString> AppendToLog(const QString &path, const Record &record) {
    QFile file(path);
    // Unbuffered: the row goes to the operating system whole, in one write.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    const QByteArray start = LogStart();
    if (file.size() > 0) {
        QFile existing(path);
        if (!existing.open(QIODevice::ReadOnly) || existing.read(start.size()) != start)
            return QStringLiteral("该文件不是本程序的校准记录，未写入");
    }
    const QByteArray row = (file.size() == 0 ? start : QByteArray()) + LogRow(record);
    const qint64 size = file.size();
    if (file.write(row) != row.size()) {
        const QString reason = file.errorString();
        file.resize(size); // whole rows or nothing
        return reason;
    }
    return std::nullopt;
}

} // namespace calibration
