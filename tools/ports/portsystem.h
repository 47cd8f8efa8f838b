#pragma once
// What differs between systems for the port command, in one place: stable device names,
// why the permissions keep a user from a device, and whether COMn links exist at all.

#include <QString>
#include <QStringList>

namespace portsystem {

// Where udev keeps the stable names of serial devices; other systems have no such folder.
inline constexpr char kStableNameDir[] = "/dev/serial/by-id";

// The name in stableDir that leads to device, or empty when it has none.
QString StableName(const QString &device, const QString &stableDir);

// Why this user may not open device, in one line; empty when the permissions allow it.
QString PermissionRefusal(const QString &device);

// Where serial-port lock files are kept: where Qt puts them on Debian, and what it links to.
QStringList LockDirs();

// A lock file of another process that keeps this user from device, in one line with what to
// do; empty when there is none, or when its process has ended and opening would remove it.
// holderEnded, when given, tells whether the lock's process has ended (a stale lock).
// lockDirs: where to look (the tests pass their own).
QString LockRefusal(const QString &device, const QStringList &lockDirs = LockDirs(),
                    bool *holderEnded = nullptr);

// Why COMn links cannot be made here; empty where they can.
QString LinksUnsupported();

} // namespace portsystem
