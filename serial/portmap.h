#pragma once
// Where port number n (COMn) lives on this system.
//
// Windows: the system's own COMn. Linux and macOS: a link (or device node) named "COMn" in
// the settings directory when there is one, so that `ln -s /dev/ttyUSB0 COM4` points COM4
// at an adapter; otherwise /dev/ttyS(n-1), the kernel's name for the n-th PC serial port.

#include "settingsdir.h"

#include <QString>

QString PortDevice(int portNumber, const SettingsPlace &place);

// The path with every link followed, or the path itself when it leads nowhere.
QString ResolvedPath(const QString &path);

// The COMn link in dir, when there is one (dangling or not); empty otherwise.
QString PortLink(int portNumber, const QString &dir);
// The COMn link that decides: the user's own, else the administrator's; empty when neither.
QString PortLink(int portNumber, const SettingsPlace &place);
