// What the bus tools cost on the simulator's line.
//   bench_bus                         the scan (5 runs) and the line (20 s, 3 pairs) below
//   bench_bus scan [RUNS]             the scan of 1-35 at one rate, modules at 3, 5 and 7,
//                                     at 19200 and at 9600 baud
//   bench_bus line [SECONDS] [PAIRS]  the overview polling 10 modules back to back at 19200
//                                     against the window polling one module at 50 ms, in
//                                     alternating turns: readings a second and CPU of each
//   bench_bus counts [SECONDS]        the overview polling 10 modules back to back, module 4
//                                     pulled off half way: each module's counts against the
//                                     simulator's log (scripts/soak.sh checks them)
//   bench_bus soak [MINUTES]          the overview polling 10 modules back to back, its
//                                     resident memory each minute
// The line: the simulator paces each reply at the rate (--wire-time) and starts it 4 ms after
// the request (--delay 4, which its millisecond timer stretches by up to one), where on a
// wire the request's 8 bytes take 4.2 ms and the module turns round; so a request and its
// reply take about 8.9 ms, as on an RS-485 line at 19200. The simulator's log tells what
// they took.
// Both windows are shown, so every reading paints as it does for a technician.

#include "app/frmMain.h"
#include "app/linelease.h"
#include "app/windowstyle.h"
#include "benchsetup.h"
#include "benchwindow.h"
#include "extras/bus/overviewwindow.h"
#include "extras/bus/scanwindow.h"
#include "extras/extratools.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

QStringList TenModules() {
    QStringList options{QStringLiteral("--wire-time"), QStringLiteral("--delay"),
                        QStringLiteral("4")};
    for (int address = 1; address <= 10; ++address)
        options << QStringLiteral("--module") << QString::number(address);
    return options;
}

int Scan(int runs) {
    for (const int rate : {19200, 9600}) {
        Rig rig;
        if (!rig.Start(rate, {QStringLiteral("--wire-time"), QStringLiteral("--module"),
                              QStringLiteral("3"), QStringLiteral("--module"), QStringLiteral("5"),
                              QStringLiteral("--module"), QStringLiteral("7")}))
            return 1;
        ScanWindow *scan = ScanWindow::Open(*rig.window);
        std::vector<double> ms;
        int misses = 0;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            clock.start();
            scan->startButton->click();
            RunUntil([&] { return !scan->Scanning(); });
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
            misses += scan->table->rowCount() != 3;
            RunFor(200); // the window's port opened again
        }
        std::printf("scan_%d_p50_ms %.1f\nscan_%d_max_ms %.1f\nscan_%d_misses %d\n", rate,
                    Percentile(ms, 0.5), rate, Percentile(ms, 1.0), rate, misses);
        std::fflush(stdout);
    }
    return 0;
}

struct Turn {
    double cpu = 0, wall = 0, readings = 0;
    double Percent() const { return wall > 0 ? 100 * cpu / wall : 0; }
    double PerSecond() const { return wall > 0 ? readings / wall : 0; }
};

// From the simulator's log of the last turn: the line's time for each request and its reply
// (from the request in to the reply's last byte out) and the program's turnaround (from
// that byte to the next request in), in milliseconds.
void LineAndTurnaround(const Simulator &sim, double since, int rate) {
    const double replyMs = 1000.0 * bus::kReplyLength * 10 / rate;
    std::vector<double> line, turnaround;
    double rx = -1, txEnd = -1;
    for (const LoggedFrame &f : sim.log()) {
        if (f.time < since)
            continue;
        if (f.direction == QStringLiteral("rx")) {
            if (txEnd > 0)
                turnaround.push_back(1000 * f.time - txEnd);
            rx = 1000 * f.time;
            txEnd = -1;
        } else if (f.direction == QStringLiteral("tx") && rx > 0) {
            txEnd = 1000 * f.time + replyMs;
            line.push_back(txEnd - rx);
        }
    }
    std::printf("line_ms_per_request_and_reply_median %.2f\n", Percentile(line, 0.5));
    std::printf("program_turnaround_ms_median %.3f\n", Percentile(turnaround, 0.5));
    std::printf("program_turnaround_ms_p99 %.3f\n", Percentile(turnaround, 0.99));
}

std::uint64_t Replies(const OverviewWindow &overview) {
    std::uint64_t replies = 0;
    for (const bus::ModuleHealth &health : overview.Health())
        replies += health.replies;
    return replies;
}

