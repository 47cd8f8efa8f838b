#include "portlist.h"

#include "extras/search/portaccess.h"
#include "serial/portdevice.h"
#include "serial/portlinks.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QTcpSocket>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString Hex4(quint16 value) {
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString OpenRefusal(const QSerialPortInfo &info) {
    if (const QString why = PermissionRefusal(info.systemLocation()); !why.isEmpty())
        return why;
    if (const QString why = LockRefusal(info.systemLocation()); !why.isEmpty())
        return why;
#ifdef Q_OS_WIN
    // Opened and closed with the system's calls alone: QSerialPort's open also starts its
    // wait for line events, and under wine that wait holds the opening thread until an event
    // comes, which on a port without a UART behind it (wine's COM1 is the host's /dev/ttyS0)
    // is never.
    const HANDLE handle =
        ::CreateFileW(reinterpret_cast<const wchar_t *>(info.systemLocation().utf16()),
                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
        return {};
    }
    // A COM port is opened by one program at a time.
    const DWORD error = ::GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        return QStringLiteral("held by another program");
    return qt_error_string(int(error));
#else
    QSerialPort port(info);
    if (port.open(QIODevice::ReadWrite)) {
        port.close();
        return {};
    }
    // The permissions allow it, so a refused open means someone else has it.
    if (port.error() == QSerialPort::PermissionError)
        return QStringLiteral("held by another program");
    return port.errorString();
#endif
}

// Windows names the port itself COMn; elsewhere COMn leads to the device by a path.
QStringList PortsLeadingTo(const QSerialPortInfo &info, const SettingsPlace &place) {
    const QString device = ResolvedPath(info.systemLocation());
    QStringList ports;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString opens = PortDevice(n, place);
        if (opens == info.portName() || ResolvedPath(opens) == device)
            ports.append(QStringLiteral("COM%1").arg(n));
    }
    return ports;
}

QString Line(const char *label, const QString &value) {
    return QStringLiteral("  %1 %2\n")
        .arg(QString::fromLatin1(label), -15)
        .arg(value.isEmpty() ? QStringLiteral("-") : value);
}

} // namespace

QString TcpReachability(const QString &address, int timeoutMs) {
    const std::optional<TcpAddress> to = ParseTcpAddress(address);
    if (!to)
        return QStringLiteral("not a valid address");
    QTcpSocket socket;
    socket.connectToHost(to->host, to->port);
    if (socket.waitForConnected(timeoutMs)) {
        socket.abort(); // nothing is sent: the server's device sees no byte
        return QStringLiteral("connects now");
    }
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("does not connect now: connection refused");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("does not connect now: host not found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("does not connect now: no answer within %1 s").arg(timeoutMs / 1000);
    default:
        return QStringLiteral("does not connect now: %1").arg(socket.errorString());
    }
}

QList<PortFacts> SerialDevices(const SettingsPlace &place) {
    QList<PortFacts> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PortFacts facts;
        facts.device = info.systemLocation();
        facts.stableName = StableName(facts.device, QString::fromLatin1(kStableNameDir));
        facts.description = info.description();
        facts.manufacturer = info.manufacturer();
        facts.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            facts.usbId = Hex4(info.vendorIdentifier()) + u':' + Hex4(info.productIdentifier());
        facts.refusal = OpenRefusal(info);
        facts.ports = PortsLeadingTo(info, place);
        devices.append(facts);
    }
    return devices;
}

QString DeviceListText(const QList<PortFacts> &devices) {
    if (devices.isEmpty())
        return QStringLiteral("No serial devices found. Is the adapter plugged in?\n");
    QString text;
    for (const PortFacts &d : devices) {
        text += d.device + u'\n';
        text += Line("stable name:", d.stableName);
        text += Line("description:", d.description);
        text += Line("manufacturer:", d.manufacturer);
        text += Line("USB id:", d.usbId);
        text += Line("serial number:", d.serialNumber);
        text += Line("may open:", d.refusal.isEmpty() ? QStringLiteral("yes")
                                                      : QStringLiteral("no: ") + d.refusal);
        text += Line("window's port:",
                     d.ports.isEmpty() ? QStringLiteral("none (sensor-companion-ports link N %1)")
                                             .arg(d.stableName.isEmpty() ? d.device : d.stableName)
                                       : d.ports.join(QStringLiteral(", ")));
        text += u'\n';
    }
    return text;
}

QString LinkListText(const SettingsPlace &place) {
    QString text;
    for (const QString &dir : {place.own, place.fallback}) {
        if (dir.isEmpty())
            continue;
        QString links;
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            const PortTarget target = PortTargetOf(n, place);
            if (target.link.isEmpty() ||
                QFileInfo(target.link).absolutePath() != QDir(dir).absolutePath())
                continue;
            const QString state = target.tcp
                                      ? QStringLiteral("  (%1)").arg(TcpReachability(target.device))
                                  : target.present ? QString()
                                                   : QStringLiteral("  (not there now)");
            links += QStringLiteral("  COM%1 → %2%3\n").arg(n).arg(target.device, state);
        }
        const QString whose =
            dir == place.own ? QStringLiteral("COMn links in") : QStringLiteral("Default links in");
        text += links.isEmpty() ? QStringLiteral("%1 %2: none\n").arg(whose, dir)
                                : QStringLiteral("%1 %2:\n%3").arg(whose, dir, links);
    }
#ifdef Q_OS_WIN
    text += QStringLiteral("A COMn without a COMn-tcp.txt is the system's own COMn.\n");
#else
    text +=
        QStringLiteral("A COMn without a link opens /dev/ttyS(n-1), the n-th PC serial port.\n");
#endif
    return text;
}
