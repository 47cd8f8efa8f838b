#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

Pty::Pty() {
    std::string error;
    pty_ = pty::PtyPair::Open(error);
    if (pty_)
        slaveName_ = QString::fromStdString(pty_->slaveName);
}

bool Pty::linkAs(const QString &dir, int portNumber) const {
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(portNumber));
    std::string error;
    return pty_ && pty::PublishLink(link.toStdString(), pty_->slaveName, error) ==
                       pty::PublishResult::Published;
}

void Pty::send(const QByteArray &bytes) const {
    if (!pty_)
        return;
    const int fd = pty_->master.Get();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        // The master is non-blocking: a full buffer waits until the program reads.
        pollfd pfd{fd, POLLOUT, 0};
        if (n == 0 || (errno != EINTR && errno != EAGAIN) || ::poll(&pfd, 1, 2000) <= 0)
            return;
    }
}

QByteArray Pty::receive(qsizetype count, int timeoutMs) const {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (pty_ && got.size() < count && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(); // the program writes from its event loop
        pollfd pfd{pty_->master.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(pfd.fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

QByteArray Pty::takeArrived(int quietMs) const {
    QByteArray got;
    pollfd pfd{pty_ ? pty_->master.Get() : -1, POLLIN, 0};
    while (pty_ && ::poll(&pfd, 1, quietMs) > 0 && (pfd.revents & POLLIN)) {
        char buf[256];
        const ssize_t n = ::read(pfd.fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    return got;
}

bool Pty::waitUntilQueued(int count, int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (pty_ && clock.elapsed() < timeoutMs) {
        int queued = 0;
        if (::ioctl(pty_->slave.Get(), FIONREAD, &queued) == 0 && queued >= count)
            return true;
        ::usleep(1000);
    }
    return false;
}
