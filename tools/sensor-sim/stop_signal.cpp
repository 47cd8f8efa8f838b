#include "stop_signal.hpp"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sensorsim {

namespace {

int wakeWriteFd = -1;

void onSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    // Full pipe means plenty of wake-ups are pending; nothing to do about a failure here.
    (void)!write(wakeWriteFd, &byte, 1);
    errno = saved;
}

bool setFlags(int fd) {
    return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

int installSignalPipe(std::string &error) {
    int fds[2];
    if (pipe(fds) != 0 || !setFlags(fds[0]) || !setFlags(fds[1])) {
        error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    wakeWriteFd = fds[1];

    constexpr std::array handled{SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};
    struct sigaction action {};
    action.sa_handler = onSignal;
    // Block the others while one is being written down: otherwise a second signal pending
    // at the same time can run its handler first, and "unplug, plug in" turns round.
    sigemptyset(&action.sa_mask);
    for (int signo : handled) {
        sigaddset(&action.sa_mask, signo);
    }
    for (int signo : handled) {
        if (sigaction(signo, &action, nullptr) != 0) {
            error = std::string("sigaction: ") + std::strerror(errno);
            return -1;
        }
    }
    // A vanished reader must surface as EPIPE/EIO, not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

std::vector<int> takeSignals(int pipeFd) {
    std::vector<int> signals;
    std::array<unsigned char, 64> bytes{};
    ssize_t n = 0;
    while ((n = read(pipeFd, bytes.data(), bytes.size())) > 0 || (n < 0 && errno == EINTR)) {
        signals.insert(signals.end(), bytes.begin(), bytes.begin() + (n > 0 ? n : 0));
    }
    return signals;
}

} // namespace sensorsim
