#include "ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardPaths>

#include <utility>

#ifdef Q_OS_WIN
#include <string>
#include <windows.h>
#endif

namespace {

// The same folder for the window and the port command, whatever QCoreApplication's name.
constexpr char kConfigFolder[] = "sensor-companion";

[[maybe_unused]] QString Canonical(const QString &dir) {
    const QString path = QFileInfo(dir).canonicalFilePath();
    return QDir::cleanPath(path.isEmpty() ? QDir(dir).absolutePath() : path);
}

#ifdef Q_OS_WIN
// The path with every short (8.3) name spelt out, as the Program Files variables spell it. A
// program started by its short name gets its directory in that form, and Qt's canonical
// path keeps it.
QString LongPath(const QString &path) {
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const DWORD needed = GetLongPathNameW(native.c_str(), nullptr, 0);
    if (needed == 0)
        return path; // missing, or not for Windows to say
    std::wstring full(needed, L'\0');
    const DWORD length = GetLongPathNameW(native.c_str(), full.data(), needed);
    if (length == 0 || length >= needed)
        return path;
    full.resize(length);
    return QString::fromStdWString(full);
}

bool Inside(const QString &dir, const QString &parent) {
    const QString p = Canonical(LongPath(parent));
    const QString d = Canonical(LongPath(dir));
    return d.size() > p.size() && d.startsWith(p, Qt::CaseInsensitive) && d.at(p.size()) == u'/';
}
#endif

QString LinkPath(int port, const QString &dir) {
    return QDir(dir).filePath(QStringLiteral("COM%1").arg(port));
}

} // namespace

SettingsPlace::SettingsPlace(QString ownDir, QString fallbackDir)
    : own(std::move(ownDir)), fallback(std::move(fallbackDir)) {}

SettingsPlace DecideSettingsPlace(const QString &programDir, bool installed,
                                  const QString &userConfigDir,
                                  const QStringList &systemConfigDirs) {
    if (!installed)
        return SettingsPlace(programDir);
    const auto ours = [](const QString &dir) {
        return QDir(dir).filePath(QString::fromLatin1(kConfigFolder));
    };
    // Without a configuration directory nothing can be saved, but an administrator's
    // default still opens the port.
    const QString own = userConfigDir.isEmpty() ? QString() : ours(userConfigDir);
    QString fallback = systemConfigDirs.isEmpty() ? QString() : ours(systemConfigDirs.first());
    for (const QString &dir : systemConfigDirs) {
        if (QFileInfo(ours(dir)).isDir()) {
            fallback = ours(dir);
            break;
        }
    }
    return SettingsPlace(own, fallback);
}

bool RunsInstalled(const QString &programDir) {
#ifdef Q_OS_WIN
    // The installer puts the program under Program Files; an unpacked zip lives anywhere
    // else. The variables name the folders in the system's own language.
    for (const char *name : {"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"}) {
        const QString folder = qEnvironmentVariable(name);
        if (!folder.isEmpty() && Inside(programDir, QDir::fromNativeSeparators(folder)))
            return true;
    }
    return false;
#elif defined(SC_INSTALL_BINDIR)
    return Canonical(programDir) == Canonical(QStringLiteral(SC_INSTALL_BINDIR));
#else
    Q_UNUSED(programDir);
    return false;
#endif
}

SettingsPlace SettingsPlaceOf(const QString &programDir) {
    // The generic location, not the application's: the window and the port command have
    // different names but share one folder.
    const QString user = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QStringList system = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    system.removeAll(user);
    return DecideSettingsPlace(programDir, RunsInstalled(programDir), user, system);
}

QString PortLink(int portNumber, const QString &dir) {
    if (dir.isEmpty())
        return {};
    const QFileInfo link(LinkPath(portNumber, dir));
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

QString PortToolTip(int portNumber, const SettingsPlace &place, bool echoing) {
    const PortTarget target = PortTargetOf(portNumber, place);
    const QString text = QStringLiteral("COM%1 → %2\n%3")
                             .arg(portNumber)
                             .arg(target.device, target.present ? QStringLiteral("设备当前存在")
                                                                : QStringLiteral("设备当前不存在"));
    return echoing ? text + QStringLiteral("\n适配器回显发送数据，已自动忽略") : text;
}

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
    const QString path = LinkPath(*port, place.own);
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

    const QString path = place.own.isEmpty() ? QString() : LinkPath(*port, place.own);
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
