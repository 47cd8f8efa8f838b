#include "stop_signal.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace sensorsim {

namespace {

int wakeWriteFd = -1;

void onStopSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    // Full pipe means a wake-up is already pending; nothing to do about a failure here.
    (void)!write(wakeWriteFd, &byte, 1);
    errno = saved;
}

bool setFlags(int fd) {
    return fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

int installStopSignals(std::string &error) {
    int fds[2];
    if (pipe(fds) != 0 || !setFlags(fds[0]) || !setFlags(fds[1])) {
        error = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    wakeWriteFd = fds[1];

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(signo, &action, nullptr) != 0) {
            error = std::string("sigaction: ") + std::strerror(errno);
            return -1;
        }
    }
    // A vanished reader must surface as EPIPE/EIO, not kill the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    return fds[0];
}

} // namespace sensorsim
