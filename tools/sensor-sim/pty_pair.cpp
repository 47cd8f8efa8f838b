#include "pty_pair.hpp"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#if __has_include(<pty.h>)
#include <pty.h>
#elif __has_include(<util.h>)
#include <util.h>
#elif __has_include(<libutil.h>)
#include <libutil.h>
#endif

namespace sensorsim {

namespace {

bool makeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool addFlags(int fd, int statusFlags) {
    const int fl = fcntl(fd, F_GETFL);
    if (fl < 0 || fcntl(fd, F_SETFL, fl | statusFlags) != 0) {
        return false;
    }
    const int fdFlags = fcntl(fd, F_GETFD);
    return fdFlags >= 0 && fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0;
}

} // namespace

std::optional<PtyPair> PtyPair::open(std::string &error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return std::nullopt;
    }

    std::array<char, 256> name{};
    if (ttyname_r(slave, name.data(), name.size()) != 0) {
        error = std::string("ttyname: ") + std::strerror(errno);
        close(master);
        close(slave);
        return std::nullopt;
    }

    // Termios belongs to the slave, but setting it through both ends keeps platforms that
    // treat the master separately in line as well.
    if (!makeRaw(slave) || !makeRaw(master) || !addFlags(master, O_NONBLOCK) ||
        !addFlags(slave, 0)) {
        error = std::string("configuring pty: ") + std::strerror(errno);
        close(master);
        close(slave);
        return std::nullopt;
    }

    return PtyPair(master, slave, name.data());
}

PtyPair::PtyPair(PtyPair &&other) noexcept
    : master_(std::exchange(other.master_, -1)), slave_(std::exchange(other.slave_, -1)),
      slaveName_(std::move(other.slaveName_)) {}

PtyPair &PtyPair::operator=(PtyPair &&other) noexcept {
    if (this != &other) {
        reset();
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        slaveName_ = std::move(other.slaveName_);
    }
    return *this;
}

PtyPair::~PtyPair() {
    reset();
}

void PtyPair::reset() {
    if (master_ >= 0) {
        close(master_);
    }
    if (slave_ >= 0) {
        close(slave_);
    }
    master_ = slave_ = -1;
}

} // namespace sensorsim
