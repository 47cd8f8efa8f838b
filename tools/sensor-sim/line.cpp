#include "line.h"

#include "log.h"

#include <algorithm>
#include <cerrno>

#include <termios.h>
#include <unistd.h>

namespace sensorsim {

std::unique_ptr<Module> Module::Open(int id, int baud, int address, std::uint32_t seed,
                                     const ModuleOptions &options, const Light &light,
                                     std::string &error) {
    auto pty = pty::PtyPair::Open(error);
    if (!pty) {
        return nullptr;
    }
    auto device = SensorDevice::Open(pty->slaveName, baud, address, seed, options, light, error);
    if (!device) {
        return nullptr;
    }
    return std::unique_ptr<Module>(new Module(id, std::move(*pty), std::move(device)));
}

std::size_t Module::Ask(std::span<const std::uint8_t> frame) {
    ssize_t n = 0;
    do {
        n = write(Fd(), frame.data(), frame.size());
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(frame.size())) {
        // The pty is empty between requests, so this does not happen; if it did, a part of
        // a frame must not be served.
        LogVerbose("module at %d: request not passed on whole", Address());
        tcflush(pty_.slave.Get(), TCIFLUSH);
        return 0;
    }
    const int sent = device_->ServiceRequest();
    // Whatever libmodbus did not take of the frame belongs to no request that follows.
    tcflush(pty_.slave.Get(), TCIFLUSH);
    return static_cast<std::size_t>(sent);
}

bool Line::Add(const ModuleWanted &wanted, std::string &error) {
    if (modules_.size() >= kMaxModules) {
        error = "the line holds " + std::to_string(kMaxModules) + " modules at most";
        return false;
    }
    ModuleOptions options = defaults_;
    options.sensitivity = wanted.sensitivity.value_or(options.sensitivity);
    options.lightNoise = wanted.lightNoise ? wanted.lightNoise : options.lightNoise;
    options.readOnlySettings = wanted.readOnlySettings.value_or(options.readOnlySettings);
    // The first module keeps the seed as it is, so that one module reads as it always did;
    // the others get noise of their own.
    const auto seed = seed_ ^ (static_cast<std::uint32_t>(joined_) * 0x9E3779B9U);
    auto module = Module::Open(joined_, baud_, wanted.address, seed, options, light_, error);
    if (!module) {
        return false;
    }
    ++joined_;
    modules_.push_back(std::move(module));
    return true;
}

std::size_t Line::Pull(int address) {
    return std::erase_if(modules_, [address](const auto &m) { return m->Address() == address; });
}

bool Line::Has(int id) const {
    return std::ranges::any_of(modules_, [id](const auto &m) { return m->Id() == id; });
}

std::string Line::Addresses() const {
    if (modules_.empty()) {
        return "no module";
    }
    std::string text = modules_.size() == 1 ? "address " : "addresses ";
    for (const auto &module : modules_) {
        text += std::to_string(module->Address()) + ",";
    }
    text.pop_back();
    return text;
}

} // namespace sensorsim
