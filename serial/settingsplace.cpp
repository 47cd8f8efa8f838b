#include "settingsplace.h"

#include <QDir>
#include <QFileInfo>
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
