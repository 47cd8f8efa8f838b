#include "bridge.h"

#include "linerate.h"
#include "transmitter.h"
#include "wire.h"

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
    return length != 0 && bytes.size() == length && CrcOk(bytes);
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

Bridge::Bridge(Line &line, int baud, const FaultOptions &faults, TrafficLog &log)
    : baud_(baud), line_(line), faults_(faults), log_(log),
      // 3.5 character times of 11 bits end a frame. On a pty the program's writes arrive in
      // bursts rather than at line speed, so never less than a few milliseconds.
      gap_(std::max<Clock::duration>(std::chrono::microseconds(38'500'000 / baud),
                                     std::chrono::milliseconds(5))),
      random_(faults.seed), toProgram_(std::make_unique<Transmitter>(faults, baud, &log)) {}

Bridge::~Bridge() = default;

void Bridge::AttachProgram(int fd) {
    programFd_ = fd;
    request_.clear();
    toProgram_->Attach(fd);
    for (PendingReply &reply : replies_) {
        reply.stale = true;
    }
}

void Bridge::PollFds(std::vector<pollfd> &fds) const {
    // A negative fd (unplugged) is skipped by poll().
    fds.push_back({programFd_, toProgram_->Events(), 0});
    for (const auto &module : line_.Modules()) {
        fds.push_back({module->Fd(), POLLIN, 0});
    }
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

bool Bridge::ReadModule(const Module &module, Clock::time_point now) {
    const bool ok =
        0 == Drain(module.Fd(), [&](std::span<const std::uint8_t> rest) {
            for (PendingReply &reply : replies_) {
                for (Answer &answer : reply.answers) {
                    if (answer.module != module.Id()) {
                        continue;
                    }
                    const std::size_t take =
                        std::min(rest.size(), answer.expected - answer.bytes.size());
                    answer.bytes.insert(answer.bytes.end(), rest.begin(),
                                        rest.begin() + static_cast<std::ptrdiff_t>(take));
                    rest = rest.subspan(take);
                }
            }
            if (!rest.empty()) {
                // libmodbus wrote something it did not report (a failed, partial reply): pass
                // it on as it is rather than let it corrupt the next reply.
                LogVerbose("%zu unexpected bytes from the module at %d passed on", rest.size(),
                           module.Address());
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
        AnswerReadAddress(now);
    } else {
        AskModules(frame);
    }
}

// Every module answers the read-address query, whatever its address.
void Bridge::AnswerReadAddress(Clock::time_point now) {
    PendingReply reply{{}, now};
    for (const auto &module : line_.Modules()) {
        LogVerbose("read-address query answered with %d", module->Address());
        auto answer = WithCrc({0xFA, 0x25, 0x01, module->Address()});
        reply.answers.push_back({module->Id(), answer.size(), std::move(answer)});
    }
    if (!reply.answers.empty()) {
        replies_.push_back(std::move(reply));
        SendCompleteReplies();
    }
}

// The modules at the frame's address serve it, or all of them a broadcast. Garbage and
// frames for addresses nobody has reach no module, and get no answer, as on a real line.
void Bridge::AskModules(const std::vector<std::uint8_t> &frame) {
    std::vector<Module *> asked;
    for (const auto &module : line_.Modules()) {
        if (frame[0] == module->Address() || frame[0] == MODBUS_BROADCAST_ADDRESS) {
            asked.push_back(module.get());
        }
    }
    if (asked.empty()) {
        LogVerbose("frame for unit %d: no module there", frame[0]);
    }
    PendingReply reply;
    for (Module *module : asked) { // an address change must not move a module into the list
        if (const std::size_t sent = module->Ask(frame); sent > 0) {
            reply.answers.push_back({module->Id(), sent, {}});
        }
    }
    reply.ready = Clock::now();
    if (!reply.answers.empty()) {
        replies_.push_back(std::move(reply));
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
    if (CrcOk(noise)) {
        noise[5] ^= 0xFF; // by chance a frame: spoil it
    }
    toProgram_->SendNoise(std::move(noise), now + std::chrono::milliseconds(faults_.delayMs));
}

// Complete once every module asked has answered in full, or has left the line.
bool Bridge::Complete(const PendingReply &reply) const {
    return std::ranges::all_of(reply.answers, [this](const Answer &answer) {
        return answer.bytes.size() == answer.expected || !line_.Has(answer.module);
    });
}

// What the program hears of a complete reply: one module's answer, or several colliding.
std::vector<std::uint8_t> Bridge::Heard(PendingReply &reply) {
    std::vector<std::vector<std::uint8_t>> answers;
    for (Answer &answer : reply.answers) {
        if (line_.Has(answer.module)) {
            answers.push_back(std::move(answer.bytes));
        }
    }
    if (answers.size() < 2) {
        return answers.empty() ? std::vector<std::uint8_t>{} : std::move(answers.front());
    }
    LogVerbose("%zu replies collide", answers.size());
    const auto now = Clock::now();
    for (const std::vector<std::uint8_t> &answer : answers) {
        log_.Record(now, "collide", answer);
    }
    return Collide(answers, random_);
}

void Bridge::SendCompleteReplies() {
    while (!replies_.empty() && Complete(replies_.front())) {
        PendingReply reply = std::move(replies_.front());
        replies_.pop_front();
        if (reply.stale || programFd_ < 0) {
            continue; // unplugged since the request came in
        }
        std::vector<std::uint8_t> bytes = Heard(reply);
        if (bytes.empty()) {
            continue; // its module left the line meanwhile
        }
        ++replyCount_;
        if (Hits(replyCount_, faults_.badCrcEvery)) {
            LogVerbose("reply CRC spoiled");
            log_.Record(Clock::now(), "badcrc", bytes);
            bytes.back() ^= 0xFF;
        }
        std::vector<std::uint8_t> noise;
        if (Hits(replyCount_, faults_.noiseEvery)) {
            LogVerbose("%d noise bytes follow the reply", faults_.noiseCount);
            for (int i = 0; i < faults_.noiseCount; ++i) {
                noise.push_back(static_cast<std::uint8_t>(random_() >> 24));
            }
        }
        toProgram_->Send(std::move(bytes), reply.ready + std::chrono::milliseconds(faults_.delayMs),
                         std::move(noise));
    }
}

Served Bridge::Lost(std::string why) {
    why_ = std::move(why);
    return Served::ProgramLost;
}

Served Bridge::Serve(std::span<const pollfd> fds, Clock::time_point now) {
    const auto has = [](const pollfd &p, int events) { return (p.revents & events) != 0; };
    const pollfd &program = fds[0];
    const auto modules = fds.subspan(1);
    // We hold the slave ends open ourselves, so a hang-up means the pty is gone.
    constexpr int kBroken = POLLERR | POLLHUP | POLLNVAL;
    if (std::ranges::any_of(modules, [&](const pollfd &p) { return has(p, kBroken); })) {
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
    // Replies already on their way first, then the request: the modules serve it at once.
    for (std::size_t i = 0; i < modules.size() && i < line_.Modules().size(); ++i) {
        if (has(modules[i], POLLIN) && !ReadModule(*line_.Modules()[i], now)) {
            LogError("reading a module's side: %s", std::strerror(errno));
            return Served::Failed;
        }
    }
    ReleaseFrame(now);

    if (!toProgram_->Service(Clock::now(), program.revents)) {
        return Lost(std::string("writing: ") + std::strerror(errno));
    }
    return Served::Ok;
}

} // namespace sensorsim
