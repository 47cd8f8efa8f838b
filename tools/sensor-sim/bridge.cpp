#include "bridge.hpp"

#include "log.hpp"
#include "read_address.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

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

Bridge::Bridge(int deviceFd, Clock::duration gap, int baud, const FaultOptions &faults,
               TrafficLog &log, std::function<std::uint8_t()> unitAddress)
    : deviceFd_(deviceFd), framer_(gap, frameLimit), plan_(faults), log_(log),
      toProgram_(faults, baud, log), toDevice_(deviceFd), unitAddress_(std::move(unitAddress)) {}

void Bridge::attachProgram(int fd) {
    programFd_ = fd;
    framer_.clear();
    toProgram_.attach(fd);
    for (PendingReply &reply : replies_) {
        reply.stale = true;
    }
}

short Bridge::programEvents() const {
    return static_cast<short>(POLLIN | (toProgram_.blocked() ? POLLOUT : 0));
}

short Bridge::deviceEvents() const {
    return static_cast<short>(POLLIN | (toDevice_.empty() ? 0 : POLLOUT));
}

std::optional<Bridge::Clock::time_point> Bridge::deadline() const {
    const auto frame = framer_.deadline();
    const auto output = toProgram_.deadline();
    if (frame && output) {
        return std::min(*frame, *output);
    }
    return frame ? frame : output;
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

bool Bridge::readDevice(Clock::time_point now) {
    std::array<std::uint8_t, 1024> buffer{};
    std::size_t count = 0;
    for (;;) {
        switch (readSome(deviceFd_, buffer, count)) {
        case ReadResult::data:
            break;
        case ReadResult::drained:
            sendCompleteReplies();
            return true;
        case ReadResult::failed:
            return false;
        }
        std::span<const std::uint8_t> rest = std::span(buffer).first(count);
        for (PendingReply &reply : replies_) {
            const std::size_t take = std::min(rest.size(), reply.expected - reply.bytes.size());
            reply.bytes.insert(reply.bytes.end(), rest.begin(),
                               rest.begin() + static_cast<std::ptrdiff_t>(take));
            rest = rest.subspan(take);
        }
        if (!rest.empty()) {
            // libmodbus wrote something it did not report (a failed, partial reply): pass
            // it on as it is rather than let it corrupt the next reply.
            logVerbose("%zu unexpected bytes from the device passed on", rest.size());
            toProgram_.sendReply({rest.begin(), rest.end()}, now);
        }
    }
}

void Bridge::releaseFrame(Clock::time_point now) {
    if (!framer_.ready(now)) {
        return;
    }
    SilenceFramer::Frame frame = framer_.take();
    log_.record(frame.arrived, "rx", frame.bytes);
    if (plan_.dropRequest()) {
        logVerbose("request dropped");
        log_.record(now, "drop", frame.bytes);
        return;
    }
    if (isReadAddressRequest(frame.bytes)) {
        const std::uint8_t address = unitAddress_();
        logVerbose("read-address query answered with %d", address);
        const auto answer = readAddressReply(address);
        replies_.push_back({{answer.begin(), answer.end()}, answer.size(), now});
        sendCompleteReplies();
    } else {
        toDevice_.push(frame.bytes);
    }
}

void Bridge::expectReply(std::size_t length, Clock::time_point now) {
    replies_.push_back({{}, length, now});
}

void Bridge::sendCompleteReplies() {
    while (!replies_.empty() && replies_.front().bytes.size() == replies_.front().expected) {
        PendingReply reply = std::move(replies_.front());
        replies_.pop_front();
        if (reply.stale || programFd_ < 0) {
            continue; // unplugged since the request came in
        }
        FaultPlan::ReplyFaults faults = plan_.nextReply();
        if (faults.badCrc) {
            logVerbose("reply CRC spoiled");
            log_.record(Clock::now(), "badcrc", reply.bytes);
            reply.bytes.back() ^= 0xFF;
        }
        if (!faults.noise.empty()) {
            logVerbose("%zu noise bytes follow the reply", faults.noise.size());
        }
        toProgram_.sendReply(std::move(reply.bytes), reply.ready + plan_.options().delay,
                             std::move(faults.noise));
    }
}

bool Bridge::flush(Clock::time_point now) {
    return toDevice_.flush() && toProgram_.service(now);
}

} // namespace sensorsim
