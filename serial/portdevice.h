#pragma once
// What each port number opens and leads to.
//
// Port n (COMn) is on Windows the system's own COMn. On Linux and macOS it is a link (or
// device node) named "COMn" in the settings folder when there is one, so that
// `ln -s /dev/ttyUSB0 COM4` points COM4 at an adapter; otherwise /dev/ttyS(n-1), the
// kernel's name for the n-th PC serial port.
//
// On every system a file "COMn-tcp.txt" in the settings folder, one line "tcp://HOST:PORT",
// makes COMn a connection to that serial device server instead: an address is no file, so
// a link cannot hold it, and Windows takes "COM5.anything" for its device COM5. The user's
// own folder decides before the administrator's, and in one folder COMn-tcp.txt before a
// COMn link.

#include "settingsplace.h"
#include "tcpaddress.h"

#include <QString>

#include <optional>

// The port numbers the window offers, COM1 to COM16.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;

// The device COMn opens, or for a network port its address as "tcp://HOST:PORT".
QString PortDevice(int portNumber, const SettingsPlace &place);

// Where the COMn-tcp.txt file in dir is or would be.
QString PortTcpPath(int portNumber, const QString &dir);
// A COMn that stands for a network address: its file, the line in it, and the address that
// line gives (none when it gives none).
struct TcpLink {
    QString file;
    QString text;
    std::optional<TcpAddress> address;
};
// The COMn-tcp.txt that decides for COMn, as above; none when COMn is a serial port.
std::optional<TcpLink> TcpLinkOf(int portNumber, const SettingsPlace &place);

// The path with every link followed, or the path itself when it leads nowhere.
QString ResolvedPath(const QString &path);

// Where the COMn link in dir is or would be, whether or not there is one.
QString PortLinkPath(int portNumber, const QString &dir);
// The COMn link in dir, when there is one (dangling or not); empty otherwise.
QString PortLink(int portNumber, const QString &dir);
// The COMn link that decides: the user's own, else the administrator's; empty when neither.
QString PortLink(int portNumber, const SettingsPlace &place);

// What COMn leads to, told to people: the port list's tooltips and the port command show
// the device as the link names it (a stable /dev/serial/by-id/ name stays readable), and
// whether that device is there now.
struct PortTarget {
    QString link;         // the COMn link that decides, empty when there is none
    QString device;       // what COMn opens, as the link names it; tcp://HOST:PORT
    bool present = false; // the device exists now; false for a network port
    bool tcp = false;     // COMn stands for a network address (link: its COMn-tcp.txt)
};

PortTarget PortTargetOf(int portNumber, const SettingsPlace &place);
