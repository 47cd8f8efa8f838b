#pragma once
// What the benchmarks that drive the window share: the event loop run for a while or until
// a condition holds, and the window with its tools on COM4, the simulator behind it.

#include "app/frmMain.h"
#include "extras/extratools.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

// The event loop for `ms`, with no timer of the benchmark's own waking it meanwhile.
inline void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The event loop until `done` holds, looked at every 20 ms.
inline void RunUntil(const std::function<bool()> &done) {
    while (!done())
        RunFor(20);
}

// The window on COM4 at `rate`, the simulator behind it with `options`.
struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<frmMain> window;

    bool Start(int rate, QStringList options) {
        QFile settings(dir.filePath(QStringLiteral("comm.set")));
        if (!settings.open(QIODevice::WriteOnly) ||
            settings.write(QByteArray("4,") + QByteArray::number(rate) + "\r\n") < 0)
            return false;
        settings.close();
        options << QStringLiteral("--baud") << QString::number(rate);
        sim = std::make_unique<Simulator>(dir.path(), 4, options);
        if (!sim->isReady())
            return false;
        window = std::make_unique<frmMain>(dir.path());
        new ExtraTools(*window);
        window->messages().setPresenter(
            [](const Message &m) { std::fprintf(stderr, "message: %s\n", qPrintable(m.text)); });
        window->Form_Load();
        window->show();
        RunFor(300);
        return window->MSComm1->portOpen();
    }
};
