#include "event_loop.hpp"

#include "bridge.hpp"
#include "device.hpp"
#include "log.hpp"
#include "program_port.hpp"
#include "stop_signal.hpp"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

enum Slot : std::size_t { signalSlot, programSlot, bridgeDeviceSlot, serverSlot, stdinSlot };

int pollTimeoutMs(const Bridge &bridge, Bridge::Clock::time_point now) {
    const auto due = bridge.deadline();
    if (!due) {
        return -1;
    }
    if (*due <= now) {
        return 0;
    }
    // Round up: waking a hair early would only spin once more before the work is due.
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

// False when the signal asks the simulator to stop.
bool handleSignal(int signo, const LoopParts &parts) {
    ProgramPort &port = parts.port;
    switch (signo) {
    case SIGUSR1:
        if (port.plugged()) {
            port.unplug();
            parts.bridge.attachProgram(-1);
            parts.log.record(MonoClock::now(), "unplug");
            logVerbose("unplugged");
        }
        return true;
    case SIGUSR2:
        if (!port.plugged()) {
            std::string error;
            if (port.plug(error) != PublishResult::published) {
                logError("plugging in again: %s", error.c_str());
                return true;
            }
            parts.bridge.attachProgram(port.fd());
            parts.log.record(MonoClock::now(), "replug");
            port.announce(parts.device.address());
        }
        return true;
    default:
        return false;
    }
}

} // namespace

LoopEnd runEventLoop(const LoopParts &parts) {
    Bridge &bridge = parts.bridge;
    for (;;) {
        std::array<pollfd, 5> fds{};
        fds[signalSlot] = {parts.signalFd, POLLIN, 0};
        // A negative fd (unplugged) is skipped by poll().
        fds[programSlot] = {bridge.programFd(), bridge.programEvents(), 0};
        fds[bridgeDeviceSlot] = {bridge.deviceFd(), bridge.deviceEvents(), 0};
        fds[serverSlot] = {parts.device.fd(), POLLIN, 0};
        fds[stdinSlot] = {STDIN_FILENO, POLLIN, 0};
        const nfds_t count = parts.watchStdin ? fds.size() : fds.size() - 1;

        const int timeout = pollTimeoutMs(bridge, Bridge::Clock::now());
        if (poll(fds.data(), count, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            logError("poll: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
        const auto now = Bridge::Clock::now();

        if (fds[signalSlot].revents != 0) {
            for (const int signo : takeSignals(parts.signalFd)) {
                if (!handleSignal(signo, parts)) {
                    return LoopEnd::stopped;
                }
            }
            continue; // the program's fd may have changed under the other results
        }
        if (parts.watchStdin && fds[stdinSlot].revents != 0 && stdinClosed()) {
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
        if ((fds[programSlot].revents & POLLOUT) != 0) {
            bridge.programWritable();
        }
        bridge.releaseFrame(now);

        // Collect replies before serving the next request: on a framing error libmodbus's
        // side gets flushed, and anything already in flight must be out of the way.
        if ((fds[bridgeDeviceSlot].revents & POLLIN) != 0 && !bridge.readDevice(now)) {
            logError("reading device side: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
        if ((fds[bridgeDeviceSlot].revents & POLLOUT) != 0) {
            bridge.deviceWritable();
        }
        if ((fds[serverSlot].revents & POLLIN) != 0) {
            if (const int sent = parts.device.serviceRequest(); sent > 0) {
                bridge.expectReply(static_cast<std::size_t>(sent), Bridge::Clock::now());
            }
        }

        if (!bridge.flush(Bridge::Clock::now())) {
            logError("writing: %s", std::strerror(errno));
            return LoopEnd::failed;
        }
    }
}

} // namespace sensorsim
