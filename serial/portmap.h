#pragma once
// Where port number n (COMn) lives on this system.
//
// Windows: the system's own COMn. Linux and macOS: a link (or device node) named "COMn" in
// the program's directory when there is one, so that `ln -s /dev/ttyUSB0 COM4` points COM4
// at an adapter; otherwise /dev/ttyS(n-1), the kernel's name for the n-th PC serial port.

#include <QString>

QString PortDevice(int portNumber, const QString &programDir);
