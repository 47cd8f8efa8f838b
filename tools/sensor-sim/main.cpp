// sensor-sim: a stand-in for the sensor module on a pseudo-terminal, so the companion
// program can be run and tested without hardware.
//
//   program <-> [pty A] <-> bridge <-> [pty B] <-> libmodbus RTU server
//
// The bridge answers the module's non-Modbus read-address query itself and passes all
// other requests through unchanged; replies come back through it whole, which is where
// the fault options (delays, split replies, bad CRCs, noise, lost requests) act.

#include "bridge.hpp"
#include "event_loop.hpp"
#include "log.hpp"
#include "options.hpp"
#include "program_port.hpp"
#include "pty_pair.hpp"
#include "sensor_device.hpp"
#include "stop_signal.hpp"
#include "traffic_log.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <span>

namespace {

constexpr int exitRuntimeError = 1;
constexpr int exitUsage = 2;

// Frames end after 3.5 character times of silence (11 bits each). On a pty the program's
// writes arrive in bursts rather than at line speed, so never go below a few milliseconds.
std::chrono::microseconds frameGap(int baud) {
    const auto interFrame = std::chrono::microseconds(38'500'000 / baud);
    return std::max<std::chrono::microseconds>(interFrame, std::chrono::milliseconds(5));
}

} // namespace

int main(int argc, char **argv) {
    using namespace sensorsim;

    std::string error;
    const auto options = parseOptions(std::span(argv, static_cast<std::size_t>(argc)), error);
    if (!options) {
        std::fprintf(stderr, "sensor-sim: %s\n%s", error.c_str(), usageText());
        return exitUsage;
    }
    if (options->help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    setVerbose(options->verbose);

    TrafficLog log;
    if (!options->log.empty() && !log.open(options->log, error)) {
        logError("%s", error.c_str());
        return exitRuntimeError;
    }

    const int signalFd = installSignalPipe(error);
    if (signalFd < 0) {
        logError("%s", error.c_str());
        return exitRuntimeError;
    }

    auto deviceSide = PtyPair::open(error);
    if (!deviceSide) {
        logError("%s", error.c_str());
        return exitRuntimeError;
    }
    const auto device = SensorDevice::open(deviceSide->slaveName, options->baud, options->address,
                                           options->faults.seed, error);
    if (!device) {
        logError("%s", error.c_str());
        return exitRuntimeError;
    }

    ProgramPort port(options->link);
    switch (port.plug(error)) {
    case PublishResult::published:
        break;
    case PublishResult::occupied:
        logError("%s", error.c_str());
        return exitUsage;
    case PublishResult::failed:
        logError("%s", error.c_str());
        return exitRuntimeError;
    }
    port.announce(options->address);

    Bridge bridge(deviceSide->master.get(), frameGap(options->baud), options->baud, options->faults,
                  log, [&device] { return device->address(); });
    bridge.attachProgram(port.fd());
    const LoopEnd end =
        runEventLoop({bridge, *device, port, log, signalFd, options->stdinEofExits});

    port.unplug();
    return end == LoopEnd::stopped ? 0 : exitRuntimeError;
}
