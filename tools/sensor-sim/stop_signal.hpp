#pragma once

#include <string>

namespace sensorsim {

// Returns the read end of a pipe that turns readable once SIGINT, SIGTERM or SIGHUP
// arrives, so the poll loop can shut down cleanly; -1 and `error` on failure.
int installStopSignals(std::string &error);

} // namespace sensorsim
