#pragma once

namespace sensorsim {

class Bridge;
class ProgramPort;
class SensorDevice;
class TrafficLog;

enum class LoopEnd { stopped, failed };

struct LoopParts {
    Bridge &bridge;
    SensorDevice &device;
    ProgramPort &port;
    TrafficLog &log;
    int signalFd;
    bool watchStdin;
};

// Runs until a stop signal (or, if asked, end of stdin). Sleeps in poll() whenever there
// is nothing to do; the only timers are the silence that ends a frame from the program and
// replies scheduled for later by the fault options.
LoopEnd runEventLoop(const LoopParts &parts);

} // namespace sensorsim