int Line(int seconds, int pairs) {
    Rig rig;
    if (!rig.Start(19200, TenModules()))
        return 1;
    frmMain &w = *rig.window;
    OverviewWindow *overview = OverviewWindow::Open(w);
    overview->addressBox->setText(QStringLiteral("1-10"));
    int polled = 0;
    QObject::connect(&w, &frmMain::ReadingDecoded, [&] { ++polled; });
    std::vector<Turn> plain, bus;
    QElapsedTimer clock;
    double lastTurn = 0; // when the last overview turn began, on the simulator's clock
    for (int pair = 0; pair < pairs; ++pair) {
        Turn p;
        w.txtTimerSet->setText(QStringLiteral("50"));
        polled = 0;
        double cpu0 = CpuSeconds();
        clock.start();
        w.cmdOneM_Click();
        RunFor(seconds * 1000);
        w.cmdStopOnce_Click();
        p.cpu = CpuSeconds() - cpu0;
        p.wall = double(clock.elapsed()) / 1000;
        p.readings = polled;
        plain.push_back(p);
        RunFor(300);

        Turn b;
        lastTurn = double(std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count()) /
                   1e6;
        w.txtTimerSet->setText(QStringLiteral("0"));
        cpu0 = CpuSeconds();
        clock.start();
        overview->startButton->click();
        RunFor(seconds * 1000);
        const std::uint64_t replies = Replies(*overview);
        overview->startButton->click();
        b.cpu = CpuSeconds() - cpu0;
        b.wall = double(clock.elapsed()) / 1000;
        b.readings = double(replies);
        RunUntil([&] { return !overview->Polling(); });
        RunFor(300);
        bus.push_back(b);
        std::printf(
            "pair %d window_cpu_pct %.3f overview_cpu_pct %.3f overview_readings_per_s %.1f\n",
            pair + 1, p.Percent(), b.Percent(), b.PerSecond());
        std::fflush(stdout);
    }
    std::vector<double> ratio, rate, plainCpu, busCpu;
    for (int i = 0; i < pairs; ++i) {
        plainCpu.push_back(plain[size_t(i)].Percent());
        busCpu.push_back(bus[size_t(i)].Percent());
        ratio.push_back(bus[size_t(i)].Percent() / std::max(1e-9, plain[size_t(i)].Percent()));
        rate.push_back(bus[size_t(i)].PerSecond());
    }
    std::printf("seconds_per_turn %d\npairs %d\n", seconds, pairs);
    std::printf("window_50ms_cpu_pct %.3f\noverview_cpu_pct %.3f\ncpu_ratio_median %.2f\n",
                Percentile(plainCpu, 0.5), Percentile(busCpu, 0.5), Percentile(ratio, 0.5));
    std::printf("overview_readings_per_s_median %.1f\noverview_readings_per_s_min %.1f\n",
                Percentile(rate, 0.5), *std::min_element(rate.begin(), rate.end()));
    LineAndTurnaround(*rig.sim, lastTurn, 19200);
    std::uint64_t timeouts = 0, errors = 0;
    for (const bus::ModuleHealth &health : overview->Health()) {
        timeouts += health.timeouts;
        errors += health.crcErrors + health.wrongAddress;
    }
    std::printf("last_turn_timeouts %llu\nlast_turn_errors %llu\n",
                static_cast<unsigned long long>(timeouts), static_cast<unsigned long long>(errors));
    return 0;
}

int Frames(const std::vector<LoggedFrame> &log, int address) {
    return static_cast<int>(std::count_if(log.begin(), log.end(), [address](const LoggedFrame &f) {
        return f.bytes.size() >= 2 && std::uint8_t(f.bytes[0]) == address && f.bytes[1] == 3;
    }));
}

// The overview started on ten modules back to back; nothing when the rig did not start.
OverviewWindow *PollTen(Rig &rig) {
    if (!rig.Start(19200, TenModules()))
        return nullptr;
    rig.window->txtTimerSet->setText(QStringLiteral("0"));
    OverviewWindow *overview = OverviewWindow::Open(*rig.window);
    overview->addressBox->setText(QStringLiteral("1-10"));
    overview->startButton->click();
    return overview;
}

int Counts(int seconds) {
    Rig rig;
    OverviewWindow *overview = PollTen(rig);
    if (!overview)
        return 1;
    RunFor(seconds * 500);
    rig.sim->command("pull 4");
    RunFor(seconds * 500);
    overview->startButton->click();
    RunUntil([&] { return !overview->Polling(); });
    const auto rx = rig.sim->log(QStringLiteral("rx"));
    const auto tx = rig.sim->log(QStringLiteral("tx"));
    int mismatches = 0;
    for (const bus::ModuleHealth &h : overview->Health()) {
        const bool right = h.requests == std::uint64_t(Frames(rx, h.address)) &&
                           h.replies == std::uint64_t(Frames(tx, h.address)) &&
                           h.requests == h.replies + h.timeouts && h.crcErrors == 0 &&
                           h.wrongAddress == 0 && h.Missing() == (h.address == 4);
        mismatches += !right;
        std::printf("module %d requests %llu replies %llu timeouts %llu%s\n", h.address,
                    static_cast<unsigned long long>(h.requests),
                    static_cast<unsigned long long>(h.replies),
                    static_cast<unsigned long long>(h.timeouts), right ? "" : " MISMATCH");
    }
    std::printf("bus_readings %llu\nbus_mismatches %d\n",
                static_cast<unsigned long long>(Replies(*overview)), mismatches);
    return 0;
}

int Soak(int minutes) {
    Rig rig;
    OverviewWindow *overview = PollTen(rig);
    if (!overview)
        return 1;
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = CpuSeconds();
    for (int minute = 1; minute <= minutes; ++minute) {
        RunFor(static_cast<int>(std::max<qint64>(0, minute * 60000LL - clock.elapsed())));
        std::printf("minute %d resident_mib %.2f readings %llu cpu_pct %.2f\n", minute,
                    ResidentMiB(), static_cast<unsigned long long>(Replies(*overview)),
                    100 * (CpuSeconds() - cpu0) / (double(clock.elapsed()) / 1000));
        std::fflush(stdout);
    }
    overview->startButton->click();
    RunUntil([&] { return !overview->Polling(); });
    return overview->Rounds() > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(new WindowStyle);
    const QByteArray mode = argc > 1 ? argv[1] : "all";
    const int a = argc > 2 ? std::max(1, std::atoi(argv[2])) : 0;
    const int b = argc > 3 ? std::max(1, std::atoi(argv[3])) : 0;
    if (mode == "scan")
        return Scan(a ? a : 10);
    if (mode == "counts")
        return Counts(a ? a : 60);
    if (mode == "soak")
        return Soak(a ? a : 60);
    if (mode == "line")
        return Line(a ? a : 20, b ? b : 3);
    return Scan(5) == 0 ? Line(20, 3) : 1; // both, side by side in one run
}
