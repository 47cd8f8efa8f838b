#include "tcpline.h"

#include "log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace sensorsim {

namespace {

// "127.0.0.1:40123" or "[::1]:40123".
std::string NameOf(const sockaddr_storage &address, socklen_t length) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), length, host, sizeof host, port,
                    sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    // Appended piece by piece: GCC 12's optimiser warns falsely about "[" + std::string.
    std::string name;
    if (address.ss_family == AF_INET6)
        name.append("[").append(host).append("]");
    else
        name.append(host);
    return name.append(":").append(port);
}

bool NonBlocking(int fd) {
    return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

bool TcpLine::IsNumericAddress(const std::string &host) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const bool numeric = getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0;
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    return numeric;
}

std::unique_ptr<TcpLine> TcpLine::Listen(const std::string &host, int port, std::string &error) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    if (const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        status != 0) {
        error = "--tcp-host " + host + ": " + gai_strerror(status);
        return nullptr;
    }
    pty::Fd listener(socket(found->ai_family, found->ai_socktype, found->ai_protocol));
    const int yes = 1;
    // A restart gets its port back at once, though the last run's connections linger.
    const bool listening =
        listener.Get() >= 0 && NonBlocking(listener.Get()) &&
        setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
        bind(listener.Get(), found->ai_addr, found->ai_addrlen) == 0 &&
        listen(listener.Get(), 4) == 0;
    const int cause = errno;
    freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (!listening ||
        getsockname(listener.Get(), reinterpret_cast<sockaddr *>(&bound), &length) != 0) {
        error = "listening at " + host + " port " + service + ": " +
                std::strerror(listening ? errno : cause);
        return nullptr;
    }
    return std::unique_ptr<TcpLine>(new TcpLine(std::move(listener), NameOf(bound, length)));
}

bool TcpLine::Accept(TrafficLog &log) {
    bool taken = false;
    for (;;) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        pty::Fd fd(accept(listener_.Get(), reinterpret_cast<sockaddr *>(&peer), &length));
        if (fd.Get() < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                LogError("accepting a client: %s", std::strerror(errno));
            }
            return taken;
        }
        const std::string name = NameOf(peer, length);
        const int yes = 1;
        if (client_.Get() >= 0) {
            log.Record(MonoClock::now(), "refused");
            LogVerbose("client %s refused: %s is being served", name.c_str(), clientName_.c_str());
            continue; // closed as it goes out of scope
        }
        // Replies, and the pieces of a split one, leave as they are written, not when the
        // stack sees fit to send them together.
        if (!NonBlocking(fd.Get()) ||
            setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) != 0) {
            LogError("client %s: %s", name.c_str(), std::strerror(errno));
            continue;
        }
        client_ = std::move(fd);
        clientName_ = name;
        taken = true;
        log.Record(MonoClock::now(), "connect");
        LogVerbose("client %s connected", name.c_str());
    }
}

void TcpLine::Drop(TrafficLog &log, const char *kind, const std::string &why) {
    if (client_.Get() < 0) {
        return;
    }
    client_ = pty::Fd();
    log.Record(MonoClock::now(), kind);
    LogVerbose("client %s %s", clientName_.c_str(), why.c_str());
}

void TcpLine::Announce(const std::string &addresses) const {
    std::printf("sensor-sim: tcp %s, %s\n", name_.c_str(), addresses.c_str());
    std::fflush(stdout);
}

} // namespace sensorsim
