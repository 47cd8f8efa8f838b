#include "recordrows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// Rows are built as bytes with as few allocations as possible: at 20 rows a second the
// formatting would otherwise cost as much as the write itself.

namespace recording {
namespace {

// Columns in front of the registers, and behind them the reply and the mark.
constexpr int kLeadingColumns = 5;
constexpr int kColumns = kLeadingColumns + kRegisterColumns + 2;

} // namespace

// A text field in UTF-8, quoted when it holds a separator, a quote or a line break. Those
// are ASCII bytes, which never occur inside a UTF-8 sequence.
void AppendText(QByteArray &row, const QString &field) {
    const QByteArray utf8 = field.toUtf8();
    if (utf8.indexOf(',') < 0 && utf8.indexOf('"') < 0 && utf8.indexOf('\r') < 0 &&
        utf8.indexOf('\n') < 0) {
        row += utf8;
        return;
    }
    row += '"';
    for (const char c : utf8) {
        if (c == '"')
            row += '"';
        row += c;
    }
    row += '"';
}

void AppendTime(QByteArray &row, const QDateTime &time) {
    const QDate date = time.date();
    const QTime clock = time.time();
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                                date.year(), date.month(), date.day(), clock.hour(), clock.minute(),
                                clock.second(), clock.msec(), offset < 0 ? '-' : '+', minutes / 60,
                                minutes % 60);
    row.append(text, std::clamp(n, 0, int(sizeof text) - 1));
}

QByteArray FileStart() {
    QByteArray row("\xEF\xBB\xBF");
    row += QStringLiteral("时间,设备地址,功能码,起始地址,显示值").toUtf8();
    for (int i = 1; i <= kRegisterColumns; ++i)
        row += QStringLiteral(",寄存器%1").arg(i).toUtf8();
    row += QStringLiteral(",回复,标记\r\n").toUtf8();
    return row;
}

QByteArray ReadingRow(const QDateTime &time, const modbus::Reading &reading) {
    QByteArray row;
    row.reserve(160);
    AppendTime(row, time);
    row += ',' + QByteArray::number(reading.device) + ',' + QByteArray::number(reading.function) +
           ',' + QByteArray::number(reading.start) + ',';
    AppendText(row, modbus::ShownText(reading));
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
    AppendTime(row, time);
    row += QByteArray(kColumns - 1, ','); // the fields of a reading stay empty
    AppendText(row, what);
    row += "\r\n";
    return row;
}

} // namespace recording
