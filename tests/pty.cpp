#include "pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

Pty::Pty() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = slave_ = -1;
        return;
    }
    slaveName_ = QString::fromLocal8Bit(name);
}

Pty::~Pty() {
    unplug();
}

bool Pty::linkAs(const QString &dir, int portNumber) const {
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(portNumber));
    QFile::remove(link);
    return QFile::link(slaveName_, link);
}

void Pty::send(const QByteArray &bytes) const {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(master_, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

QByteArray Pty::receive(qsizetype count, int timeoutMs) const {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(); // the program writes from its event loop
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, 10) > 0 && (pfd.revents & POLLIN)) {
            char buf[256];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

bool Pty::waitUntilQueued(int count, int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        int queued = 0;
        if (::ioctl(slave_, FIONREAD, &queued) == 0 && queued >= count)
            return true;
        ::usleep(1000);
    }
    return false;
}

void Pty::unplug() {
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
}
