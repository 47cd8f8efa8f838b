#pragma once
// "sensor-companion-ports" alone: every serial device with what a technician needs to pick
// the adapter, and the COMn links with where each leads.

#include "serial/settingsplace.h"

#include <QList>
#include <QString>
#include <QStringList>

struct PortFacts {
    QString device;      // the path the system gives it
    QString stableName;  // its /dev/serial/by-id/ name, empty when it has none
    QString description; // each of these three empty when the system does not know
    QString manufacturer;
    QString serialNumber;
    QString usbId;     // "0403:6001", empty for a device that is not on USB
    QString refusal;   // why this user may not open it; empty when they may
    QStringList ports; // the COMn that open it now
};

// Asks the system. To tell whether another program holds a device, each one this user may
// open is opened for a moment and closed again; nothing is written to it.
QList<PortFacts> SerialDevices(const SettingsPlace &place);

QString DeviceListText(const QList<PortFacts> &devices);

// Whether a connection to address ("tcp://HOST:PORT") succeeds now, within timeoutMs; it
// is closed again at once, before any byte. "connects now", or why not.
QString TcpReachability(const QString &address, int timeoutMs = 3000);

// The COMn links of place, the user's own first, and where each leads now; for a network
// port, whether it connects now (TcpReachability). On Windows only network ports are linked.
QString LinkListText(const SettingsPlace &place);
