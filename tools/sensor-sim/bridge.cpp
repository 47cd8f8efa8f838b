#include "bridge.h"

#include "linerate.h"
#include "transmitter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <span>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace sensorsim {

namespace {

// Comfortably above the largest RTU frame, so a pause-free stream is still passed on.
constexpr std::size_t kFrameLimit = 512;

// The module answers a proprietary "who are you" query on the reserved unit 250 with
// function 0x25. It is not a standard Modbus function, so libmodbus cannot parse it and
// the bridge answers it itself.
constexpr std::array<std::uint8_t, 8> kReadAddressRequest{0xFA, 0x25, 0x02, 0x00,
                                                          0x00, 0x01, 0x99, 0xFE};

// CRC-16 as used on Modbus RTU lines (reflected polynomial 0xA001, initial value 0xFFFF),
// carried low byte first. Bitwise rather than table-driven: frames are a few bytes long.
std::uint16_t Crc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>((crc & 1U) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1);
        }
    }
    return crc;
}

// The request length its first bytes announce, or 0 when they don't (yet) tell: fixed for
// reading coils, inputs and registers, writing one coil or register, and the module's
// read-address query (8), for the diagnostic functions 0x07, 0x0B, 0x0C and 0x11 (4) and
// mask write (10); given by the byte count for the multiple writes and read/write.
std::size_t AnnouncedLength(std::span<const std::uint8_t> bytes) {
    const int function = bytes.size() < 2 ? 0 : bytes[1];
    if ((function >= 0x01 && function <= 0x06) || function == 0x25) {
        return 8;
    }
    if (function == 0x07 || function == 0x0B || function == 0x0C || function == 0x11) {
        return 4;
    }
    if (function == 0x0F || function == 0x10) {
        return bytes.size() > 6 ? 9 + std::size_t{bytes[6]} : 0;
    }
    if (function == 0x17) {
        return bytes.size() > 10 ? 13 + std::size_t{bytes[10]} : 0;
    }
    return function == 0x16 ? 10 : 0;
}

// True when `bytes` is exactly one request whose length its function code fixes (or its
// byte count gives) and whose CRC checks out. Such a frame can be handled at once instead
// of after the silence that would otherwise end it, which keeps the reply's latency and
// the arrival timestamp honest. Anything else waits for the silence.
bool IsCompleteRequest(std::span<const std::uint8_t> bytes) {
    const std::size_t length = AnnouncedLength(bytes);
    if (length == 0 || bytes.size() != length) {
        return false;
    }
    const std::uint16_t crc = Crc16(bytes.first(length - 2));
    return bytes[length - 2] == (crc & 0xFF) && bytes[length - 1] == (crc >> 8);
}

bool Hits(std::uint64_t count, int every) {
    return every > 0 && count % static_cast<std::uint64_t>(every) == 0;
}

constexpr int kEndOfFile = -1;

// Hands `take` everything `fd` has to give. 0 once it has nothing more for now, kEndOfFile
// when the other end has closed (a TCP client can), else the errno of the failure.
template <typename Take> int Drain(int fd, Take take) {
    std::array<std::uint8_t, 1024> buffer{};
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n == 0) {
            return kEndOfFile;
        }
        if (n < 0) {
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
        }
        take(std::span<const std::uint8_t>(buffer).first(static_cast<std::size_t>(n)));
    }
}

} // namespace

Bridge::Bridge(int deviceFd, SensorDevice &device, int baud, const FaultOptions &faults,
               TrafficLog &log)
    : deviceFd_(deviceFd), baud_(baud), device_(device), faults_(faults), log_(log),
      // 3.5 character times of 11 bits end a frame. On a pty the program's writes arrive in
      // bursts rather than at line speed, so never less than a few milliseconds.
      gap_(std::max<Clock::duration>(std::chrono::microseconds(38'500'000 / baud),
                                     std::chrono::milliseconds(5))),
      random_(faults.seed), toProgram_(std::make_unique<Transmitter>(faults, baud, &log)),
      toDevice_(std::make_unique<Transmitter>(FaultOptions{}, baud, nullptr)) {
    toDevice_->Attach(deviceFd);
}

