#include "program_port.hpp"

#include <cstdio>

namespace sensorsim {

PublishResult ProgramPort::plug(std::string &error) {
    auto pty = PtyPair::open(error);
    if (!pty) {
        return PublishResult::failed;
    }
    const PublishResult result = publishLink(link_, pty->slaveName, error);
    if (result == PublishResult::published) {
        pty_ = std::move(pty);
    }
    return result;
}

void ProgramPort::unplug() {
    if (pty_) {
        withdrawLink(link_, pty_->slaveName);
        pty_.reset();
    }
}

void ProgramPort::announce(int address) const {
    if (!pty_) {
        return;
    }
    std::printf("sensor-sim: %s -> %s, address %d\n", link_.c_str(), pty_->slaveName.c_str(),
                address);
    std::fflush(stdout);
}

} // namespace sensorsim
