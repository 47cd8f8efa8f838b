#pragma once
// What the window's port handlers (serial/portsettings.cpp) offer the rest of the window:
// texts and numbers as the window shows and reads them.

#include "settingsplace.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

class MSComm;

// "COM5 → /dev/serial/by-id/usb-…-if00-port0" and, on a second line, whether it is there;
// for a network port "COM5 → tcp://HOST:PORT" and whether comm, when it is on that port,
// is connected. A third line says that the adapter's echo is being taken out.
QString PortToolTip(int portNumber, const SettingsPlace &place, const MSComm *comm = nullptr);

// The baud-rate list's tooltip while portNumber is chosen: empty for a serial port; for a
// network port, that the rate has no effect there.
QString RateToolTip(int portNumber, const SettingsPlace &place);

// The one message of a network port that did not connect, naming its address and why.
QString ConnectFailureText(int portNumber, const MSComm &comm);

// The baud rate a list text stands for: a number that rounds to 1 .. 32767.
std::optional<std::int16_t> BaudRateFromText(QStringView text);
