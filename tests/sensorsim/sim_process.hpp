#pragma once

// Runs the simulator as a child process with every wait bounded, so a broken simulator
// fails the test instead of hanging it.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

class SimProcess {
public:
    // stderr goes to `stderrFile` if given, else it is inherited.
    SimProcess(const std::string &exe, const std::vector<std::string> &args,
               const std::string &stderrFile = {});
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    ~SimProcess(); // kills the child if it is still running

    pid_t pid() const { return pid_; }
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    void closeStdin();
    // Exit status; nullopt (and the child killed) if it is still running after `timeout`
    // or died from a signal.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string pending_;
};
