// What the calibration assistant costs while it measures: the program's CPU while the
// assistant measures at 50 ms against plain polling at 50 ms, in alternating turns so
// that a slow drift of the machine falls on both alike. Both windows are shown, so every
// reading paints as it does for a technician.
//   bench_calibration [SECONDS_PER_TURN] [PAIRS]

#include "app/frmMain.h"
#include "app/windowstyle.h"
#include "benchsetup.h"
#include "extras/calibrate/calibrationwindow.h"
#include "extras/extratools.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

// Runs the event loop until `done` holds, then for a further `ms`.
void RunUntil(const std::function<bool()> &done, int ms = 0) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    loop.exec();
    if (ms > 0) {
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

struct Turn {
    double cpu = 0, wall = 0;
    double Percent() const { return wall > 0 ? 100 * cpu / wall : 0; }
};

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(new WindowStyle);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int pairs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QTemporaryDir dir;
    if (!SaveCom4(dir))
        return 1;
    // Noise on the light, so the statistics move with every reading.
    Simulator sim(dir.path(), 4,
                  {QStringLiteral("--light"), QStringLiteral("1000"),
                   QStringLiteral("--sensitivity"), QStringLiteral("0.95"),
                   QStringLiteral("--light-noise"), QStringLiteral("4")});
    if (!sim.isReady())
        return 1;
    frmMain w(dir.path());
    auto *tools = new ExtraTools(w);
    Q_UNUSED(tools);
    w.messages().setPresenter(
        [](const Message &m) { std::fprintf(stderr, "message: %s\n", qPrintable(m.text)); });
    w.Form_Load();
    w.show();
    w.txtTimerSet->setText(QStringLiteral("50"));
    CalibrationWindow *c = CalibrationWindow::Open(w);
    c->SetLogFolder(dir.path());
    for (QLineEdit *box : c->findChildren<QLineEdit *>()) {
        if (box->accessibleName() == QStringLiteral("参考值"))
            box->setText(QStringLiteral("1000"));
        if (box->accessibleName() == QStringLiteral("测量时间(s)"))
            box->setText(QString::number(seconds));
    }
    RunUntil([] { return true; }, 500); // the first paint of both windows

    std::vector<Turn> plain, measuring;
    QElapsedTimer clock;
    for (int pair = 0; pair < pairs; ++pair) {
        Turn p;
        double cpu0 = CpuSeconds();
        clock.start();
        w.cmdOneM_Click();
        RunUntil([&] { return clock.elapsed() >= seconds * 1000; });
        w.cmdStopOnce_Click();
        p.cpu = CpuSeconds() - cpu0;
        p.wall = double(clock.elapsed()) / 1000;
        plain.push_back(p);
        RunUntil([] { return true; }, 300);

        Turn m;
        cpu0 = CpuSeconds();
        clock.start();
        c->StartButton()->click();
        RunUntil([&] { return !c->Busy(); });
        m.cpu = CpuSeconds() - cpu0;
        m.wall = double(clock.elapsed()) / 1000;
        measuring.push_back(m);
        RunUntil([] { return true; }, 300);
        std::printf("pair %d plain_cpu_pct %.3f measuring_cpu_pct %.3f\n", pair + 1, p.Percent(),
                    m.Percent());
        std::fflush(stdout);
    }
    std::vector<double> difference;
    double sumPlain = 0, sumMeasuring = 0;
    for (int i = 0; i < pairs; ++i) {
        difference.push_back(measuring[size_t(i)].Percent() - plain[size_t(i)].Percent());
        sumPlain += plain[size_t(i)].Percent();
        sumMeasuring += measuring[size_t(i)].Percent();
    }
    std::printf("seconds_per_turn %d\npairs %d\n", seconds, pairs);
    std::printf("plain_cpu_pct %.3f\nmeasuring_cpu_pct %.3f\n", sumPlain / pairs,
                sumMeasuring / pairs);
    std::printf("difference_median_pct %.3f\n", Percentile(difference, 0.5));
    std::printf("status %s\n", qPrintable(c->Status().section(u'\n', 0, 0)));
    return 0;
}
