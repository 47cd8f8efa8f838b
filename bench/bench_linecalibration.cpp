// The wall time of a calibration: one module in the calibration assistant (through the
// window, polling at 50 ms) against a whole line of ten in the line calibration, both with
// the same measuring time, from "开始测量" to the as-left figures of every module. The
// simulator paces its replies as on a wire at 19200 baud, 4 ms after each request.
//   bench_linecalibration [SECONDS] [RUNS]
// With "certificates DIR" it calibrates a line of three at 1000 lx, verifies it at 100 and
// 4000 lx, and writes their certificates into DIR, for the pictures in docs/.

#include "app/frmMain.h"
#include "app/windowstyle.h"
#include "benchsetup.h"
#include "benchwindow.h"
#include "extras/calibrate/calibrationwindow.h"
#include "extras/calibrate/linecalibrationwindow.h"
#include "extras/extratools.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

namespace {

QStringList LineOf(int modules) {
    QStringList options = {QStringLiteral("--light"), QStringLiteral("1000"),
                           QStringLiteral("--wire-time"), QStringLiteral("--delay"),
                           QStringLiteral("4")};
    for (int a = 1; a <= modules; ++a)
        options << QStringLiteral("--module")
                << QStringLiteral("%1:sensitivity=%2,noise=2").arg(a).arg(0.92 + 0.016 * a);
    return options;
}

// The window polling at 50 ms, as a technician sets it, on a line of `modules`.
bool Start(Rig &rig, int modules) {
    if (!rig.Start(19200, LineOf(modules)))
        return false;
    rig.window->txtTimerSet->setText(QStringLiteral("50"));
    return true;
}

// Seconds from "开始测量" to the as-left figures of the one module at address 1.
double OneModule(int seconds) {
    Rig bench;
    if (!Start(bench, 1))
        return -1;
    CalibrationWindow *c = CalibrationWindow::Open(*bench.window);
    c->SetLogFolder(bench.dir.path());
    for (QLineEdit *box : c->findChildren<QLineEdit *>()) {
        if (box->accessibleName() == QStringLiteral("参考值"))
            box->setText(QStringLiteral("1000"));
        if (box->accessibleName() == QStringLiteral("测量时间(s)"))
            box->setText(QString::number(seconds));
    }
    QElapsedTimer clock;
    clock.start();
    c->StartButton()->click();
    RunUntil([&] { return c->WriteButton()->isEnabled(); });
    c->WriteButton()->click();
    RunUntil([&] { return !c->Busy(); });
    const double wall = double(clock.elapsed()) / 1000;
    std::fprintf(stderr, "one module: %s\n", qPrintable(c->Status().section(u'\n', 0, 0)));
    return wall;
}

// The same for a line of `modules`.
double Line(int seconds, int modules) {
    Rig bench;
    if (!Start(bench, modules))
        return -1;
    LineCalibrationWindow *c = LineCalibrationWindow::Open(*bench.window);
    c->SetLogFolder(bench.dir.path());
    c->addressBox->setText(QStringLiteral("1-%1").arg(modules));
    c->referenceBox->setText(QStringLiteral("1000"));
    c->secondsBox->setText(QString::number(seconds));
    c->uncertaintyBox->setText(QStringLiteral("1"));
    QElapsedTimer clock;
    clock.start();
    c->startButton->click();
    RunUntil([&] { return !c->Flow().Busy(); });
    c->writeButton->click();
    RunUntil([&] { return !c->Flow().Busy(); });
    const double wall = double(clock.elapsed()) / 1000;
    int passed = 0, readings = 0;
    for (const calibration::ModuleRecord &m : c->Flow().Modules()) {
        passed += calibration::Passed(m);
        if (!m.levels.empty() && m.levels[0].asLeft)
            readings += m.levels[0].asLeft->stats.count;
    }
    std::fprintf(stderr, "line of %d: %d passed, %d readings a module as left\n", modules, passed,
                 readings / modules);
    return wall;
}

// Three modules adjusted at 1000 lx, verified at 100 and 4000 lx, certified into `folder`.
int Certificates(const QString &folder) {
    Rig bench;
    if (!Start(bench, 3))
        return 1;
    LineCalibrationWindow *c = LineCalibrationWindow::Open(*bench.window);
    c->SetLogFolder(bench.dir.path());
    const std::pair<QLineEdit *, const char *> fields[] = {
        {c->addressBox, "1-3"},
        {c->referenceBox, "1000"},
        {c->secondsBox, "5"},
        {c->operatorBox, "张工"},
        {c->instrumentBox, "照度计 XL-1"},
        {c->instrumentCertificateBox, "GZ-2026-0417"},
        {c->dueBox, "2027-06-30"},
        {c->uncertaintyBox, "1.5"},
        {c->temperatureBox, "23.5"},
        {c->humidityBox, "45"},
        {c->numberBox, "LC-2026-0101"}};
    for (const auto &[box, text] : fields)
        box->setText(QString::fromUtf8(text));
    const auto step = [&](QPushButton *button) {
        button->click();
        RunUntil([&] { return !c->Flow().Busy(); });
    };
    step(c->startButton);
    step(c->writeButton);
    for (const char *lux : {"100", "4000"}) {
        bench.sim->command(QByteArray("light ") + lux);
        c->referenceBox->setText(QString::fromLatin1(lux));
        step(c->levelButton);
    }
    for (std::size_t i = 0; i < c->Flow().Modules().size(); ++i)
        c->Flow().SetLabel(i, QStringLiteral("SN-24%1").arg(171 + i));
    return c->FinishInto(folder) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(new WindowStyle);
    if (argc > 2 && QByteArray(argv[1]) == "certificates")
        return Certificates(QString::fromLocal8Bit(argv[2]));
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<double> one, ten;
    for (int run = 0; run < runs; ++run) {
        one.push_back(OneModule(seconds));
        ten.push_back(Line(seconds, 10));
        std::printf("run %d one_module_s %.2f ten_modules_s %.2f\n", run + 1, one.back(),
                    ten.back());
        std::fflush(stdout);
    }
    const double oneMedian = Percentile(one, 0.5), tenMedian = Percentile(ten, 0.5);
    std::printf("seconds %d\nruns %d\n", seconds, runs);
    std::printf("one_module_median_s %.2f\nten_modules_median_s %.2f\nratio %.3f\n", oneMedian,
                tenMedian, oneMedian > 0 ? tenMedian / oneMedian : 0);
    return 0;
}
