#pragma once
// One-shot queries one after another, as clicks on "单次": when each click was made and when
// the window had finished with each reply (a slot connected after MSComm1_OnComm runs right
// after it). The clock is the monotonic one the simulator stamps its log with, so the times
// compare directly with the simulator's.

#include "app/frmMain.h"
#include "serial/mscomm.h"

#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <time.h>

#include <vector>

inline double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct ReplyTimes {
    std::vector<double> clicked; // one a query
    std::vector<double> handled; // one a reply the window took; fewer when replies were lost
};

inline ReplyTimes TimeOneShots(frmMain &w, int queries) {
    ReplyTimes times;
    QEventLoop wait;
    // One timer, restarted for each query: a lost reply must not hang, and the timeout of an
    // earlier query must not cut a later one's wait short.
    QTimer lost;
    lost.setSingleShot(true);
    QObject::connect(&lost, &QTimer::timeout, &wait, &QEventLoop::quit);
    const QMetaObject::Connection taken = QObject::connect(w.MSComm1, &MSComm::OnComm, &wait, [&] {
        if (w.MSComm1->commEvent() == MSComm::Receive) {
            times.handled.push_back(MonotonicSeconds());
            wait.quit();
        }
    });
    for (int i = 0; i < queries; ++i) {
        times.clicked.push_back(MonotonicSeconds());
        w.comDoOnce->click();
        lost.start(1000);
        wait.exec();
    }
    QObject::disconnect(taken);
    return times;
}
