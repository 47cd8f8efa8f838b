#pragma once

namespace sensorsim {

class Bridge;
class SensorDevice;

enum class LoopEnd { stopped, failed };

// Runs until a stop signal (or, if asked, end of stdin). Sleeps in poll() whenever there
// is nothing to do; the only timer is the silence that ends a frame from the program.
LoopEnd runEventLoop(Bridge &bridge, SensorDevice &device, int stopFd, bool watchStdin);

} // namespace sensorsim
