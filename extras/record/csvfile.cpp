#include "csvfile.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace csv {

// UTF-8, quoted when it holds a separator, a quote or a line break. Those are ASCII bytes,
// which never occur inside a UTF-8 sequence.
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

void AppendField(QByteArray &row, const QString &field) {
    row += ',';
    AppendText(row, field);
}

// By hand rather than through QDateTime::toString: at 20 rows a second that formatting
// would cost as much as the write itself.
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

QByteArray FileStart(const QStringList &columns) {
    QByteArray start("\xEF\xBB\xBF");
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (i > 0)
            start += ',';
        AppendText(start, columns[i]);
    }
    return start + "\r\n";
}

std::optional<QString> AppendFile::Open(const QString &path, const QStringList &columns) {
    Close();
    file_.setFileName(path);
    // Unbuffered: a write goes straight to the operating system.
    if (!file_.open(QIODevice::Append | QIODevice::Unbuffered))
        return file_.errorString();
    size_ = file_.size();
    const QByteArray start = FileStart(columns);
    std::optional<QString> refusal;
    if (size_ > 0) {
        // Rows go only onto a file of the same columns; any other file stays as it is.
        QFile existing(path);
        if (!existing.open(QIODevice::ReadOnly) || existing.read(start.size()) != start)
            refusal = QStringLiteral("该文件不是本程序的同类记录文件，未写入任何内容");
    } else {
        refusal = Append(start);
    }
    if (refusal)
        file_.close();
    return refusal;
}

std::optional<QString> AppendFile::Append(const QByteArray &row) {
    // A short write (the disk filled up, a size limit) is tried again for the rest, which
    // either completes the row or tells why it cannot.
    qint64 written = 0;
    while (written < row.size()) {
        const qint64 n = file_.write(row.constData() + written, row.size() - written);
        if (n <= 0) {
            const QString reason = file_.errorString();
            file_.resize(size_); // whole rows or nothing
            return reason;
        }
        written += n;
    }
    size_ += written;
    return std::nullopt;
}

std::optional<QString> AppendFile::Sync() {
#ifdef Q_OS_WIN
    const bool synced = _commit(file_.handle()) == 0; // FlushFileBuffers on the file's handle
#else
    const bool synced = ::fsync(file_.handle()) == 0;
#endif
    if (!synced)
        return QString::fromLocal8Bit(std::strerror(errno));
    // A file removed while open takes further rows without an error on POSIX systems, and
    // they are gone when it is closed.
    if (!QFileInfo::exists(file_.fileName()))
        return QStringLiteral("文件已被删除或移走");
    return std::nullopt;
}

void AppendFile::Close() {
    if (IsOpen())
        Sync();
    file_.close();
}

std::optional<QString> AppendRows(const QString &path, const QStringList &columns,
                                  const QList<QByteArray> &rows) {
    AppendFile file;
    if (auto refusal = file.Open(path, columns))
        return refusal;
    for (const QByteArray &row : rows)
        if (auto failure = file.Append(row))
            return failure;
    return file.Sync();
}

std::vector<Row> ReadRows(QByteArrayView text) {
    std::vector<Row> rows;
    const qsizetype n = text.size();
    qsizetype i = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < n) {
        Row row;
        QByteArray field;
        bool fresh = true, quoted = false; // at a field's start; inside its quotes
        for (; i < n; ++i) {
            const char c = text[i];
            if (quoted) {
                if (c != '"')
                    field += c;
                else if (i + 1 < n && text[i + 1] == '"')
                    field += text[++i];
                else
                    quoted = false;
            } else if (c == ',') {
                row.fields << QString::fromUtf8(field);
                field.clear();
                fresh = true;
                continue;
            } else if (c == '\r' || c == '\n') {
                break;
            } else if (c == '"' && fresh) {
                quoted = true;
            } else {
                field += c;
            }
            fresh = false;
        }
        row.fields << QString::fromUtf8(field);
        row.end = i;
        row.whole = !quoted;
        if (i < n && text[i] == '\r')
            ++i;
        if (i < n && text[i] == '\n')
            ++i;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace csv
