#include "portdevice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

// A link file is one short line; whatever follows it, or a huge file, is not read.
constexpr qint64 kTcpLinkMaxBytes = 1024;

std::optional<TcpLink> TcpLinkIn(int portNumber, const QString &dir) {
    if (dir.isEmpty())
        return std::nullopt;
    QFile file(PortTcpPath(portNumber, dir));
    if (!QFileInfo(file.fileName()).isFile())
        return std::nullopt;
    TcpLink link{QFileInfo(file).absoluteFilePath(), {}, std::nullopt};
    if (file.open(QIODevice::ReadOnly))
        link.text = QString::fromUtf8(file.read(kTcpLinkMaxBytes)).section(u'\n', 0, 0).trimmed();
    link.address = ParseTcpAddress(link.text);
    return link;
}

} // namespace

QString PortTcpPath(int portNumber, const QString &dir) {
    return QDir(dir).filePath(QStringLiteral("COM%1-tcp.txt").arg(portNumber));
}

std::optional<TcpLink> TcpLinkOf(int portNumber, const SettingsPlace &place) {
    for (const QString &dir : {place.own, place.fallback}) {
        if (auto link = TcpLinkIn(portNumber, dir))
            return link;
#ifndef Q_OS_WIN
        if (!PortLink(portNumber, dir).isEmpty())
            return std::nullopt; // a device link of the user's own decides over a default
#endif
    }
    return std::nullopt;
}

QString PortLinkPath(int portNumber, const QString &dir) {
    return QDir(dir).filePath(QStringLiteral("COM%1").arg(portNumber));
}

QString PortLink(int portNumber, const QString &dir) {
    if (dir.isEmpty())
        return {};
    const QFileInfo link(PortLinkPath(portNumber, dir));
    return link.exists() || link.isSymLink() ? link.absoluteFilePath() : QString();
}

QString ResolvedPath(const QString &path) {
    const QString target = QFileInfo(path).canonicalFilePath();
    return target.isEmpty() ? path : target;
}

QString PortLink(int portNumber, const SettingsPlace &place) {
    const QString own = PortLink(portNumber, place.own);
    return own.isEmpty() ? PortLink(portNumber, place.fallback) : own;
}

QString PortDevice(int portNumber, const SettingsPlace &place) {
    if (const auto tcp = TcpLinkOf(portNumber, place)) {
        // An address that cannot be read still reads as one, and fails to connect.
        if (tcp->address)
            return tcp->address->Text();
        return IsTcpText(tcp->text) ? tcp->text : QLatin1String(kTcpScheme) + tcp->text;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(place);
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QString link = PortLink(portNumber, place);
    if (link.isEmpty())
        return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
    // Open the device itself, so that the lock on it is shared with every other program
    // that opens the same device by its own name. A dangling link stays as it is and fails
    // to open.
    return ResolvedPath(link);
#endif
}

PortTarget PortTargetOf(int portNumber, const SettingsPlace &place) {
    PortTarget target;
    if (const auto tcp = TcpLinkOf(portNumber, place)) {
        target.link = tcp->file;
        target.device = PortDevice(portNumber, place);
        target.tcp = true;
        return target;
    }
#ifdef Q_OS_WIN
    target.device = PortDevice(portNumber, place);
    target.present = !QSerialPortInfo(target.device).isNull();
#else
    target.link = PortLink(portNumber, place);
    const QFileInfo link(target.link);
    // One step along the link, not to its end: the by-id name is the one a person knows.
    target.device = target.link.isEmpty() ? PortDevice(portNumber, place)
                    : link.isSymLink()    ? link.symLinkTarget()
                                          : target.link;
    target.present = QFileInfo::exists(target.device);
#endif
    return target;
}
