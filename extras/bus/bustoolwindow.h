#pragma once
// What the bus tools' windows share: a window of its own beside the main window that holds
// the main window's line while it runs, with a start button that reads "停止" meanwhile.
// However a run ends (its own end, "停止", the lease revoked, the window closed) End is
// called once it runs. A window destroyed while it holds the line gives it back through the
// lease, once its own line is closed.

#include <QWidget>

#include <cstdint>

class QPushButton;
class frmMain;

class BusToolWindow : public QWidget {
    Q_OBJECT
public:
    QPushButton *startButton;
    QPushButton *closeButton;

protected:
    BusToolWindow(frmMain &window, const QString &objectName, const QString &title,
                  const QString &startText);

    // Ends a run, saying why; nothing when none runs.
    virtual void End(const QString &why) = 0;
    // The start button as it reads while a run goes on, or not.
    void ShowRunning(bool running);
    // The rate the window's port is set to.
    std::int32_t WindowRate() const;
    void closeEvent(QCloseEvent *event) override;

    frmMain &window_;

private:
    QString startText_;
};
