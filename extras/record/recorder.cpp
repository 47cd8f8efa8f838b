#include "recorder.h"

#include "recordfile.h"
#include "recordrows.h"

#include <QDateTime>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kSyncDelayMs = 1000;

// Rows go only onto a recording of the same columns; any other file stays as it is.
bool IsRecordingFile(const QString &path) {
    QFile existing(path);
    const QByteArray start = recording::FileStart();
    return existing.open(QIODevice::ReadOnly) && existing.read(start.size()) == start;
}

} // namespace

Recorder::Recorder(QObject *parent) : QObject(parent) {
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncDelayMs);
    connect(&syncTimer_, &QTimer::timeout, this, [this] {
        if (!Sync() || !StillThere())
            Fail();
    });
}

Recorder::~Recorder() {
    Stop();
}

void Recorder::Stop() {
    syncTimer_.stop();
    if (IsRecording())
        Sync();
    file_.close();
}

std::optional<QString> Recorder::Start(const QString &path) {
    file_.setFileName(path);
    // Unbuffered: a write goes straight to the operating system.
    if (!file_.open(QIODevice::Append | QIODevice::Unbuffered))
        return file_.errorString();
    size_ = file_.size();
    if (size_ > 0 && !IsRecordingFile(path)) {
        file_.close();
        return QStringLiteral("该文件不是本程序的记录文件，请另选文件名");
    }
    if (size_ == 0 && !Append(recording::FileStart())) {
        file_.close();
        return error_;
    }
    return std::nullopt;
}

void Recorder::AddReading(const modbus::Reading &reading) {
    if (IsRecording() && !Append(recording::ReadingRow(LocalTime(reading.time), reading)))
        Fail();
}

void Recorder::AddMark(const modbus::WriteChange &change) {
    if (IsRecording() &&
        !Append(recording::MarkRow(LocalTime(change.time), modbus::WriteText(change))))
        Fail();
}

// Its offset from UTC is looked up once a minute: that conversion costs more than the rest
// of a row, and offsets change only at the start of a minute.
QDateTime Recorder::LocalTime(qint64 msecsSinceEpoch) {
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC);
    const qint64 minute = msecsSinceEpoch / 60'000;
    if (minute != offsetMinute_) {
        offsetMinute_ = minute;
        offset_ = utc.toLocalTime().offsetFromUtc();
    }
    return utc.toOffsetFromUtc(offset_);
}

bool Recorder::Append(const QByteArray &row) {
    qint64 written = file_.write(row);
    // A short write (the disk filled up, a size limit) is tried once more for the rest,
    // which either completes the row or tells why it cannot.
    if (written > 0 && written < row.size()) {
        const qint64 rest = file_.write(row.constData() + written, row.size() - written);
        written = rest > 0 ? written + rest : -1;
    }
    if (written != row.size()) {
        error_ = file_.errorString();
        // Whole rows or nothing: the part of this row that got in is cut off again.
        file_.resize(size_);
        return false;
    }
    size_ += written;
    if (!syncTimer_.isActive())
        syncTimer_.start();
    return true;
}

bool Recorder::Sync() {
    if (recording::SyncToDisk(file_))
        return true;
    error_ = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

// A file removed while open takes further rows without an error on POSIX systems, and
// they are gone when it is closed.
bool Recorder::StillThere() {
    if (QFileInfo::exists(file_.fileName()))
        return true;
    error_ = QStringLiteral("文件已被删除或移走");
    return false;
}

void Recorder::Fail() {
    syncTimer_.stop();
    file_.close();
    emit Failed(file_.fileName(), error_);
}
