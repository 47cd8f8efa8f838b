#pragma once

#include "faults.hpp"
#include "log.hpp"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace sensorsim {

class TrafficLog;

// Writes replies to the program's side of the line on a schedule: after a delay, in
// pieces with pauses between them, at the line's pace. Nothing here sleeps; the event
// loop polls until deadline() and calls service().
class Transmitter {
public:
    using Clock = MonoClock;

    Transmitter(const FaultOptions &faults, int baud, TrafficLog &log);

    // -1 detaches (unplugged): everything queued is forgotten.
    void attach(int fd);

    // Queues a reply, to start no earlier than `earliest`, followed by `noise` if any.
    void sendReply(std::vector<std::uint8_t> reply, Clock::time_point earliest,
                   std::vector<std::uint8_t> noise = {});

    // The pty would not take more: wait until poll() says it is writable again.
    bool blocked() const { return blocked_; }
    void writable() { blocked_ = false; }

    // When service() next has something to write; empty if nothing is due by time.
    std::optional<Clock::time_point> deadline() const;

    // Writes whatever is due. False on a write error other than "try again".
    bool service(Clock::time_point now);

private:
    struct Piece {
        std::vector<std::uint8_t> bytes;
        std::optional<Clock::time_point> notBefore;
        Clock::duration pause{}; // silence after the previous piece
        const char *logKind = nullptr;
        std::vector<std::uint8_t> logBytes; // the whole reply, on its first piece
        Clock::time_point start{};
        std::size_t written = 0;
    };

    void enqueue(Piece piece);
    void begin(); // schedules the piece at the head of the queue
    std::size_t dueBytes(const Piece &piece, Clock::time_point now) const;

    FaultOptions faults_;
    Clock::duration byteTime_;
    TrafficLog &log_;
    int fd_ = -1;
    std::deque<Piece> queue_;
    std::size_t queuedBytes_ = 0;
    Clock::time_point lineFree_{}; // when the last byte written has left the line
    bool blocked_ = false;
};

} // namespace sensorsim
