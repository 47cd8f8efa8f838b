#pragma once

#include "faults.hpp"
#include "silence_framer.hpp"
#include "transmitter.hpp"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace sensorsim {

class TrafficLog;

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
// are collected until they are complete or the line goes quiet; the read-address query is
// answered here, every other frame is passed on untouched. Replies are collected whole
// and go back through the fault plan and the transmitter, which is where the line's
// misbehaviour is made.
class Bridge {
public:
    using Clock = MonoClock;

    Bridge(int deviceFd, Clock::duration gap, int baud, const FaultOptions &faults, TrafficLog &log,
           std::function<std::uint8_t()> unitAddress);

    // -1 when unplugged: partial frames and replies not yet sent are dropped.
    void attachProgram(int fd);

    int programFd() const { return programFd_; }
    int deviceFd() const { return deviceFd_; }
    short programEvents() const;
    short deviceEvents() const;
    std::optional<Clock::time_point> deadline() const;

    // Each returns false when the pty has failed beyond repair.
    bool readProgram(Clock::time_point now);
    bool readDevice(Clock::time_point now);
    void releaseFrame(Clock::time_point now);
    // The device has just written a reply of `length` bytes to its side of the line.
    void expectReply(std::size_t length, Clock::time_point now);
    void programWritable() { toProgram_.writable(); }
    bool flush(Clock::time_point now);

private:
    struct PendingReply {
        std::vector<std::uint8_t> bytes;
        std::size_t expected;
        Clock::time_point ready;
        bool stale = false; // asked for on a connection that has since been unplugged
    };

    void sendCompleteReplies();

    int programFd_ = -1;
    int deviceFd_;
    SilenceFramer framer_;
    FaultPlan plan_;
    TrafficLog &log_;
    Transmitter toProgram_;
    Outbox toDevice_;
    // In request order; the read-address answer joins complete, the device's fill up as
    // its bytes come back through the pty.
    std::deque<PendingReply> replies_;
    std::function<std::uint8_t()> unitAddress_;
};

} // namespace sensorsim
