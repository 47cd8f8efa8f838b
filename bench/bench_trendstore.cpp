// The trend's store over 24 hours at 20 Hz, on simulated timestamps: 1.7 million readings,
// then the resident memory it grew by, the time an added reading takes, and what one
// refresh of the chart costs (statistics and the points to draw) for each span.
//   bench_trendstore [READINGS]

#include "benchsetup.h"
#include "extras/trend/trendstore.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char *argv[]) {
    const long readings = argc > 1 ? std::atol(argv[1]) : 1'728'000; // 24 h at 50 ms
    std::mt19937 random(19);
    std::normal_distribution<double> noise(0, 2);
    const double before = ResidentMiB();
    trend::TrendStore store;
    const qint64 t0 = 1'800'000'000'000;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < readings; ++i) {
        const double day = std::sin(double(i) / double(readings) * 3.14159);
        store.Add(t0 + i * 50, std::round(800 * day + noise(random)));
        if (i % 72'000 == 0) // a write every hour
            store.AddMarker(t0 + i * 50, QStringLiteral("参数写入 量程缩放系数 1.0500"));
    }
    const double addMs = MsSince(start);
    std::printf("readings %ld\nstore_growth_mib %.3f\nadd_us %.4f\nrecent_points %zu\n"
                "buckets %zu\nbucket_ms %lld\n",
                readings, ResidentMiB() - before, 1000 * addMs / double(readings),
                store.RecentCount(), store.BucketCount(), qint64(store.BucketWidth()));
    const qint64 spans[] = {60'000, 600'000, 3'600'000, store.Newest() - store.Oldest()};
    const char *names[] = {"minute", "ten_minutes", "hour", "everything"};
    for (int s = 0; s < 4; ++s) {
        const auto refresh = std::chrono::steady_clock::now();
        const qint64 to = store.Newest();
        const auto stats = store.StatsOf(to - spans[s], to);
        const QList<QPointF> drawn = store.Envelope(to - spans[s], to, 700);
        std::printf("refresh_%s_ms %.4f\n", names[s], MsSince(refresh));
        if (!stats || drawn.isEmpty())
            return 1;
    }
    return 0;
}
