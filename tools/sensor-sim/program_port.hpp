#pragma once

#include "pty_pair.hpp"

#include <optional>
#include <string>

namespace sensorsim {

// The program's end of the line: a pty published under the link path. It can be unplugged
// and plugged in again, like a USB adapter; each plug-in is a new pty.
class ProgramPort {
public:
    explicit ProgramPort(std::string link) : link_(std::move(link)) {}
    ProgramPort(const ProgramPort &) = delete;
    ProgramPort &operator=(const ProgramPort &) = delete;
    ~ProgramPort() { unplug(); }

    PublishResult plug(std::string &error);
    // Removes the link first, so nobody opens the dying pty, then closes it: whoever has
    // it open sees a hang-up.
    void unplug();

    bool plugged() const { return pty_.has_value(); }
    int fd() const { return pty_ ? pty_->master.get() : -1; }

    // The ready line on stdout that scripts and tests wait for.
    void announce(int address) const;

private:
    std::string link_;
    std::optional<PtyPair> pty_;
};

} // namespace sensorsim
