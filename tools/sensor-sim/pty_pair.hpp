#pragma once

#include <optional>
#include <string>

namespace sensorsim {

// An open pseudo-terminal with both ends in raw mode. The master end is non-blocking; the
// slave fd is only held so the master never sees a hang-up while nobody else has the
// slave open (the program closing and reopening its port must not break the line).
class PtyPair {
public:
    static std::optional<PtyPair> open(std::string &error);

    PtyPair(PtyPair &&other) noexcept;
    PtyPair &operator=(PtyPair &&other) noexcept;
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;
    ~PtyPair();

    int master() const { return master_; }
    const std::string &slaveName() const { return slaveName_; }

private:
    PtyPair(int master, int slave, std::string slaveName)
        : master_(master), slave_(slave), slaveName_(std::move(slaveName)) {}
    void reset();

    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

} // namespace sensorsim
