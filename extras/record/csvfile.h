#pragma once
// The CSV files the program writes (a recording, the calibration log), so that Excel,
// LibreOffice and pandas open them as they are: UTF-8 with a byte-order mark (Excel takes a
// file without one for the system's code page), fields quoted as RFC 4180 asks, CR LF after
// every row, one header row. They are only appended to, and only with whole rows: a row goes
// to the operating system in one write, so a killed program loses no row, and a row that
// got in only in part is cut off again. ReadRows reads such a file back.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace csv {

// A text field, quoted where RFC 4180 asks (AppendField with the separator before it), and
// a local time in ISO 8601 with milliseconds and offset: the pieces rows are made of.
void AppendText(QByteArray &row, const QString &field);
void AppendField(QByteArray &row, const QString &field);
void AppendTime(QByteArray &row, const QDateTime &time);
// What starts a file: the byte-order mark and the header row.
QByteArray FileStart(const QStringList &columns);

// One file kept open for rows that come often; Sync when the disk is to have them.
class AppendFile {
public:
    // Syncs and closes.
    ~AppendFile() { Close(); }

    // Opens `path` for appending; a new or empty file gets FileStart(columns), a file that
    // starts otherwise is refused and left as it is. Why it cannot, or nothing.
    std::optional<QString> Open(const QString &path, const QStringList &columns);
    // The row whole, or the file as it was before it and why.
    std::optional<QString> Append(const QByteArray &row);
    // The operating system's cache of the file on the disk, and the file still in its place.
    std::optional<QString> Sync();
    void Close();
    bool IsOpen() const { return file_.isOpen(); }
    QString Path() const { return file_.fileName(); }

private:
    QFile file_;
    qint64 size_ = 0; // where the next row starts
};

// Appends rows to the file at `path` as AppendFile does and syncs it: for a log that gets a
// row now and then. Why it could not, or nothing.
std::optional<QString> AppendRows(const QString &path, const QStringList &columns,
                                  const QList<QByteArray> &rows);

// A row as ReadRows finds it.
struct Row {
    QStringList fields;
    qsizetype end = 0; // where its line break starts, or the text's end
    bool whole = true; // false for a last row whose quoted field the text's end cut off
};
// The rows of CSV text after a byte-order mark, read as RFC 4180 asks: a quoted field may
// hold separators, doubled quotes and line breaks; CR LF, LF or CR ends a row. Text that
// does not keep to it is read as it stands: a quote inside an unquoted field, or after a
// closing one, is taken as a character.
std::vector<Row> ReadRows(QByteArrayView text);

} // namespace csv
