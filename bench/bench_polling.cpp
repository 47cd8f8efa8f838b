// Poll timing: the real window polls the simulator at a set interval for a while; the
// simulator's request timestamps give the period, its deviation from the interval and
// the drift over the run. Also reports this process's CPU time and memory, so it doubles
// as the soak run when simulator fault options are given.
//   bench_polling INTERVAL_MS SECONDS [SIMULATOR OPTIONS...]

#include "app/frmMain.h"
#include "app/windowstyle.h"
#include "benchsetup.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Counts the paint events each widget gets and the area they cover, to see what a poll
// repaints.
class PaintCounter : public QObject {
public:
    struct Count {
        long events = 0;
        long long pixels = 0;
    };
    std::map<QString, Count> byWidget;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            const auto *paint = static_cast<QPaintEvent *>(event);
            const QString name = watched->objectName().isEmpty()
                                     ? QString::fromLatin1(watched->metaObject()->className())
                                     : watched->objectName();
            Count &c =
                byWidget[name + u' ' + QString::fromLatin1(watched->metaObject()->className())];
            ++c.events;
            for (const QRect &r : paint->region())
                c.pixels += qlonglong(r.width()) * r.height();
        }
        return false;
    }
};

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(new WindowStyle); // as the program paints
    const int interval = argc > 1 ? std::atoi(argv[1]) : 50;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;

    QTemporaryDir dir;
    if (!SaveCom4(dir))
        return 1;
    QStringList simOptions;
    for (int i = 3; i < argc; ++i)
        simOptions << QString::fromLocal8Bit(argv[i]);
    Simulator sim(dir.path(), 4, simOptions);
    if (!sim.isReady())
        return 1;
    frmMain w(dir.path());
    int messages = 0;
    w.messages().setPresenter([&messages](const Message &m) {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(m.text));
    });
    w.Form_Load();

    // Shown, so that every poll paints as it does for a technician. With BENCH_PAINTS set,
    // the paint events of the polls are counted (the filter costs time of its own).
    w.show();
    PaintCounter paints;
    if (qEnvironmentVariableIsSet("BENCH_PAINTS"))
        app.installEventFilter(&paints);
    w.txtTimerSet->setText(QString::number(interval));
    QCoreApplication::processEvents(); // the first paint of the whole window
    paints.byWidget.clear();
    const double cpuBefore = CpuSeconds();
    w.cmdOneM->click();
    // Memory is compared from the end of the warm-up, when the caches are filled.
    double rssWarm = 0;
    QTimer::singleShot(std::min(30, std::max(1, seconds / 10)) * 1000, &app,
                       [&] { rssWarm = ResidentMiB(); });
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, [&] {
        w.cmdStopOnce->click();
        QTimer::singleShot(300, &app, &QCoreApplication::quit);
    });
    app.exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double rssEnd = ResidentMiB();

    const auto requests = sim.log(QStringLiteral("rx"));
    const auto replies = sim.log(QStringLiteral("tx"));
    if (requests.size() < 3) {
        std::fprintf(stderr, "too few requests: %zu\n", requests.size());
        return 1;
    }
    std::vector<double> deviation;
    double sum = 0;
    for (size_t i = 1; i < requests.size(); ++i) {
        const double period = (requests[i].time - requests[i - 1].time) * 1000;
        sum += period;
        deviation.push_back(std::fabs(period - interval));
    }
    const double mean = sum / double(requests.size() - 1);
    // Drift: where the last request came against where the grid of the first puts it.
    const double span = (requests.back().time - requests.front().time) * 1000;
    const double drift = span - double(requests.size() - 1) * interval;

    std::printf("interval_ms %d\nseconds %d\nrequests %zu\nreplies %zu\nevents %d\n", interval,
                seconds, requests.size(), replies.size(), w.CommCount - 1);
    std::printf("mean_period_ms %.4f\nmean_error_pct %.4f\n", mean,
                100 * (mean - interval) / interval);
    std::printf("p50_dev_ms %.3f\np99_dev_ms %.3f\nmax_dev_ms %.3f\ndrift_ms %.3f\n",
                Percentile(deviation, 0.5), Percentile(deviation, 0.99),
                *std::max_element(deviation.begin(), deviation.end()), drift);
    std::printf("drops %zu\nmessages %d\n", sim.log(QStringLiteral("drop")).size(), messages);
    std::printf("cpu_pct %.3f\npeak_rss_mib %.1f\n", 100 * cpu / (seconds + 0.3),
                double(PeakResidentKiB()) / 1024);
    std::printf("rss_warm_mib %.2f\nrss_end_mib %.2f\n", rssWarm, rssEnd);
    // Per poll; the first second's start-up painting is left out by counting from the click.
    const double polls = double(requests.size());
    for (const auto &[name, c] : paints.byWidget)
        std::printf("paint %s per_poll %.2f pixels_per_poll %.0f\n", qPrintable(name),
                    double(c.events) / polls, double(c.pixels) / polls);
    return 0;
}
