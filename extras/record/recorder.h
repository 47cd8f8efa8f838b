#pragma once
// Records readings into a CSV file so that nothing written is lost: the file is only
// appended to; each row goes to the operating system whole, in one write, before the
// call returns, so a killed program loses no row; and the file is synced to disk at most
// a second after a row, so a power cut loses at most that second. A failed write or sync,
// or the file gone from its place, stops the recording, cuts off the part of a row that
// got in, and is reported once.

#include "csvfile.h"
#include "modbus/reading.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class Recorder : public QObject {
    Q_OBJECT
public:
    explicit Recorder(QObject *parent = nullptr);
    // Syncs and closes the file.
    ~Recorder() override;

    // Opens `path` for appending; an empty file gets the byte-order mark and the header
    // first, a file that is not a recording is refused. The reason it cannot, or nothing
    // when it records.
    std::optional<QString> Start(const QString &path);
    bool IsRecording() const { return file_.IsOpen(); }
    // Syncs and closes the file.
    void Stop();
    QString Path() const { return file_.Path(); }

    // Appends one row (see recordrows.h), at the local time of the reading or the write.
    void AddReading(const modbus::Reading &reading);
    void AddMark(const modbus::WriteChange &change);

signals:
    // Writing or syncing failed: the recording has stopped. Emitted once.
    void Failed(const QString &path, const QString &reason);

private:
    void Append(const QByteArray &row);
    QDateTime LocalTime(qint64 msecsSinceEpoch);
    void Fail(const QString &reason);

    csv::AppendFile file_;
    qint64 offsetMinute_ = -1;
    int offset_ = 0; // seconds east of UTC in that minute
    QTimer syncTimer_;
};
