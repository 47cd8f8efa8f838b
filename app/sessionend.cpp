#include "sessionend.h"

#include <QCoreApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int wakeFds[2] = {-1, -1}; // [0] read by the event loop, [1] written by the handler
bool endAsked = false;

void OnEndSignal(int) {
    const int saved = errno; // the interrupted code may be about to read errno
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

bool OpenWakePipe() {
    if (::pipe(wakeFds) != 0)
        return false;
    for (const int fd : wakeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); // a full pipe drops the byte
    }
    return true;
}

} // namespace

void EndLikeAClosedWindow() {
    if (!OpenWakePipe())
        return; // the program runs on, as it did before it could end cleanly
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char bytes[16];
        while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
        }
        endAsked = true;
        // Ends every loop, an open message box's included, so the program ends at once.
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signo, &action, nullptr);
}

bool EndWasAsked() {
    return endAsked;
}

#else

void EndLikeAClosedWindow() {}
bool EndWasAsked() {
    return false;
}

#endif
