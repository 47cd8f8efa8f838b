// The recorder's cost. First whether it grows: ROWS rows (24 hours at 20 Hz by default)
// of a typical reading go into a recording as fast as they come, the event loop turning
// every 20 rows so that the sync timer runs; the CPU and wall time per row over each
// tenth of the run and the resident memory after it. Then its cost at the pace of
// polling: SECONDS at 20 rows a second, syncs included, against the same timer without
// a recording, in percent of a core, and how much of it the kernel spends (the writes
// and the syncs).
//   bench_recording [ROWS] [SECONDS]

#include "benchsetup.h"
#include "extras/record/recorder.h"

#include <QCoreApplication>
#include <QDateTime>
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
    QObject::connect(&recorder, &Recorder::Failed, [&](const QString &, const QString &reason) {
        ++failures;
        std::fprintf(stderr, "failed: %s\n", qPrintable(reason));
    });
    if (const auto error = recorder.Start(path)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    // The simulator's reply to the default query, as the window announces it.
    modbus::Reading reading;
    reading.device = 1;
    reading.function = 3;
    reading.registers = {523, 0};
    reading.value = 523;
    reading.reply = QByteArray::fromHex("010304020B0000FBC1");

    const long block = std::max(1L, rows / 10);
    std::printf("rows_done cpu_us_per_row wall_us_per_row rss_mib\n");
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = CpuSeconds();
    double cpuBlock = cpuStart;
    qint64 wallBlock = 0;
    for (long i = 1; i <= rows && failures == 0; ++i) {
        reading.time = QDateTime::currentMSecsSinceEpoch();
        recorder.AddReading(reading);
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
    recorder.Stop();

    // At 20 Hz: rows on a 50 ms timer, against the timer alone, in turns of 5 s so that
    // both meet the same load of the machine.
    struct Cpu {
        double all = 0, kernel = 0;
    };
    Cpu with, without;
    const QString paced = dir.filePath(QStringLiteral("paced.csv"));
    const auto turn = [&](bool recording, Cpu &sum) {
        Recorder r;
        if (recording && r.Start(paced))
            return false;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (recording) {
                reading.time = QDateTime::currentMSecsSinceEpoch();
                r.AddReading(reading);
            }
        });
        const Cpu before{CpuSeconds(), KernelCpuSeconds()};
        tick.start(50);
        QTimer::singleShot(5000, &app, &QCoreApplication::quit);
        app.exec();
        sum.all += CpuSeconds() - before.all;
        sum.kernel += KernelCpuSeconds() - before.kernel;
        return true;
    };
    const int turns = std::max(1, seconds / 10);
    for (int i = 0; i < turns; ++i) {
        if (!turn(true, with) || !turn(false, without))
            return 1;
    }
    const double span = 5.0 * turns / 100; // seconds in one percent of a core
    std::printf("paced_seconds %d\ncpu_pct_recording_at_20hz %.4f\ncpu_pct_timer_alone %.4f\n",
                10 * turns, with.all / span, without.all / span);
    std::printf("cpu_pct_added_by_recording %.4f\nof_which_kernel_pct %.4f\n",
                (with.all - without.all) / span, (with.kernel - without.kernel) / span);
    return failures == 0 ? 0 : 1;
}
