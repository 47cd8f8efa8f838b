#pragma once
// What COMn leads to, told to people: the port list's tooltips and the port command show
// the device as the link names it (a stable /dev/serial/by-id/ name stays readable), and
// whether that device is there now.

#include "settingsdir.h"

#include <QString>

struct PortTarget {
    QString link;         // the COMn link that decides, empty when there is none
    QString device;       // what COMn opens, as the link names it
    bool present = false; // the device exists now
};

PortTarget PortTargetOf(int portNumber, const SettingsPlace &place);

// "COM5 → /dev/serial/by-id/usb-…-if00-port0" and, on a second line, whether it is there;
// `echoing`: a third line says that the adapter's echo is being taken out.
QString PortToolTip(int portNumber, const SettingsPlace &place, bool echoing = false);
