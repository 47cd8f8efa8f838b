#include "recorder.h"

#include "recordrows.h"

#include <QDateTime>

namespace {

constexpr int kSyncDelayMs = 1000;

} // namespace

Recorder::Recorder(QObject *parent) : QObject(parent) {
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncDelayMs);
    connect(&syncTimer_, &QTimer::timeout, this, [this] {
        if (const auto failure = file_.Sync())
            Fail(*failure);
    });
}

Recorder::~Recorder() {
    Stop();
}

void Recorder::Stop() {
    syncTimer_.stop();
    file_.Close();
}

std::optional<QString> Recorder::Start(const QString &path) {
    return file_.Open(path, recording::Columns());
}

void Recorder::AddReading(const modbus::Reading &reading) {
    if (IsRecording())
        Append(recording::ReadingRow(LocalTime(reading.time), reading));
}

void Recorder::AddMark(const modbus::WriteChange &change) {
    if (IsRecording())
        Append(recording::MarkRow(LocalTime(change.time), modbus::WriteText(change)));
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

void Recorder::Append(const QByteArray &row) {
    if (const auto failure = file_.Append(row))
        Fail(*failure);
    else if (!syncTimer_.isActive())
        syncTimer_.start();
}

void Recorder::Fail(const QString &reason) {
    Stop();
    emit Failed(file_.Path(), reason);
}
