#include "transmitter.hpp"

#include "log.hpp"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace sensorsim {

namespace {

// Nobody may be reading the program's side (port closed); don't let replies pile up.
constexpr std::size_t queueLimit = 64 * 1024;

} // namespace

Transmitter::Transmitter(const FaultOptions &faults, int baud, TrafficLog &log)
    : faults_(faults), byteTime_(std::chrono::nanoseconds(10'000'000'000LL / baud)), log_(log) {}

void Transmitter::attach(int fd) {
    fd_ = fd;
    queue_.clear();
    queuedBytes_ = 0;
    blocked_ = false;
}

void Transmitter::sendReply(std::vector<std::uint8_t> reply, Clock::time_point earliest,
                            std::vector<std::uint8_t> noise) {
    if (fd_ < 0 || reply.empty()) {
        return;
    }
    if (queuedBytes_ + reply.size() + noise.size() > queueLimit) {
        logVerbose("%zu bytes dropped: nobody is reading", reply.size() + noise.size());
        return;
    }

    const std::size_t pieceSize =
        faults_.splitBytes > 0 ? static_cast<std::size_t>(faults_.splitBytes) : reply.size();
    for (std::size_t at = 0; at < reply.size(); at += pieceSize) {
        Piece piece;
        const auto end =
            reply.begin() + static_cast<std::ptrdiff_t>(std::min(at + pieceSize, reply.size()));
        piece.bytes.assign(reply.begin() + static_cast<std::ptrdiff_t>(at), end);
        if (at == 0) {
            piece.notBefore = earliest;
            piece.logKind = "tx";
            piece.logBytes = reply;
        } else {
            piece.pause = faults_.splitGap;
        }
        enqueue(std::move(piece));
    }
    if (!noise.empty()) {
        Piece piece;
        piece.logKind = "noise";
        piece.logBytes = noise;
        piece.bytes = std::move(noise);
        enqueue(std::move(piece));
    }
}

void Transmitter::enqueue(Piece piece) {
    queuedBytes_ += piece.bytes.size();
    queue_.push_back(std::move(piece));
    if (queue_.size() == 1) {
        begin();
    }
}

void Transmitter::begin() {
    if (queue_.empty()) {
        return;
    }
    Piece &head = queue_.front();
    head.start = std::max(head.notBefore.value_or(Clock::time_point{}), lineFree_ + head.pause);
}

std::size_t Transmitter::dueBytes(const Piece &piece, Clock::time_point now) const {
    if (now < piece.start) {
        return 0;
    }
    if (!faults_.wireTime) {
        return piece.bytes.size();
    }
    // A byte reaches the other end once all ten of its bits are through.
    const auto sent = static_cast<std::size_t>((now - piece.start) / byteTime_);
    return std::min(sent, piece.bytes.size());
}

std::optional<Transmitter::Clock::time_point> Transmitter::deadline() const {
    if (queue_.empty() || blocked_ || fd_ < 0) {
        return std::nullopt;
    }
    const Piece &head = queue_.front();
    if (!faults_.wireTime) {
        return head.start;
    }
    return head.start + static_cast<Clock::duration::rep>(head.written + 1) * byteTime_;
}

bool Transmitter::service(Clock::time_point now) {
    while (!queue_.empty() && !blocked_ && fd_ >= 0) {
        Piece &piece = queue_.front();
        const std::size_t due = dueBytes(piece, now);
        if (due > piece.written) {
            // Stamped before the write, so the stamp never postdates the reply's arrival.
            const auto writeTime = Clock::now();
            const ssize_t n = write(fd_, piece.bytes.data() + piece.written, due - piece.written);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                blocked_ = errno == EAGAIN || errno == EWOULDBLOCK;
                return blocked_;
            }
            if (piece.written == 0 && piece.logKind != nullptr) {
                log_.record(writeTime, piece.logKind, piece.logBytes);
            }
            piece.written += static_cast<std::size_t>(n);
            queuedBytes_ -= static_cast<std::size_t>(n);
            if (piece.written < due) {
                blocked_ = true;
                return true;
            }
        }
        if (piece.written < piece.bytes.size()) {
            return true; // the rest is not due yet
        }
        const auto onWire =
            piece.start + static_cast<Clock::duration::rep>(piece.bytes.size()) * byteTime_;
        lineFree_ = faults_.wireTime ? std::max(onWire, now) : now;
        queue_.pop_front();
        begin();
    }
    return true;
}

} // namespace sensorsim
