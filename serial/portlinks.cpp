#include "portlinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

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

// What the COMn-tcp.txt in dir says, when there is one.
QString TcpLinkText(int port, const QString &dir) {
    const auto link = TcpLinkOf(port, SettingsPlace(dir));
    return link ? link->text : QString();
}

// COMn-tcp.txt in place.own says address; a COMn link of the user's own is replaced by it, so
// that exactly one of the two decides.
PortCommandResult LinkTcp(int port, const QString &text, const SettingsPlace &place) {
    QString why;
    const std::optional<TcpAddress> address = ParseTcpAddress(text, &why);
    if (!address)
        return Refused(QStringLiteral("%1: %2").arg(text, why));
    if (const QString unwritable = UnwritableReason(place.own); !unwritable.isEmpty())
        return Refused(unwritable);
    const QString linkPath = PortLinkPath(port, place.own);
    const QFileInfo deviceLink(linkPath);
    if (deviceLink.exists() && !deviceLink.isSymLink())
        return Refused(QStringLiteral("%1 is not a link; it is left as it is").arg(linkPath));
    QString was = TcpLinkText(port, place.own);
    if (deviceLink.isSymLink())
        was = deviceLink.symLinkTarget();

    const QString path = PortTcpPath(port, place.own);
    QSaveFile file(path); // written beside and renamed: a failure leaves the old one
    file.open(QIODevice::WriteOnly);
    file.write((address->Text() + QStringLiteral("\n")).toUtf8());
    if (!file.commit())
        return Refused(QStringLiteral("cannot write %1").arg(path));
    if (deviceLink.isSymLink() && !QFile::remove(linkPath))
        return Refused(
            QStringLiteral("cannot remove %1, which decides before %2").arg(linkPath, path));

    QString message = QStringLiteral("COM%1 → %2  (%3)").arg(port).arg(address->Text(), path);
    if (!was.isEmpty() && was != address->Text())
        message += QStringLiteral("\nIt led to %1 before.").arg(was);
    return {true, message};
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
    const std::optional<int> port = ParsePortNumber(number);
    if (IsTcpText(device)) // an address is linked on every system
        return port ? LinkTcp(*port, device, place) : BadNumber(number);
    if (const QString why = LinksUnsupported(); !why.isEmpty())
        return Refused(why);
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
    const QString tcpPath = PortTcpPath(*port, place.own);
    QString was = TcpLinkText(*port, place.own);
    if (existing.isSymLink()) {
        was = existing.symLinkTarget();
        if (!QFile::remove(path))
            return Refused(QStringLiteral("cannot replace %1").arg(path));
    } else if (existing.exists()) {
        return Refused(QStringLiteral("%1 is not a link; it is left as it is").arg(path));
    }
    if (!QFile::link(target, path))
        return Refused(QStringLiteral("cannot write %1").arg(path));
    if (QFileInfo::exists(tcpPath) && !QFile::remove(tcpPath)) {
        QFile::remove(path);
        return Refused(
            QStringLiteral("cannot remove %1, which decides before %2").arg(tcpPath, path));
    }

    QString message = QStringLiteral("COM%1 → %2  (%3)").arg(*port).arg(target, path);
    if (!was.isEmpty() && was != target)
        message += QStringLiteral("\nIt led to %1 before.").arg(was);
    return {true, message};
}

PortCommandResult UnlinkPort(const QString &number, const SettingsPlace &place) {
    const std::optional<int> port = ParsePortNumber(number);
    if (!port)
        return BadNumber(number);
    if (const QString address = TcpLinkText(*port, place.own);
        !place.own.isEmpty() && QFileInfo::exists(PortTcpPath(*port, place.own))) {
        if (!QFile::remove(PortTcpPath(*port, place.own)))
            return Refused(QStringLiteral("cannot remove %1").arg(PortTcpPath(*port, place.own)));
        return {true, QStringLiteral("COM%1 no longer leads to %2").arg(*port).arg(address)};
    }
    if (const QString why = LinksUnsupported(); !why.isEmpty())
        return Refused(why);

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
