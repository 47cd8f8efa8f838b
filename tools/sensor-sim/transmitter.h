#pragma once
// The bridge's output to the program's side, a non-blocking pty (or socket) written on a
// schedule.

#include "bridge.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <vector>

#include <unistd.h>

namespace sensorsim {

// Nobody may be reading a pty (the program's port closed); don't let output pile up.
inline constexpr std::size_t kQueueLimit = 64 * 1024;

// Writes to a non-blocking pty on a schedule: after a delay, in pieces with pauses between
// them, at the line's pace. Nothing here sleeps; the event loop polls until Deadline() and
// calls Service(). Without faults it writes what it is given as soon as the pty takes it.
class Transmitter {
public:
    using Clock = MonoClock;

    // With a log, each reply is logged as tx when it starts, and its noise as noise.
    Transmitter(const FaultOptions &faults, int baud, TrafficLog *log)
        : faults_(faults), byteTime_(std::chrono::nanoseconds(10'000'000'000LL / baud)), log_(log) {
    }

    // -1 detaches (unplugged): everything queued is forgotten.
    void Attach(int fd) {
        fd_ = fd;
        queue_.clear();
        blocked_ = false;
    }

    // What to poll() the pty for: whether it takes more once it would not.
    short Events() const { return static_cast<short>(POLLIN | (blocked_ ? POLLOUT : 0)); }

    // Queues `bytes`, to start no earlier than `earliest`, followed by `noise` if any;
    // logged as `kind`.
    void Send(std::vector<std::uint8_t> bytes, Clock::time_point earliest,
              std::vector<std::uint8_t> noise = {}, const char *kind = "tx") {
        if (fd_ < 0 || bytes.empty()) {
            return;
        }
        std::size_t queued = bytes.size() + noise.size();
        for (const Piece &piece : queue_) {
            queued += piece.bytes.size() - piece.written;
        }
        if (queued > kQueueLimit) {
            LogVerbose("%zu bytes dropped: nobody is reading", bytes.size() + noise.size());
            return;
        }
        const std::size_t size =
            faults_.splitBytes > 0 ? static_cast<std::size_t>(faults_.splitBytes) : bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += size) {
            const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
            Piece &piece = queue_.emplace_back();
            piece.bytes.assign(
                from, from + static_cast<std::ptrdiff_t>(std::min(size, bytes.size() - at)));
            if (at == 0) {
                piece.notBefore = earliest;
                piece.logKind = kind;
                piece.logBytes = bytes;
            } else {
                piece.pause = std::chrono::milliseconds(faults_.splitGapMs);
            }
        }
        SendNoise(std::move(noise), {});
    }

    // Bytes that are no reply, logged as noise.
    void SendNoise(std::vector<std::uint8_t> noise, Clock::time_point earliest) {
        if (fd_ >= 0 && !noise.empty()) {
            queue_.push_back({noise, earliest, {}, "noise", noise});
        }
    }

    // When Service() next has something to write; empty if nothing is due by time.
    std::optional<Clock::time_point> Deadline() const {
        if (queue_.empty() || blocked_ || fd_ < 0) {
            return std::nullopt;
        }
        const Piece &head = queue_.front();
        const auto byteTimes = static_cast<Clock::duration::rep>(head.written + 1);
        return faults_.wireTime ? Start(head) + byteTimes * byteTime_ : Start(head);
    }

    // Writes whatever is due, given what poll() found on the pty. False on a write error
    // other than "try again".
    bool Service(Clock::time_point now, short revents) {
        blocked_ = blocked_ && (revents & POLLOUT) == 0;
        while (!queue_.empty() && !blocked_ && fd_ >= 0) {
            Piece &piece = queue_.front();
            const auto begun = Start(piece);
            std::size_t due = now < begun ? 0 : piece.bytes.size();
            if (faults_.wireTime && due > 0) {
                // A byte reaches the other end once all ten of its bits are through.
                due = std::min(due, static_cast<std::size_t>((now - begun) / byteTime_));
            }
            if (due > piece.written) {
                // Stamped before the write, so the stamp never postdates the reply's arrival.
                const auto writeTime = Clock::now();
                const ssize_t n =
                    write(fd_, piece.bytes.data() + piece.written, due - piece.written);
                if (n < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    blocked_ = errno == EAGAIN || errno == EWOULDBLOCK;
                    return blocked_;
                }
                if (log_ != nullptr && piece.written == 0 && piece.logKind != nullptr) {
                    log_->Record(writeTime, piece.logKind, piece.logBytes);
                }
                piece.written += static_cast<std::size_t>(n);
                if (piece.written < due) {
                    blocked_ = true;
                    return true;
                }
            }
            if (piece.written < piece.bytes.size()) {
                return true; // the rest is not due yet
            }
            const auto onWire =
                begun + static_cast<Clock::duration::rep>(piece.bytes.size()) * byteTime_;
            lineFree_ = faults_.wireTime ? std::max(onWire, now) : now;
            queue_.pop_front();
        }
        return true;
    }

private:
    struct Piece {
        std::vector<std::uint8_t> bytes;
        Clock::time_point notBefore{};
        Clock::duration pause{}; // silence after the previous piece
        const char *logKind = nullptr;
        std::vector<std::uint8_t> logBytes; // the whole reply, on its first piece
        std::size_t written = 0;
    };

    // The line stays quiet for the piece's pause after the one before has left it.
    Clock::time_point Start(const Piece &piece) const {
        return std::max(piece.notBefore, lineFree_ + piece.pause);
    }

    FaultOptions faults_;
    Clock::duration byteTime_;
    TrafficLog *log_;
    int fd_ = -1;
    std::deque<Piece> queue_;
    Clock::time_point lineFree_{}; // when the last byte written has left the line
    bool blocked_ = false;
};

} // namespace sensorsim
