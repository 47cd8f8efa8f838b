#include "portdevice.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

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
