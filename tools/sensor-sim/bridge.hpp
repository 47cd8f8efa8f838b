#pragma once

#include "silence_framer.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace sensorsim {

// Bytes waiting for a non-blocking fd to accept them.
class Outbox {
public:
    explicit Outbox(int fd) : fd_(fd) {}

    void push(std::span<const std::uint8_t> bytes);
    bool empty() const { return bytes_.empty(); }
    // False on a write error other than "try again later".
    bool flush();

private:
    int fd_;
    std::vector<std::uint8_t> bytes_;
};

// Carries bytes between the program's pty and the device's pty. Frames from the program
// are collected until the line goes quiet; the read-address query is answered here, every
// other frame is passed on untouched.
class Bridge {
public:
    using Clock = SilenceFramer::Clock;

    Bridge(int programFd, int deviceFd, Clock::duration gap,
           std::function<std::uint8_t()> unitAddress);

    int programFd() const { return programFd_; }
    int deviceFd() const { return deviceFd_; }
    short programEvents() const;
    short deviceEvents() const;
    std::optional<Clock::time_point> deadline() const { return framer_.deadline(); }

    // Each returns false when the pty has failed beyond repair.
    bool readProgram(Clock::time_point now);
    bool readDevice();
    void releaseFrame(Clock::time_point now);
    bool flush();

private:
    int programFd_;
    int deviceFd_;
    SilenceFramer framer_;
    Outbox toProgram_;
    Outbox toDevice_;
    std::function<std::uint8_t()> unitAddress_;
};

} // namespace sensorsim
