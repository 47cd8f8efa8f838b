#pragma once
// Whether this user may open a device, and if not, why, in one line with what to do: the
// permissions, and a lock file another process holds. Windows has neither: a held port shows
// when it is opened.

#include <QString>
#include <QStringList>

// Why this user may not open device; empty when the permissions allow it.
QString PermissionRefusal(const QString &device);

// Where serial-port lock files are kept: where Qt puts them on Debian, and what it links to.
QStringList LockDirs();

// A lock file of another process that keeps this user from device; empty when there is none,
// or when its process has ended and opening would remove it. holderEnded, when given, tells
// whether the lock's process has ended (a stale lock). lockDirs: where to look.
QString LockRefusal(const QString &device, const QStringList &lockDirs = LockDirs(),
                    bool *holderEnded = nullptr);
