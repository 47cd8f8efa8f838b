#pragma once

#include "line.h"
#include "log.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <poll.h>

namespace sensorsim {

// Misbehaviour to put on the line, all off by default. "Every" counts are 1-based over the
// whole run: with 3, the 3rd, 6th, 9th... request (or reply) is hit, so tests can tell in
// advance which one.
struct FaultOptions {
    int delayMs = 0;    // before each reply
    int splitBytes = 0; // write replies in pieces this long; 0: whole
    int splitGapMs = 20;
    int badCrcEvery = 0;
    int dropEvery = 0;
    int noiseEvery = 0;
    int noiseCount = 3;
    bool wireTime = false; // pace output at the line speed
    bool echo = false;     // each request goes back whole before its reply, as from an adapter
    // A request heard while the program's side is set to another rate than the module's
    // gets no answer, or with this, bytes that are no frame, as a real module's reply
    // sampled at the wrong rate.
    bool noiseAtWrongRate = false;
    std::uint32_t seed = 1;
};

class Transmitter;

// What became of a round of Bridge::Serve().
enum class Served {
    Ok,
    ProgramLost, // the program's side closed, reset or failed; Bridge::Why() says how
    Failed,      // a module's pty failed: the simulator cannot go on
};

// Carries bytes between the program's side of the line (a pty, or a TCP client) and the
// modules. Frames from the program are collected until they are complete or the line goes
// quiet; the read-address query is answered here for every module, every other frame is
// passed on untouched to the modules at its address (to all of them when broadcast) and
// served by them. Replies are collected whole; when more than one module answers, they
// collide on the way back. Then they go through the fault options and a transmitter, which
// is where the line's misbehaviour is made.
class Bridge {
public:
    using Clock = MonoClock;

    Bridge(Line &line, int baud, const FaultOptions &faults, TrafficLog &log);
    ~Bridge();

    // -1 when unplugged: partial frames and replies not yet sent are dropped.
    void AttachProgram(int fd);

    // Appends what to poll(): the program's side, then each module's pty in line order.
    void PollFds(std::vector<pollfd> &fds) const;
    // When there is work even if no fd turns ready; empty for none.
    std::optional<Clock::time_point> Deadline() const;
    // Acts on what poll() found for the fds PollFds() gave, while the line has not changed.
    // After ProgramLost the program's fd is of no more use; the caller detaches it.
    Served Serve(std::span<const pollfd> fds, Clock::time_point now);
    // How the program's side was lost, for the diagnostics.
    const std::string &Why() const { return why_; }

private:
    // One module's reply, filled as its bytes come back through its pty.
    struct Answer {
        int module; // Module::Id()
        std::size_t expected;
        std::vector<std::uint8_t> bytes;
    };
    struct PendingReply {
        std::vector<Answer> answers; // more than one collide
        Clock::time_point ready;
        bool stale = false; // asked for on a connection that has since been unplugged
    };

    std::optional<Clock::time_point> FrameDeadline() const;
    Served Lost(std::string why);
    int ReadProgram(Clock::time_point now);
    bool ReadModule(const Module &module, Clock::time_point now);
    void ReleaseFrame(Clock::time_point now);
    void AnswerReadAddress(Clock::time_point now);
    void AskModules(const std::vector<std::uint8_t> &frame);
    bool Complete(const PendingReply &reply) const;
    std::vector<std::uint8_t> Heard(PendingReply &reply);
    void SendCompleteReplies();

    bool AtModuleRate() const;
    void AnswerAtWrongRate(const std::vector<std::uint8_t> &frame, Clock::time_point now);

    int programFd_ = -1;
    int baud_;
    Line &line_;
    FaultOptions faults_;
    TrafficLog &log_;
    // RTU frames end with silence on the line: the request being collected, and when its
    // last byte came.
    Clock::duration gap_;
    std::vector<std::uint8_t> request_;
    Clock::time_point lastByte_{};
    bool complete_ = false;
    std::uint64_t requestCount_ = 0;
    std::uint64_t replyCount_ = 0;
    std::mt19937 random_; // its algorithm is fixed: same seed, same bytes on any platform
    std::unique_ptr<Transmitter> toProgram_;
    // In request order; read-address answers join complete, the modules' fill up as their
    // bytes come back through their ptys.
    std::deque<PendingReply> replies_;
    std::string why_;
};

} // namespace sensorsim
