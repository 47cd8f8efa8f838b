#include "eventloop.h"

#include "bridge.h"
#include "commands.h"
#include "line.h"
#include "ptypair.h"
#include "tcpline.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

// The program's end of the line: a pty published under the link path. It can be unplugged
// and plugged in again, like a USB adapter; each plug-in is a new pty.
class ProgramPort {
public:
    explicit ProgramPort(std::string link) : link_(std::move(link)) {}
    ProgramPort(const ProgramPort &) = delete;
    ProgramPort &operator=(const ProgramPort &) = delete;
    ~ProgramPort() { Unplug(); }

    pty::PublishResult Plug(std::string &error) {
        auto fresh = pty::PtyPair::Open(error);
        const auto result =
            fresh ? pty::PublishLink(link_, fresh->slaveName, error) : pty::PublishResult::Failed;
        if (result == pty::PublishResult::Published) {
            pty_ = std::make_unique<pty::PtyPair>(std::move(*fresh));
        }
        return result;
    }
    // Removes the link first, so nobody opens the dying pty, then closes it: whoever has it
    // open sees a hang-up.
    void Unplug() {
        if (pty_) {
            pty::WithdrawLink(link_, pty_->slaveName);
            pty_.reset();
        }
    }
    bool Plugged() const { return pty_ != nullptr; }
    int Fd() const { return pty_ ? pty_->master.Get() : -1; }

    // The ready line on stdout that scripts and tests wait for.
    void Announce(const std::string &addresses) const {
        std::printf("sensor-sim: %s -> %s, %s\n", link_.c_str(), pty_->slaveName.c_str(),
                    addresses.c_str());
        std::fflush(stdout);
    }

private:
    std::string link_;
    std::unique_ptr<pty::PtyPair> pty_;
};

int wakeWriteFd = -1;

void OnSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    // Full pipe means plenty of wake-ups are pending; nothing to do about a failure here.
    (void)!write(wakeWriteFd, &byte, 1);
    errno = saved;
}

// The read end of a pipe that turns readable once SIGINT, SIGTERM, SIGHUP (stop) or
// SIGUSR1, SIGUSR2 (unplug, plug in) arrive, so the loop acts on them outside the handler.
int InstallSignalPipe() {
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    for (const int fd : fds) {
        if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
            fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) {
            return -1;
        }
    }
    wakeWriteFd = fds[1];

    constexpr std::array handled{SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // Block every other signal while one is being written down: otherwise a second one pending
    // at the same time can run its handler first, and "unplug, plug in" turns round.
    sigfillset(&action.sa_mask);
    for (const int signo : handled) {
        if (sigaction(signo, &action, nullptr) != 0) {
            return -1;
        }
    }
    // A vanished reader must surface as EPIPE/EIO, not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

// The program's side of the line: a pty under the link, or a TCP listener (--tcp).
struct ProgramSide {
    std::unique_ptr<ProgramPort> port;
    std::unique_ptr<TcpLine> tcp;
};

// False when the signal asks the simulator to stop. Repeating an unplug or a plug-in does
// nothing.
bool HandleSignal(int signo, ProgramSide &side, const LoopParts &parts) {
    std::string error;
    if (side.tcp) {
        // Nothing to plug in over TCP: the listener stays. Unplugging is the network lost,
        // the client's connection closed; the next client is served.
        if (signo == SIGUSR1 && side.tcp->ClientFd() >= 0) {
            side.tcp->Drop(parts.log, "unplug", "dropped (SIGUSR1)");
            parts.bridge.AttachProgram(-1);
        }
        return signo == SIGUSR1 || signo == SIGUSR2;
    }
    ProgramPort &port = *side.port;
    if (signo == SIGUSR1 && port.Plugged()) {
        port.Unplug();
        parts.bridge.AttachProgram(-1);
        parts.log.Record(MonoClock::now(), "unplug");
        LogVerbose("unplugged");
    } else if (signo == SIGUSR2 && !port.Plugged()) {
        if (port.Plug(error) != pty::PublishResult::Published) {
            LogError("plugging in again: %s", error.c_str());
            return true;
        }
        parts.bridge.AttachProgram(port.Fd());
        parts.log.Record(MonoClock::now(), "replug");
        port.Announce(parts.line.Addresses());
    }
    return signo == SIGUSR1 || signo == SIGUSR2;
}

// Opens the program's side and prints the ready line; the exit status when it cannot.
std::optional<int> OpenProgramSide(ProgramSide &side, const LoopParts &parts) {
    std::string error;
    if (parts.tcpPort >= 0) {
        side.tcp = TcpLine::Listen(parts.tcpHost, parts.tcpPort, error);
        if (!side.tcp) {
            LogError("%s", error.c_str());
            return 1;
        }
        side.tcp->Announce(parts.line.Addresses());
        return std::nullopt;
    }
    side.port = std::make_unique<ProgramPort>(parts.link);
    if (const auto result = side.port->Plug(error); result != pty::PublishResult::Published) {
        LogError("%s", error.c_str());
        return result == pty::PublishResult::Occupied ? 2 : 1;
    }
    side.port->Announce(parts.line.Addresses());
    parts.bridge.AttachProgram(side.port->Fd());
    return std::nullopt;
}

// True when stdin has reached end of file (or failed for good).
bool StdinClosed() {
    std::array<char, 256> sink{};
    const ssize_t n = read(STDIN_FILENO, sink.data(), sink.size());
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
}

} // namespace

