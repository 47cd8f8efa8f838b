#include "recordrows.h"

#include "csvfile.h"

#include <algorithm>

// Rows are built as bytes with as few allocations as possible: at 20 rows a second the
// formatting would otherwise cost as much as the write itself.

namespace recording {
namespace {

// Columns in front of the registers, and behind them the reply and the mark.
constexpr int kLeadingColumns = 5;
constexpr int kColumns = kLeadingColumns + kRegisterColumns + 2;

} // namespace

QStringList Columns() {
    QStringList columns = QStringLiteral("时间,设备地址,功能码,起始地址,显示值").split(u',');
    for (int i = 1; i <= kRegisterColumns; ++i)
        columns << QStringLiteral("寄存器%1").arg(i);
    return columns << QStringLiteral("回复") << QStringLiteral("标记");
}

QByteArray ReadingRow(const QDateTime &time, const modbus::Reading &reading) {
    QByteArray row;
    row.reserve(160);
    csv::AppendTime(row, time);
    row += ',' + QByteArray::number(reading.device) + ',' + QByteArray::number(reading.function) +
           ',' + QByteArray::number(reading.start) + ',';
    csv::AppendText(row, modbus::ShownText(reading));
    const std::size_t shown = std::min<std::size_t>(reading.registers.size(), kRegisterColumns);
    for (std::size_t i = 0; i < kRegisterColumns; ++i) {
        row += ',';
        if (i < shown)
            row += QByteArray::number(reading.registers[i]);
    }
    row += ',' + reading.reply.toHex(' ').toUpper() + ",\r\n";
    return row;
}

QByteArray MarkRow(const QDateTime &time, const QString &what) {
    QByteArray row;
    csv::AppendTime(row, time);
    row += QByteArray(kColumns - 1, ','); // the fields of a reading stay empty
    csv::AppendText(row, what);
    row += "\r\n";
    return row;
}

} // namespace recording
