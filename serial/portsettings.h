#pragma once
// What the window's port handlers (serial/portsettings.cpp) offer the rest of the window:
// texts and numbers as the window shows and reads them.

#include "settingsplace.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// "COM5 → /dev/serial/by-id/usb-…-if00-port0" and, on a second line, whether it is there;
// `echoing`: a third line says that the adapter's echo is being taken out.
QString PortToolTip(int portNumber, const SettingsPlace &place, bool echoing = false);

// The baud rate a list text stands for: a number that rounds to 1 .. 32767.
std::optional<std::int16_t> BaudRateFromText(QStringView text);
