// The recorder's cost. First whether it grows: ROWS rows (24 hours at 20 Hz by default)
// of a typical reading go into a recording as fast as they come, the event loop turning
// every 20 rows so that the sync timer runs; the CPU and wall time per row over each
// tenth of the run and the resident memory after it. Then its cost at the pace of
// polling: SECONDS at 20 rows a second, syncs included, against the same timer without
// a recording, in percent of a core.
//   bench_recording [ROWS] [SECONDS]

#include "benchsetup.h"
#include "recording/recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const long rows = argc > 1 ? std::atol(argv[1]) : 24L * 3600 * 20;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.csv"));

    Recorder recorder;
    int failures = 0;
    QObject::connect(&recorder, &Recorder::failed, [&](const QString &, const QString &reason) {
        ++failures;
        std::fprintf(stderr, "failed: %s\n", qPrintable(reason));
    });
    if (const auto error = recorder.start(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    // The simulator's reply to the default query, and its request.
    const QByteArray request = QByteArray::fromHex("010300000002C40B");
    const QByteArray reply = QByteArray::fromHex("010304020B0000FBC1");
    const QString shown = QStringLiteral("523");

    const long block = std::max(1L, rows / 10);
    std::printf("rows_done cpu_us_per_row wall_us_per_row rss_mib\n");
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = CpuSeconds();
    double cpuBlock = cpuStart;
    qint64 wallBlock = 0;
    for (long i = 1; i <= rows && failures == 0; ++i) {
        recorder.addReading(request, reply, shown);
        if (i % 20 == 0)
            QCoreApplication::processEvents();
        if (i % block == 0) {
            const double cpu = CpuSeconds();
            const qint64 ns = wall.nsecsElapsed();
            std::printf("%ld %.3f %.3f %.2f\n", i, 1e6 * (cpu - cpuBlock) / double(block),
                        double(ns - wallBlock) / 1e3 / double(block), ResidentMiB());
            std::fflush(stdout);
            cpuBlock = cpu;
            wallBlock = ns;
        }
    }
    const double perRow = (CpuSeconds() - cpuStart) / double(rows);
    std::printf("rows %ld\nfile_mib %.1f\ncpu_us_per_row %.3f\n", rows,
                double(QFile(path).size()) / (1 << 20), 1e6 * perRow);
    recorder.stop();

    // At 20 Hz: a fresh file, rows on a 50 ms timer; then the timer alone.
    const auto paced = [&](bool recording) {
        const QString file = dir.filePath(QStringLiteral("paced.csv"));
        QFile::remove(file);
        Recorder r;
        if (recording && r.start(file))
            return -1.0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (recording)
                r.addReading(request, reply, shown);
        });
        const double before = CpuSeconds();
        tick.start(50);
        QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
        app.exec();
        return CpuSeconds() - before;
    };
    const double with = paced(true);
    const double without = paced(false);
    std::printf("paced_seconds %d\ncpu_pct_recording_at_20hz %.4f\ncpu_pct_timer_alone %.4f\n",
                seconds, 100 * with / seconds, 100 * without / seconds);
    std::printf("cpu_pct_added_by_recording %.4f\n", 100 * (with - without) / seconds);
    return failures == 0 ? 0 : 1;
}
