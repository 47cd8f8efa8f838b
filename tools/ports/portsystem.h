#pragma once
// What differs between systems for the port command, in one place: stable device names,
// why the permissions keep a user from a device, and whether COMn links exist at all.

#include <QString>

namespace portsystem {

// Where udev keeps the stable names of serial devices; other systems have no such folder.
inline constexpr char kStableNameDir[] = "/dev/serial/by-id";

// The name in stableDir that leads to device, or empty when it has none.
QString StableName(const QString &device, const QString &stableDir);

// Why this user may not open device, in one line; empty when the permissions allow it.
QString PermissionRefusal(const QString &device);

// Why COMn links cannot be made here; empty where they can.
QString LinksUnsupported();

} // namespace portsystem
