#include "ptypair.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#if __has_include(<pty.h>)
#include <pty.h>
#elif __has_include(<util.h>)
#include <util.h>
#elif __has_include(<libutil.h>)
#include <libutil.h>
#endif

namespace pty {

namespace {

// Termios belongs to the slave, but setting it through both ends keeps platforms that
// treat the master separately in line as well.
bool Prepare(int fd, int statusFlags) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    return tcsetattr(fd, TCSANOW, &tio) == 0 &&
           fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | statusFlags) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

Fd::~Fd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::optional<PtyPair> PtyPair::Open(std::string &error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return std::nullopt;
    }
    PtyPair pty{Fd(master), Fd(slave), {}};
    std::array<char, 256> name{};
    if (const int err = ttyname_r(slave, name.data(), name.size()); err != 0) {
        error = std::string("ttyname: ") + std::strerror(err);
        return std::nullopt;
    }
    if (!Prepare(slave, 0) || !Prepare(master, O_NONBLOCK)) {
        error = std::string("configuring pty: ") + std::strerror(errno);
        return std::nullopt;
    }
    pty.slaveName = name.data();
    return pty;
}

PublishResult PublishLink(const std::string &link, const std::string &target, std::string &error) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + " exists and is not a symlink; refusing to replace it";
            return PublishResult::Occupied;
        }
        if (unlink(link.c_str()) != 0 && errno != ENOENT) {
            error = "removing old link " + link + ": " + std::strerror(errno);
            return PublishResult::Failed;
        }
    }

    if (symlink(target.c_str(), link.c_str()) != 0) {
        const int err = errno;
        error = "creating link " + link + ": " + std::strerror(err);
        // Something appeared there between the check and now: treat it like any other file.
        return err == EEXIST ? PublishResult::Occupied : PublishResult::Failed;
    }
    return PublishResult::Published;
}

void WithdrawLink(const std::string &link, const std::string &target) {
    std::array<char, 4096> current{};
    const ssize_t n = readlink(link.c_str(), current.data(), current.size() - 1);
    if (n >= 0 && target == std::string_view(current.data(), static_cast<std::size_t>(n))) {
        unlink(link.c_str());
    }
}

} // namespace pty
