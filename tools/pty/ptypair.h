#pragma once
// Pseudo-terminals, for the simulator and for the tests that play a device on one: a raw
// pair, and the symbolic link (COM4 -> /dev/pts/3) under which a program finds its slave.
// Plain POSIX, no Qt, so the simulator can ship without the tests.

#include <optional>
#include <string>
#include <utility>

namespace pty {

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd();

    int Get() const { return fd_; }

private:
    int fd_ = -1;
};

// An open pseudo-terminal with both ends in raw mode and closed on exec. The master end is
// non-blocking; the slave fd is held so the master never sees a hang-up while nobody else
// has the slave open (a program closing and reopening its port must not break the line).
struct PtyPair {
    Fd master;
    Fd slave;
    std::string slaveName;

    static std::optional<PtyPair> Open(std::string &error);
};

enum class PublishResult { Published, Occupied, Failed };

// Points `link` at `target`. A symlink already there is taken to be a leftover from an
// earlier run and replaced; anything else is someone's file and is left alone (occupied).
PublishResult PublishLink(const std::string &link, const std::string &target, std::string &error);

// Removes `link` if it still points at `target`, so a newer instance's link survives.
void WithdrawLink(const std::string &link, const std::string &target);

} // namespace pty
