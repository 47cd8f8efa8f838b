#pragma once

#include <string>

namespace sensorsim {

class Bridge;
class SensorDevice;
class TrafficLog;

struct LoopParts {
    Bridge &bridge;
    SensorDevice &device;
    TrafficLog &log;
    std::string link; // where the program finds its port
    bool watchStdin;  // --stdin-eof-exits
};

// Publishes the program's port at the link, prints the ready line, and runs until a stop
// signal (or, if asked, end of stdin); SIGUSR1 and SIGUSR2 unplug the port and plug it in
// again. Sleeps in poll() whenever there is nothing to do: the only timers are the silence
// that ends a frame from the program and replies the fault options hold back. Returns the
// exit status: 0 when stopped, 2 when the link's path is someone else's file, else 1.
int RunEventLoop(const LoopParts &parts);

} // namespace sensorsim
