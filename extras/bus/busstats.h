#pragma once
// The health of each module a line is polled for: what was asked and what came back, the
// reply times (last, mean, 99th percentile) and when it last answered. The times are kept
// in a histogram of 0.1 ms steps, so an hour of polling takes no more memory than a minute.

#include "busline.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace bus {

struct ModuleHealth {
    explicit ModuleHealth(int address_ = 0) : address(address_) {}

    int address = 0;
    QString shown; // the reading as the window shows it; empty before the first
    std::uint64_t requests = 0, replies = 0, timeouts = 0, crcErrors = 0, wrongAddress = 0;
    double lastMs = 0;
    qint64 lastAnswered = 0; // milliseconds since the epoch (UTC); 0 before the first reply
    int missedRounds = 0;    // rounds in a row without its reply

    void Count(const Answer &answer);
    void Reset();
    std::optional<double> MeanMs() const;
    std::optional<double> PercentileMs(double p) const;
    // Marked after three rounds in a row without a reply.
    bool Missing() const { return missedRounds >= 3; }

private:
    static constexpr int kBins = 20000; // 0.1 ms each: up to 2 s, the rest in the last
    std::vector<std::uint32_t> bins_;
    double sumMs_ = 0;
};

// The columns of the overview, and a module's row as text, in the same order.
QStringList HealthColumns();
QStringList HealthRow(const ModuleHealth &health);
// Every module's row, tab-separated under the header: what "复制" puts on the clipboard.
QString HealthText(const std::vector<ModuleHealth> &modules);

} // namespace bus
