// Reply latency: one-shot queries against the simulator, one after another. For each,
// the simulator logs when it wrote the reply, and this process notes when the receiver
// has finished with it (a slot connected after MSComm1_OnComm runs right after it) and
// when the click was made. Both use the monotonic clock, so the times compare directly.
//   bench_latency [QUERIES]

#include "app/frmMain.h"
#include "benchsetup.h"
#include "replytiming.h"
#include "tests/e2e/simulator.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int queries = argc > 1 ? std::atoi(argv[1]) : 1000;

    QTemporaryDir dir;
    if (!SaveCom4(dir))
        return 1;
    Simulator sim(dir.path(), 4);
    if (!sim.isReady())
        return 1;
    frmMain w(dir.path());
    w.Form_Load();

    const ReplyTimes times = TimeOneShots(w, queries);
    const std::vector<double> &clicked = times.clicked, &handled = times.handled;

    const auto requests = sim.log(QStringLiteral("rx"));
    const auto replies = sim.log(QStringLiteral("tx"));
    const size_t n = std::min({clicked.size(), handled.size(), requests.size(), replies.size()});
    std::vector<double> toWire, toWindow, inSimulator;
    for (size_t i = 0; i < n; ++i) {
        toWire.push_back((requests[i].time - clicked[i]) * 1000);
        inSimulator.push_back((replies[i].time - requests[i].time) * 1000);
        toWindow.push_back((handled[i] - replies[i].time) * 1000);
    }
    if (n == 0)
        return 1;
    std::printf("queries %d\nanswered %zu\n", queries, n);
    std::printf("reply_to_window_p50_ms %.3f\nreply_to_window_p99_ms %.3f\n",
                Percentile(toWindow, 0.5), Percentile(toWindow, 0.99));
    std::printf("click_to_wire_p50_ms %.3f\nclick_to_wire_p99_ms %.3f\n", Percentile(toWire, 0.5),
                Percentile(toWire, 0.99));
    std::printf("simulator_p50_ms %.3f\n", Percentile(inSimulator, 0.5));
    return 0;
}
