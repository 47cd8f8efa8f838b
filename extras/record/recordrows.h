#pragma once
// The rows of a recording, a CSV file as csvfile.h writes it.

#include "modbus/reading.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace recording {

// Register columns of a row; a query reads 1 to 7 registers. A reply that claims more
// keeps the rest in its hex column only, so that no row is wider than the header.
inline constexpr int kRegisterColumns = 7;

// The header row's columns.
QStringList Columns();

// One decoded reading at its local time: device address, function code and start address
// of the request, the value as the window shows it, the reply's registers in decimal and
// the whole reply as hex text.
QByteArray ReadingRow(const QDateTime &time, const modbus::Reading &reading);

// A write the module confirmed: the time and what was written, in the last column, so
// that the columns of readings keep numbers only.
QByteArray MarkRow(const QDateTime &time, const QString &what);

} // namespace recording
