// The same window on the same simulator over the two ways a COMn can go: a pseudo-terminal
// (a serial line) and a loopback TCP connection to the simulator's serial device server.
// For each, in one run: reply-to-window latency of one-shot queries (replytiming.h), then
// polling at 50 ms: the period from the simulator's request times, this process's CPU
// time, and whether the window took every reply (its receive events and request counter,
// the last value shown, no message), which scripts/soak.sh checks.
//   bench_tcp [QUERIES] [POLL_SECONDS]

#include "app/frmMain.h"
#include "benchsetup.h"
#include "replytiming.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"
#include "tests/e2e/tcpsim.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Figures {
    size_t answered = 0;
    double p50 = 0, p99 = 0;              // reply to window, ms
    double periodMean = 0, periodP99 = 0; // ms
    size_t polls = 0, replies = 0;
    double cpuPercent = 0;
    // What the window made of the polling: receive events, its request counter, whether its
    // value box shows the last reply's register 0, and the messages it showed.
    int taken = 0;
    long long counter = 0;
    bool lastValueShown = false;
    int messages = 0;
};

using Log = std::function<std::vector<LoggedFrame>(const QString &)>;

Figures Measure(const QString &dir, const Log &log, int queries, int pollSeconds) {
    Figures f;
    frmMain w(dir);
    w.messages().setPresenter([&f](const Message &) { ++f.messages; });
    w.Form_Load();
    for (int i = 0; i < 300 && !w.MSComm1->portOpen(); ++i)
        Wait(10); // a network port connects in the background
    if (!w.MSComm1->portOpen())
        return f;

    const std::vector<double> handled = TimeOneShots(w, queries).handled;
    const auto replies = log(QStringLiteral("tx"));
    std::vector<double> toWindow;
    for (size_t i = 0; i < std::min(handled.size(), replies.size()); ++i)
        toWindow.push_back((handled[i] - replies[i].time) * 1000);
    f.answered = toWindow.size();
    f.p50 = Percentile(toWindow, 0.5);
    f.p99 = Percentile(toWindow, 0.99);

    const size_t before = log(QStringLiteral("rx")).size();
    const size_t repliedBefore = replies.size();
    w.txtTimerSet->setText(QStringLiteral("50"));
    const double cpu = CpuSeconds();
    const double start = MonotonicSeconds();
    w.cmdOneM->click();
    Wait(pollSeconds * 1000);
    w.cmdStopOnce->click();
    f.cpuPercent = 100 * (CpuSeconds() - cpu) / (MonotonicSeconds() - start);
    Wait(200);
    const auto requests = log(QStringLiteral("rx"));
    std::vector<double> periods;
    for (size_t i = before + 1; i < requests.size(); ++i)
        periods.push_back((requests[i].time - requests[i - 1].time) * 1000);
    double sum = 0;
    for (double p : periods)
        sum += p;
    f.periodMean = periods.empty() ? 0 : sum / double(periods.size());
    f.periodP99 = Percentile(periods, 0.99);
    f.polls = requests.size() - before;
    const auto repliesAfter = log(QStringLiteral("tx"));
    f.replies = repliesAfter.size() - repliedBefore;
    // Polling starts both counts again at 1.
    f.taken = w.CommCount - 1;
    f.counter = w.lblCounter->text().toLongLong() - 1;
    if (!repliesAfter.empty() && repliesAfter.back().bytes.size() >= 5) {
        const QByteArray &b = repliesAfter.back().bytes;
        f.lastValueShown =
            w.txtValue(0)->text() == QString::number(256 * std::uint8_t(b[3]) + std::uint8_t(b[4]));
    }
    return f;
}

void Print(const char *name, const Figures &f) {
    std::printf("%s_answered %zu\n%s_reply_to_window_p50_ms %.3f\n"
                "%s_reply_to_window_p99_ms %.3f\n",
                name, f.answered, name, f.p50, name, f.p99);
    std::printf("%s_poll50_period_mean_ms %.2f\n%s_poll50_period_p99_ms %.2f\n"
                "%s_poll50_requests %zu\n%s_poll50_replies %zu\n%s_poll50_cpu_percent %.2f\n",
                name, f.periodMean, name, f.periodP99, name, f.polls, name, f.replies, name,
                f.cpuPercent);
    std::printf("%s_poll50_taken %d\n%s_poll50_counter %lld\n%s_poll50_last_value_shown %d\n"
                "%s_messages %d\n",
                name, f.taken, name, f.counter, name, int(f.lastValueShown), name, f.messages);
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int queries = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int pollSeconds = argc > 2 ? std::atoi(argv[2]) : 30;

    Figures pty, tcp;
    {
        QTemporaryDir dir;
        if (!SaveCom4(dir))
            return 1;
        Simulator sim(dir.path(), 4);
        if (!sim.isReady())
            return 1;
        pty = Measure(
            dir.path(), [&](const QString &kind) { return sim.log(kind); }, queries, pollSeconds);
    }
    {
        QTemporaryDir dir;
        if (!SaveCom4(dir))
            return 1;
        TcpSimulator sim(dir.path());
        if (!sim.IsReady() || !TcpSimulator::LinkAs(dir.path(), 4, sim.Address()))
            return 1;
        tcp = Measure(
            dir.path(), [&](const QString &kind) { return sim.Log(kind); }, queries, pollSeconds);
    }
    if (pty.answered == 0 || tcp.answered == 0)
        return 1;
    std::printf("queries %d\npoll_seconds %d\n", queries, pollSeconds);
    Print("pty", pty);
    Print("tcp", tcp);
    return 0;
}
