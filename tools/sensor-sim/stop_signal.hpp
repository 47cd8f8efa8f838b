#pragma once

#include <string>
#include <vector>

namespace sensorsim {

// Returns the read end of a pipe that turns readable once SIGINT, SIGTERM, SIGHUP (stop)
// or SIGUSR1, SIGUSR2 (unplug, plug in) arrive, so the poll loop can act on them outside
// the handler; -1 and `error` on failure.
int installSignalPipe(std::string &error);

// The signals that have arrived since the last call, oldest first.
std::vector<int> takeSignals(int pipeFd);

} // namespace sensorsim
