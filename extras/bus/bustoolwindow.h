#pragma once
// What the bus tools' windows share: a window of its own beside the main window that holds
// the main window's line while it runs, with a start button that reads "停止" meanwhile.
// However a run ends (its own end, "停止", the lease revoked, the window closed) End is
// called once it runs. A window destroyed while it holds the line gives it back through the
// lease, once its own line is closed.

#include "busline.h"

#include <QWidget>

#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;
class frmMain;

class BusToolWindow : public QWidget {
    Q_OBJECT
public:
    QLabel *status; // what it does or did, for the screen reader as it stands
    QPushButton *startButton;
    QPushButton *closeButton;

protected:
    // status: its first text, and its description.
    BusToolWindow(frmMain &window, const QString &objectName, const QString &title,
                  const QString &startText, const QString &statusText,
                  const QString &statusDescription);

    // Ends a run, saying why; nothing when none runs.
    virtual void End(const QString &why) = 0;
    // The start button as it reads while a run goes on, or not.
    void ShowRunning(bool running);
    // The rate the window's port is set to.
    std::int32_t WindowRate() const;
    // The tool's own line on the window's COMn at `rate`, the lease held for it; nothing
    // when it does not open, the lease given back and the reason in the status line.
    std::unique_ptr<bus::BusLine> OpenOwnLine(std::int32_t rate);
    // The own line closed at once, before the lease gives the window its port again, and
    // deleted from the event loop: its own signal is often what ends the run.
    void GiveLineBack(std::unique_ptr<bus::BusLine> &line);
    void closeEvent(QCloseEvent *event) override;

    frmMain &window_;

private:
    QString startText_;
};
