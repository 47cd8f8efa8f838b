#pragma once
// The program's side of the line as a serial device server in "TCP server" mode: the module
// behind a listening socket, one client at a time, the raw RTU bytes passed both ways as on
// the line.

#include "ptypair.h"

#include <memory>
#include <string>

namespace sensorsim {

class TrafficLog;

class TcpLine {
public:
    // True when `host` is a numeric IPv4 or IPv6 address; names are not looked up.
    static bool IsNumericAddress(const std::string &host);
    // Listens at `host`, `port` (0: a free one); empty, with `error` filled, when it cannot.
    static std::unique_ptr<TcpLine> Listen(const std::string &host, int port, std::string &error);

    int ListenFd() const { return listener_.Get(); }
    // The client being served; -1 for none.
    int ClientFd() const { return client_.Get(); }

    // Takes the connections waiting at the listener. The first becomes the client when
    // there is none; any other is refused, accepted and closed at once, as a device server
    // with a single connection does. True when a new client was taken.
    bool Accept(TrafficLog &log);
    // Closes the client's connection; logged as `kind`, with `why` on stderr (--verbose).
    void Drop(TrafficLog &log, const char *kind, const std::string &why);

    // The ready line: "sensor-sim: tcp 127.0.0.1:40123, address 1" (with several modules
    // "addresses 3,5"), an IPv6 address in brackets, so the port follows the last colon
    // either way.
    void Announce(const std::string &addresses) const;

private:
    TcpLine(pty::Fd listener, std::string name)
        : listener_(std::move(listener)), name_(std::move(name)) {}

    pty::Fd listener_;
    pty::Fd client_;
    std::string name_;       // where it listens, ADDRESS:PORT
    std::string clientName_; // where the client is, ADDRESS:PORT
};

} // namespace sensorsim
