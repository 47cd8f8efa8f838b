#pragma once
// The test fixture of the end-to-end suites: the real window after start-up on COM4, the
// sensor simulator at the other end, and every message box recorded instead of shown.

#include "app/frmMain.h"
#include "extras/extratools.h"
#include "simulator.h"

#include <QObject>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class WindowOnSimulator : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<frmMain> w_;
    ExtraTools *tools_ = nullptr; // attached to w_, as the program attaches them
    std::vector<Message> shown_;

    // A program directory with COM4 saved and the simulator linked as COM4.
    void startSimulator(const QStringList &simOptions = {});
    frmMain &start(const QStringList &simOptions = {});
    // Polls at `interval` ms for `ms` ms, then stops and lets the last reply come in.
    void poll(int interval, int ms) const;
    // The coefficient writes (function 6 at 0x0A04) the simulator received for `address`, as
    // register values.
    std::vector<int> coefficientWrites(int address) const;
    // The window, the simulator and the directory go, in that order.
    void reset();
};