int RunEventLoop(const LoopParts &parts) {
    const int signalFd = InstallSignalPipe();
    if (signalFd < 0) {
        LogError("setting up signals: %s", std::strerror(errno));
        return 1;
    }
    ProgramSide side;
    if (const auto failed = OpenProgramSide(side, parts)) {
        return *failed;
    }
    Bridge &bridge = parts.bridge;
    const int listenFd = side.tcp ? side.tcp->ListenFd() : -1;
    StdinCommands commands(parts.line);
    bool watchStdin = parts.stdinEofExits || parts.stdinCommands;

    std::vector<pollfd> fds;
    for (;;) {
        // The listener before the client: poll() looks at them in this order, so a client
        // that hung up before the next one connected is seen gone by the time that one is.
        fds = {pollfd{listenFd, POLLIN, 0}, pollfd{signalFd, POLLIN, 0},
               pollfd{watchStdin ? STDIN_FILENO : -1, POLLIN, 0}};
        bridge.PollFds(fds);
        int timeout = -1;
        if (const auto due = bridge.Deadline()) {
            // Round up: waking a hair early would only spin once more before the work is due.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - MonoClock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        }
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            LogError("poll: %s", std::strerror(errno));
            return 1;
        }
        if (fds[1].revents != 0) {
            std::array<unsigned char, 64> signals{};
            const ssize_t n = read(signalFd, signals.data(), signals.size());
            for (ssize_t i = 0; i < n; ++i) {
                if (!HandleSignal(signals[static_cast<std::size_t>(i)], side, parts)) {
                    return 0;
                }
            }
            continue; // the program's fd may have changed under the other results
        }
        if (fds[2].revents != 0) {
            const bool open = parts.stdinCommands ? commands.ReadAndRun() : !StdinClosed();
            if (!open && parts.stdinEofExits) {
                return 0;
            }
            watchStdin = open;
            continue; // the modules on the line may have changed under the other results
        }
        switch (bridge.Serve(std::span(fds).subspan(3), MonoClock::now())) {
        case Served::Ok:
            break;
        case Served::Failed:
            return 1;
        case Served::ProgramLost:
            if (!side.tcp) { // a pty we hold both ends of does not go away by itself
                LogError("program's side of the line: %s", bridge.Why().c_str());
                return 1;
            }
            side.tcp->Drop(parts.log, "disconnect", bridge.Why());
            bridge.AttachProgram(-1);
            break;
        }
        // After the bridge has had its say, so a client found gone makes room for the next.
        if (side.tcp && fds[0].revents != 0 && side.tcp->Accept(parts.log)) {
            bridge.AttachProgram(side.tcp->ClientFd());
        }
    }
}

} // namespace sensorsim
