#pragma once
// "link N DEVICE" and "unlink N": the COMn links in the user's settings directory, the
// place the window looks first. A refusal leaves every file as it was.

#include "portsystem.h"
#include "serial/settingsdir.h"

#include <QString>

#include <optional>

struct PortCommandResult {
    bool done = false;
    QString message; // what was done, or why nothing was
};

// "4" or "COM4" (any case) for port 4; nothing outside 1 to 16.
std::optional<int> ParsePortNumber(const QString &text);

// Makes COMn in place.own lead to device, by its stable name when it has one in stableDir,
// so the link survives plugging the adapter into another USB socket.
PortCommandResult
LinkPort(const QString &number, const QString &device, const SettingsPlace &place,
         const QString &stableDir = QString::fromLatin1(portsystem::kStableNameDir));

// Removes the COMn link from place.own; an administrator's link beside the program stays.
PortCommandResult UnlinkPort(const QString &number, const SettingsPlace &place);
