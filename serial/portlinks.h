#pragma once
// The COMn links a technician makes with the port command, and the search's "use this":
// each names the device by its stable name where it has one. Messages are for a terminal.

#include "portdevice.h"

#include <QString>

#include <optional>

// Where udev keeps the stable names of serial devices; other systems have no such folder.
inline constexpr char kStableNameDir[] = "/dev/serial/by-id";

// The name in stableDir that leads to device, or empty when it has none.
QString StableName(const QString &device, const QString &stableDir);

// Why COMn links cannot be made here; empty where they can.
QString LinksUnsupported();

struct PortCommandResult {
    bool done = false;
    QString message; // what was done, or why nothing was
};

// "4" or "COM4" (any case) for port 4; nothing outside kFirstPort to kLastPort.
std::optional<int> ParsePortNumber(const QString &text);

// Makes COMn in place.own lead to device, by its stable name when it has one in stableDir,
// so the link survives plugging the adapter into another USB socket; or, for a device
// "tcp://HOST:PORT" (on every system), writes COMn-tcp.txt. Either replaces what COMn led to in
// place.own before, the other kind included. A refusal leaves every file as it was.
PortCommandResult LinkPort(const QString &number, const QString &device, const SettingsPlace &place,
                           const QString &stableDir = QString::fromLatin1(kStableNameDir));

// Removes the COMn link from place.own, its COMn-tcp.txt first when it has one; an
// administrator's link stays.
PortCommandResult UnlinkPort(const QString &number, const SettingsPlace &place);
