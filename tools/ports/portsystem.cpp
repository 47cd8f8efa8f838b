#include "portsystem.h"

#include <QDir>
#include <QFileInfo>

namespace portsystem {

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

QString LinksUnsupported() {
#ifdef Q_OS_WIN
    return QStringLiteral("on Windows, COM1 to COM16 are the system's own ports and the window "
                          "opens them directly; there is nothing to link");
#else
    return {};
#endif
}

} // namespace portsystem
