#include "event_loop.hpp"

#include "bridge.hpp"
#include "log.hpp"
#include "sensor_device.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

enum Slot : std::size_t { stopSlot, programSlot, bridgeDeviceSlot, serverSlot, stdinSlot };

int pollTimeoutMs(const Bridge &bridge, Bridge::Clock::time_point now) {
    const auto due = bridge.deadline();
    if (!due) {
        return -1;
    }
    if (*due <= now) {
        return 0;
    }
    // Round up: waking a hair early would only spin once more before the frame is due.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - now);
    return static_cast<int>(wait.count());
}

bool broken(const pollfd &p) {
    // We hold the slave ends open ourselves, so a hang-up means the pty is gone.
    return (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

// True when stdin has reached end of file (or failed for good).
bool stdinClosed() {
    std::array<char, 256> sink{};
    const ssize_t n = read(STDIN_FILENO, sink.data(), sink.size());
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
}

} // namespace

LoopEnd runEventLoop(Bridge &bridge, SensorDevice &device, int stopFd, bool watchStdin) {
    for (;;) {
        std::array<pollfd, 5> fds{};
        fds[stopSlot] = {stopFd, POLLIN, 0};
        fds[programSlot] = {bridge.programFd(), bridge.programEvents(), 0};
        fds[bridgeDeviceSlot] = {bridge.deviceFd(), bridge.deviceEvents(), 0};
        fds[serverSlot] = {device.fd(), POLLIN, 0};
        fds[stdinSlot] = {STDIN_FILENO, POLLIN, 0};
        const nfds_t count = watchStdin ? fds.size() : fds.size() - 1;

        const int timeout = pollTimeoutMs(bridge, Bridge::Clock::now());
        if (poll(fds.data(), count, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            logError("poll: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
        const auto now = Bridge::Clock::now();

        if (fds[stopSlot].revents != 0) {
            return LoopEnd::stopped;
        }
        if (watchStdin && fds[stdinSlot].revents != 0 && stdinClosed()) {
            return LoopEnd::stopped;
        }
        if (broken(fds[programSlot]) || broken(fds[bridgeDeviceSlot]) || broken(fds[serverSlot])) {
            logError("pseudo-terminal failed");
            return LoopEnd::failed;
        }

        if ((fds[programSlot].revents & POLLIN) != 0 && !bridge.readProgram(now)) {
            logError("reading program side: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
        bridge.releaseFrame(now);

        // Collect replies before serving the next request: on a framing error libmodbus's
        // side gets flushed, and anything already in flight must be out of the way.
        if ((fds[bridgeDeviceSlot].revents & POLLIN) != 0 && !bridge.readDevice()) {
            logError("reading device side: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
        if ((fds[serverSlot].revents & POLLIN) != 0) {
            device.serviceRequest();
        }

        if (!bridge.flush()) {
            logError("writing: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
    }
}

} // namespace sensorsim
