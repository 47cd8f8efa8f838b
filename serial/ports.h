#pragma once
// Where ports and settings are: the folder that holds comm.set and the COMn links, the device
// each port number opens, and the links a technician makes with the port command.
//
// A program run from a build tree or an unpacked folder keeps its settings beside itself, as
// it always has. An installed program keeps them in the user's configuration directory and
// never writes into the system's program directory: a comm.set or COMn link that an
// administrator placed in the system's configuration directory (/etc/xdg/sensor-companion,
// %PROGRAMDATA%\sensor-companion) is only read, as the default for a user who has none.
//
// Port n (COMn) is on Windows the system's own COMn. On Linux and macOS it is a link (or
// device node) named "COMn" in the settings folder when there is one, so that
// `ln -s /dev/ttyUSB0 COM4` points COM4 at an adapter; otherwise /dev/ttyS(n-1), the
// kernel's name for the n-th PC serial port.

#include <QString>
#include <QStringList>

#include <optional>

// The port numbers the window offers, COM1 to COM16.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

struct SettingsPlace {
    // A directory of its own, with no default behind it: a build tree, a test's folder.
    SettingsPlace(QString own = {}, QString fallback = {});

    QString own;      // read first, and the only place written; empty when there is none
    QString fallback; // read only, when own has nothing; empty when there is none
};

// The decision itself, for a program in programDir that does or does not run installed.
// userConfigDir is the user's configuration directory (empty when the system has none),
// systemConfigDirs the system's, most important first: the first that holds our folder is the
// default, or the first of them when none does yet.
SettingsPlace DecideSettingsPlace(const QString &programDir, bool installed,
                                  const QString &userConfigDir,
                                  const QStringList &systemConfigDirs);

// True when programDir is the directory the program is installed into: the binary
// directory of the install prefix on Linux and macOS, any Program Files folder on Windows.
bool RunsInstalled(const QString &programDir);

// The one place every part asks: comm.set, the COMn links, the port command's links.
SettingsPlace SettingsPlaceOf(const QString &programDir);

QString PortDevice(int portNumber, const SettingsPlace &place);

// The path with every link followed, or the path itself when it leads nowhere.
QString ResolvedPath(const QString &path);

// The COMn link in dir, when there is one (dangling or not); empty otherwise.
QString PortLink(int portNumber, const QString &dir);
// The COMn link that decides: the user's own, else the administrator's; empty when neither.
QString PortLink(int portNumber, const SettingsPlace &place);

// What COMn leads to, told to people: the port list's tooltips and the port command show
// the device as the link names it (a stable /dev/serial/by-id/ name stays readable), and
// whether that device is there now.
struct PortTarget {
    QString link;         // the COMn link that decides, empty when there is none
    QString device;       // what COMn opens, as the link names it
    bool present = false; // the device exists now
};

PortTarget PortTargetOf(int portNumber, const SettingsPlace &place);

// "COM5 → /dev/serial/by-id/usb-…-if00-port0" and, on a second line, whether it is there;
// `echoing`: a third line says that the adapter's echo is being taken out.
QString PortToolTip(int portNumber, const SettingsPlace &place, bool echoing = false);

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

// "4" or "COM4" (any case) for port 4; nothing outside 1 to 16.
std::optional<int> ParsePortNumber(const QString &text);

// Makes COMn in place.own lead to device, by its stable name when it has one in stableDir,
// so the link survives plugging the adapter into another USB socket. A refusal leaves every
// file as it was.
PortCommandResult LinkPort(const QString &number, const QString &device, const SettingsPlace &place,
                           const QString &stableDir = QString::fromLatin1(kStableNameDir));

// Removes the COMn link from place.own; an administrator's link stays.
PortCommandResult UnlinkPort(const QString &number, const SettingsPlace &place);
