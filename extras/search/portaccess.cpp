#include "portaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

QString PermissionRefusal(const QString &device) {
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    return {}; // no permissions on COM ports; a held port shows when it is opened
#else
    const QFileInfo node(device);
    if (node.isReadable() && node.isWritable())
        return {};
    const QFileDevice::Permissions groupRw = QFileDevice::ReadGroup | QFileDevice::WriteGroup;
    if ((node.permissions() & groupRw) == groupRw && !node.group().isEmpty()) {
        return QStringLiteral("not in the %1 group (sudo usermod -aG %1 $USER, then log in again)")
            .arg(node.group());
    }
    return QStringLiteral("its permissions do not allow it (owner %1, group %2)")
        .arg(node.owner(), node.group());
#endif
}

QStringList LockDirs() {
    return {QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
}

QString LockRefusal(const QString &device, const QStringList &lockDirs, bool *holderEnded) {
    if (holderEnded)
        *holderEnded = false;
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    Q_UNUSED(lockDirs);
    return {}; // Windows keeps no lock files; the system refuses a held port itself
#else
    // Qt names the lock after the device below /dev, slashes made underscores (pts/1 -> pts_1).
    QString name = QFileInfo(device).canonicalFilePath();
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name = QStringLiteral("LCK..") + name.replace(u'/', u'_');
    for (const QString &dir : lockDirs) {
        const QString lockPath = QDir(dir).filePath(name);
        // The lock as Qt's serial port writes it, read by Qt's own reader.
        qint64 pid = 0;
        QString program, host;
        if (!QLockFile(lockPath).getLockInfo(&pid, &host, &program) || pid <= 0 ||
            pid == ::getpid())
            continue;
        const QFileInfo info(lockPath);
        const QString path = QFileInfo(info.absolutePath()).canonicalFilePath() + u'/' + name;
        const bool runs = ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
        if (runs) {
            return QStringLiteral("locked by %1: process %2%3 of %4 still uses it")
                .arg(path)
                .arg(pid)
                .arg(program.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(program),
                     info.owner());
        }
        // Anyone may remove a lock of their own, root any; the sticky directory stops the rest.
        if (::geteuid() == 0 || info.ownerId() == ::geteuid())
            return {};
        if (holderEnded)
            *holderEnded = true;
        return QStringLiteral("locked by %1, left by process %2 of %3, which has ended: "
                              "`sudo rm %1`")
            .arg(path)
            .arg(pid)
            .arg(info.owner());
    }
    return {};
#endif
}
