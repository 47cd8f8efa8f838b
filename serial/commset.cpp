#include "commset.h"

#include "portdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// A valid line is a few bytes long; reading more than this of a stray large file is
// pointless.
constexpr qint64 kMaxRead = 4096;

CommSetContent Invalid() {
    CommSetContent content;
    content.status = CommSetContent::Status::Invalid;
    return content;
}

} // namespace

CommSetContent ParseCommSet(QByteArrayView content, Rounding round) {
    CommSetContent result = Invalid();

    qsizetype lineEnd = 0;
    while (lineEnd < content.size() && content[lineEnd] != '\r' && content[lineEnd] != '\n')
        ++lineEnd;
    const QByteArrayView line = content.first(lineEnd);

    const qsizetype comma = line.indexOf(',');
    if (comma < 0)
        return result;
    result.port = round(QString::fromLatin1(line.first(comma)));
    result.rate = round(QString::fromLatin1(line.sliced(comma + 1)));

    const bool portOk = result.port && *result.port >= kFirstPort && *result.port <= kLastPort;
    const bool rateOk = result.rate && *result.rate >= 0;
    if (portOk && rateOk)
        result.status = CommSetContent::Status::Valid;
    return result;
}

QString CommSetPath(const QString &dir) {
    return QDir(dir).filePath(QString::fromLatin1(kCommSetName));
}

CommSetContent ReadCommSet(const QString &dir, Rounding round) {
    if (dir.isEmpty())
        return {}; // no settings directory: never a comm.set in the working directory
    const QString path = CommSetPath(dir);
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    // A directory, a pipe or a device in its place is no settings file; opening a pipe
    // would block start-up.
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return Invalid();
    const QByteArray head = file.read(kMaxRead);
    if (!head.contains('\n') && !head.contains('\r') && !file.atEnd())
        return Invalid(); // a first line cut short is not read as a whole one
    return ParseCommSet(head, round);
}

CommSetContent ReadCommSet(const SettingsPlace &place, Rounding round) {
    const CommSetContent own = ReadCommSet(place.own, round);
    if (own.status != CommSetContent::Status::Missing)
        return own;
    return ReadCommSet(place.fallback, round);
}

QByteArray CommSetText(std::int16_t port, std::int16_t rate) {
    return QByteArray::number(port) + ',' + QByteArray::number(rate) + "\r\n";
}

bool WriteCommSet(const QString &dir, std::int16_t port, std::int16_t rate) {
    if (dir.isEmpty() || !QDir().mkpath(dir))
        return false;
    QSaveFile file(CommSetPath(dir));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = CommSetText(port, rate);
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
