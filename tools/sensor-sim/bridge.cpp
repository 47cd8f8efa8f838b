#include "bridge.hpp"

#include "log.hpp"
#include "read_address.hpp"

#include <array>
#include <cerrno>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

// Nobody may be reading the program's side (port closed); don't let replies pile up.
constexpr std::size_t outboxLimit = 64 * 1024;

// Comfortably above the largest RTU frame, so a pause-free stream is still passed on.
constexpr std::size_t frameLimit = 512;

enum class ReadResult { data, drained, failed };

ReadResult readSome(int fd, std::array<std::uint8_t, 1024> &buffer, std::size_t &count) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n > 0) {
        count = static_cast<std::size_t>(n);
        return ReadResult::data;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return ReadResult::drained;
    }
    return ReadResult::failed;
}

} // namespace

void Outbox::push(std::span<const std::uint8_t> bytes) {
    if (bytes_.size() + bytes.size() > outboxLimit) {
        logVerbose("%zu bytes dropped: nobody is reading", bytes.size());
        return;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

bool Outbox::flush() {
    while (!bytes_.empty()) {
        const ssize_t n = write(fd_, bytes_.data(), bytes_.size());
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
        bytes_.erase(bytes_.begin(), bytes_.begin() + n);
    }
    return true;
}

Bridge::Bridge(int programFd, int deviceFd, Clock::duration gap,
               std::function<std::uint8_t()> unitAddress)
    : programFd_(programFd), deviceFd_(deviceFd), framer_(gap, frameLimit), toProgram_(programFd),
      toDevice_(deviceFd), unitAddress_(std::move(unitAddress)) {}

short Bridge::programEvents() const {
    return static_cast<short>(POLLIN | (toProgram_.empty() ? 0 : POLLOUT));
}

short Bridge::deviceEvents() const {
    return static_cast<short>(POLLIN | (toDevice_.empty() ? 0 : POLLOUT));
}

bool Bridge::readProgram(Clock::time_point now) {
    std::array<std::uint8_t, 1024> buffer{};
    std::size_t count = 0;
    for (;;) {
        switch (readSome(programFd_, buffer, count)) {
        case ReadResult::data:
            framer_.feed(std::span(buffer).first(count), now);
            break;
        case ReadResult::drained:
            return true;
        case ReadResult::failed:
            return false;
        }
    }
}

bool Bridge::readDevice() {
    std::array<std::uint8_t, 1024> buffer{};
    std::size_t count = 0;
    for (;;) {
        switch (readSome(deviceFd_, buffer, count)) {
        case ReadResult::data:
            toProgram_.push(std::span(buffer).first(count));
            break;
        case ReadResult::drained:
            return true;
        case ReadResult::failed:
            return false;
        }
    }
}

void Bridge::releaseFrame(Clock::time_point now) {
    if (!framer_.ready(now)) {
        return;
    }
    const std::vector<std::uint8_t> frame = framer_.take();
    if (isReadAddressRequest(frame)) {
        const std::uint8_t address = unitAddress_();
        logVerbose("read-address query answered with %d", address);
        toProgram_.push(readAddressReply(address));
    } else {
        toDevice_.push(frame);
    }
}

bool Bridge::flush() {
    return toProgram_.flush() && toDevice_.flush();
}

} // namespace sensorsim
