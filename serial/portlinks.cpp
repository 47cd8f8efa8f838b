#include "portlinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QString StableName(const QString &device, const QString &stableDir) {
    const QString wanted = QFileInfo(device).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const QFileInfoList names = QDir(stableDir).entryInfoList(
        QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &name : names) {
        if (name.canonicalFilePath() == wanted)
            return name.absoluteFilePath();
    }
    return {};
}

QString LinksUnsupported() {
#ifdef Q_OS_WIN
    return QStringLiteral("on Windows, COM1 to COM16 are the system's own ports and the window "
                          "opens them directly; there is nothing to link");
#else
    return {};
#endif
}

namespace {

PortCommandResult Refused(const QString &why) {
    return {false, why};
}

PortCommandResult BadNumber(const QString &number) {
    return Refused(QStringLiteral("the port number must be 1 to 16 (or COM1 to COM16), not \"%1\"")
                       .arg(number));
}

// A directory the links can be written into, created when missing; why not otherwise.
QString UnwritableReason(const QString &dir) {
    if (dir.isEmpty())
        return QStringLiteral("there is no settings directory to write to (no configuration "
                              "directory for this user)");
    if (!QDir().mkpath(dir))
        return QStringLiteral("cannot create the settings directory %1").arg(dir);
    if (!QFileInfo(dir).isWritable())
        return QStringLiteral("cannot write in the settings directory %1").arg(dir);
    return {};
}

} // namespace

std::optional<int> ParsePortNumber(const QString &text) {
    static const QRegularExpression form(QStringLiteral("^(?:COM)?([0-9]{1,2})$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const int port = match.captured(1).toInt();
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    return port;
}

PortCommandResult LinkPort(const QString &number, const QString &device, const SettingsPlace &place,
                           const QString &stableDir) {
    if (const QString why = LinksUnsupported(); !why.isEmpty())
        return Refused(why);
    const std::optional<int> port = ParsePortNumber(number);
    if (!port)
        return BadNumber(number);

    const QFileInfo node(device);
    if (device.isEmpty() || !node.exists())
        return Refused(QStringLiteral("no such device: %1").arg(device));
    if (node.isDir() || node.isFile())
        return Refused(QStringLiteral("%1 is not a device").arg(device));
    const QString stable = StableName(device, stableDir);
    const QString target = stable.isEmpty() ? node.absoluteFilePath() : stable;

    if (const QString why = UnwritableReason(place.own); !why.isEmpty())
        return Refused(why);
    const QString path = PortLinkPath(*port, place.own);
    const QFileInfo existing(path);
    QString was;
    if (existing.isSymLink()) {
        was = existing.symLinkTarget();
        if (!QFile::remove(path))
            return Refused(QStringLiteral("cannot replace %1").arg(path));
    } else if (existing.exists()) {
        return Refused(QStringLiteral("%1 is not a link; it is left as it is").arg(path));
    }
    if (!QFile::link(target, path))
        return Refused(QStringLiteral("cannot write %1").arg(path));

    QString message = QStringLiteral("COM%1 → %2  (%3)").arg(*port).arg(target, path);
    if (!was.isEmpty() && was != target)
        message += QStringLiteral("\nIt led to %1 before.").arg(was);
    return {true, message};
}

PortCommandResult UnlinkPort(const QString &number, const SettingsPlace &place) {
    if (const QString why = LinksUnsupported(); !why.isEmpty())
        return Refused(why);
    const std::optional<int> port = ParsePortNumber(number);
    if (!port)
        return BadNumber(number);

    const QString path = place.own.isEmpty() ? QString() : PortLinkPath(*port, place.own);
    const QFileInfo existing(path);
    if (path.isEmpty() || (!existing.exists() && !existing.isSymLink())) {
        QString message = QStringLiteral("COM%1 has no link of yours to remove").arg(*port);
        if (const QString other = PortLink(*port, place.fallback); !other.isEmpty())
            message += QStringLiteral("; %1 is the administrator's").arg(other);
        return Refused(message);
    }
    if (!existing.isSymLink())
        return Refused(QStringLiteral("%1 is not a link; it is left as it is").arg(path));
    const QString was = existing.symLinkTarget();
    if (!QFile::remove(path))
        return Refused(QStringLiteral("cannot remove %1").arg(path));
    return {true, QStringLiteral("COM%1 no longer leads to %2").arg(*port).arg(was)};
}