Bridge::~Bridge() = default;

void Bridge::AttachProgram(int fd) {
    programFd_ = fd;
    request_.clear();
    toProgram_->Attach(fd);
    for (PendingReply &reply : replies_) {
        reply.stale = true;
    }
}

std::array<pollfd, 3> Bridge::PollFds() const {
    // A negative fd (unplugged) is skipped by poll().
    return {pollfd{programFd_, toProgram_->Events(), 0}, pollfd{deviceFd_, toDevice_->Events(), 0},
            pollfd{device_.Fd(), POLLIN, 0}};
}

std::optional<Bridge::Clock::time_point> Bridge::FrameDeadline() const {
    if (request_.empty()) {
        return std::nullopt;
    }
    return complete_ || request_.size() >= kFrameLimit ? lastByte_ : lastByte_ + gap_;
}

std::optional<Bridge::Clock::time_point> Bridge::Deadline() const {
    const auto frame = FrameDeadline();
    const auto output = toProgram_->Deadline();
    if (frame && output) {
        return std::min(*frame, *output);
    }
    return frame ? frame : output;
}

int Bridge::ReadProgram(Clock::time_point now) {
    return Drain(programFd_, [this, now](std::span<const std::uint8_t> bytes) {
        request_.insert(request_.end(), bytes.begin(), bytes.end());
        lastByte_ = now;
        complete_ = IsCompleteRequest(request_);
    });
}

bool Bridge::ReadDevice(Clock::time_point now) {
    const bool ok =
        0 == Drain(deviceFd_, [this, now](std::span<const std::uint8_t> rest) {
            for (PendingReply &reply : replies_) {
                const std::size_t take = std::min(rest.size(), reply.expected - reply.bytes.size());
                reply.bytes.insert(reply.bytes.end(), rest.begin(),
                                   rest.begin() + static_cast<std::ptrdiff_t>(take));
                rest = rest.subspan(take);
            }
            if (!rest.empty()) {
                // libmodbus wrote something it did not report (a failed, partial reply): pass
                // it on as it is rather than let it corrupt the next reply.
                LogVerbose("%zu unexpected bytes from the device passed on", rest.size());
                toProgram_->Send({rest.begin(), rest.end()}, now);
            }
        });
    if (ok) {
        SendCompleteReplies();
    }
    return ok;
}

void Bridge::ReleaseFrame(Clock::time_point now) {
    const auto due = FrameDeadline();
    if (!due || now < *due) {
        return;
    }
    const std::vector<std::uint8_t> frame = std::exchange(request_, {});
    complete_ = false;
    log_.Record(lastByte_, "rx", frame);
    if (faults_.echo) { // the adapter's copy, whatever becomes of the request
        toProgram_->Send(frame, now, {}, "echo");
    }
    ++requestCount_;
    if (!AtModuleRate()) {
        AnswerAtWrongRate(frame, now);
    } else if (Hits(requestCount_, faults_.dropEvery)) {
        LogVerbose("request dropped");
        log_.Record(now, "drop", frame);
    } else if (std::ranges::equal(frame, kReadAddressRequest)) {
        const std::uint8_t address = device_.Address();
        LogVerbose("read-address query answered with %d", address);
        std::vector<std::uint8_t> answer{0xFA, 0x25, 0x01, address};
        const std::uint16_t crc = Crc16(answer);
        answer.insert(answer.end(),
                      {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)});
        replies_.push_back({answer, answer.size(), now});
        SendCompleteReplies();
    } else {
        toDevice_->Send(frame, now);
    }
}

// The module hears only its own rate. A terminal that cannot be asked is taken to be set
// right, as it was before the rate mattered; so is a TCP client, which has no line settings.
bool Bridge::AtModuleRate() const {
    return LineRate(programFd_).value_or(baud_) == baud_;
}

