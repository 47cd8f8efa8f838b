#pragma once
// The rows of a recording: a CSV file that Excel, LibreOffice and pandas open as they are.
// UTF-8 with a byte-order mark (Excel takes a file without one for the system's code
// page), fields quoted as RFC 4180 asks, CR LF after every row, one header row.

#include "modbus/reading.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace recording {

// Register columns of a row; a query reads 1 to 7 registers. A reply that claims more
// keeps the rest in its hex column only, so that no row is wider than the header.
inline constexpr int kRegisterColumns = 7;

// What starts a new file: the byte-order mark and the header row.
QByteArray FileStart();

// One decoded reading at its local time: device address, function code and start address
// of the request, the value as the window shows it, the reply's registers in decimal and
// the whole reply as hex text.
QByteArray ReadingRow(const QDateTime &time, const modbus::Reading &reading);

// A write the module confirmed: the time and what was written, in the last column, so
// that the columns of readings keep numbers only.
QByteArray MarkRow(const QDateTime &time, const QString &what);

// The pieces of a row, for other logs that follow the same conventions: a text field,
// quoted where RFC 4180 asks, and a local time in ISO 8601 with milliseconds and offset.
void AppendText(QByteArray &row, const QString &field);
void AppendTime(QByteArray &row, const QDateTime &time);

} // namespace recording
