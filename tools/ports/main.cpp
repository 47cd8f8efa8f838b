// sensor-companion-ports: finds the serial adapter and points the window's COMn at it.
//   sensor-companion-ports                    list the serial devices and the COMn links
//   sensor-companion-ports link N DEVICE      make COMn lead to DEVICE
//   sensor-companion-ports link N tcp://HOST:PORT   make COMn a serial device server
//   sensor-companion-ports unlink N           remove the COMn link
//   sensor-companion-ports find [--use]       find the module on every device and rate
// Exit status: 0 done (found), 1 refused (nothing answered; the reason on standard error),
// 2 wrong usage.

#include "find.h"
#include "portlist.h"
#include "serial/portlinks.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

constexpr char kUsage[] =
    "usage: sensor-companion-ports [link N DEVICE | link N tcp://HOST:PORT | unlink N |\n"
    "                               find [--use]]\n"
    "  (no arguments)   list the serial devices and the COMn links\n"
    "  link N DEVICE    make COMn (1 to 16) lead to DEVICE\n"
    "  link N tcp://HOST:PORT\n"
    "                   make COMn connect to a serial device server (tcp://[IPv6]:PORT\n"
    "                   for an IPv6 address)\n"
    "  unlink N         remove the COMn link\n"
    "  find             try every device at 19200, 9600, 4800 and 14400 baud, and\n"
    "                   every network COMn once; print\n"
    "                   PORT<TAB>DEVICE<TAB>RATE<TAB>ADDRESS of the module that answers\n"
    "  find --use       and make it the window's saved port and rate\n"
    "See sensor-companion-ports(1).\n";

int Report(const PortCommandResult &result) {
    if (result.done) {
        QTextStream(stdout) << result.message << '\n';
        return 0;
    }
    QTextStream(stderr) << "sensor-companion-ports: " << result.message << '\n';
    return 1;
}

int List(const SettingsPlace &place) {
    QTextStream out(stdout);
    out << DeviceListText(SerialDevices(place));
    out << LinkListText(place);
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sensor-companion-ports"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SC_VERSION));
    const QStringList args = QCoreApplication::arguments().mid(1);
    // The same directory the window uses: both are installed side by side.
    const SettingsPlace place = SettingsPlaceOf(QCoreApplication::applicationDirPath());

    const QString command = args.value(0);
    if (args.isEmpty() || (command == QStringLiteral("list") && args.size() == 1))
        return List(place);
    if (command == QStringLiteral("link") && args.size() == 3)
        return Report(LinkPort(args[1], args[2], place));
    if (command == QStringLiteral("find") &&
        (args.size() == 1 || (args.size() == 2 && args[1] == QStringLiteral("--use"))))
        return FindModule(place, args.size() == 2);
    if (command == QStringLiteral("unlink") && args.size() == 2)
        return Report(UnlinkPort(args[1], place));
    if (args.size() == 1 &&
        (command == QStringLiteral("--help") || command == QStringLiteral("-h"))) {
        QTextStream(stdout) << kUsage;
        return 0;
    }
    if (args.size() == 1 && command == QStringLiteral("--version")) {
        QTextStream(stdout) << "sensor-companion-ports " << SC_VERSION << '\n';
        return 0;
    }
    QTextStream(stderr) << kUsage;
    return 2;
}