void Bridge::AnswerAtWrongRate(const std::vector<std::uint8_t> &frame, Clock::time_point now) {
    LogVerbose("request heard at %d baud, not at %d", LineRate(programFd_).value_or(0), baud_);
    log_.Record(now, "wrongrate", frame);
    if (!faults_.noiseAtWrongRate) {
        return;
    }
    // As long as the read-address reply, so only its contents can tell it is none.
    std::vector<std::uint8_t> noise(6);
    for (std::uint8_t &byte : noise) {
        byte = static_cast<std::uint8_t>(random_() >> 24);
    }
    const std::uint16_t crc = Crc16(std::span(noise).first(4));
    if (noise[4] == (crc & 0xFF) && noise[5] == (crc >> 8)) {
        noise[5] ^= 0xFF; // by chance a frame: spoil it
    }
    toProgram_->SendNoise(std::move(noise), now + std::chrono::milliseconds(faults_.delayMs));
}

void Bridge::SendCompleteReplies() {
    while (!replies_.empty() && replies_.front().bytes.size() == replies_.front().expected) {
        PendingReply reply = std::move(replies_.front());
        replies_.pop_front();
        if (reply.stale || programFd_ < 0) {
            continue; // unplugged since the request came in
        }
        ++replyCount_;
        if (Hits(replyCount_, faults_.badCrcEvery)) {
            LogVerbose("reply CRC spoiled");
            log_.Record(Clock::now(), "badcrc", reply.bytes);
            reply.bytes.back() ^= 0xFF;
        }
        std::vector<std::uint8_t> noise;
        if (Hits(replyCount_, faults_.noiseEvery)) {
            LogVerbose("%d noise bytes follow the reply", faults_.noiseCount);
            for (int i = 0; i < faults_.noiseCount; ++i) {
                noise.push_back(static_cast<std::uint8_t>(random_() >> 24));
            }
        }
        toProgram_->Send(std::move(reply.bytes),
                         reply.ready + std::chrono::milliseconds(faults_.delayMs),
                         std::move(noise));
    }
}

Served Bridge::Lost(std::string why) {
    why_ = std::move(why);
    return Served::ProgramLost;
}

Served Bridge::Serve(std::span<const pollfd, 3> fds, Clock::time_point now) {
    const auto has = [](const pollfd &p, int events) { return (p.revents & events) != 0; };
    const auto failed = [](const char *what) {
        LogError("%s: %s", what, std::strerror(errno));
        return Served::Failed;
    };
    const pollfd &program = fds[0];
    const pollfd &line = fds[1];
    const pollfd &server = fds[2];
    // We hold the slave ends open ourselves, so a hang-up means the pty is gone.
    constexpr int kBroken = POLLERR | POLLHUP | POLLNVAL;
    if (has(line, kBroken) || has(server, kBroken)) {
        LogError("pseudo-terminal failed");
        return Served::Failed;
    }
    // A client that closed or reset its connection is told by the read: end of file, or the
    // error. What came before it is of no use any more: nobody is left to answer.
    if (has(program, POLLIN | kBroken)) {
        if (const int status = ReadProgram(now); status != 0) {
            return Lost(status == kEndOfFile ? "closed at the other end"
                                             : std::string("reading: ") + std::strerror(status));
        }
        if (has(program, kBroken)) {
            return Lost("hang-up");
        }
    }
    ReleaseFrame(now);

    // Collect replies before serving the next request: on a framing error libmodbus's side
    // gets flushed, and anything already in flight must be out of the way.
    if (has(line, POLLIN) && !ReadDevice(now)) {
        return failed("reading device side");
    }
    if (const int sent = has(server, POLLIN) ? device_.ServiceRequest() : 0; sent > 0) {
        replies_.push_back({{}, static_cast<std::size_t>(sent), Clock::now()});
    }
    const auto later = Clock::now();
    if (!toDevice_->Service(later, line.revents)) {
        return failed("writing to the device side");
    }
    if (!toProgram_->Service(later, program.revents)) {
        return Lost(std::string("writing: ") + std::strerror(errno));
    }
    return Served::Ok;
}

} // namespace sensorsim
