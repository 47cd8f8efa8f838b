#pragma once
// "总线总览": the modules of a line polled in turn, a round every interval of the window's
// cyclic query (as fast as the line allows at 0), with the window's port closed and the
// line opened by the overview itself. Each module's row holds its reading as the window
// shows it and its health (see busstats.h); a module that missed three rounds is marked red
// and says so in its state. Each reading goes to a running recording, with its address.

#include "busline.h"
#include "busstats.h"
#include "bustoolwindow.h"
#include "modbus/reading.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class OverviewWindow : public BusToolWindow {
    Q_OBJECT
public:
    explicit OverviewWindow(frmMain &window);
    static OverviewWindow *Open(frmMain &window);

    QLineEdit *addressBox; // "地址": the modules to poll, "3,5,7-9"
    QTableWidget *table;
    QPushButton *resetButton, *copyButton;

    bool Polling() const { return line_ != nullptr; }
    const std::vector<bus::ModuleHealth> &Health() const { return health_; }
    std::uint64_t Rounds() const { return rounds_; }

signals:
    // A module's checked reading, as the window's own readings are announced.
    void ReadingTaken(const modbus::Reading &reading);

private:
    void StartOrStop();
    void Start();
    void End(const QString &why) override;
    void NextRound();
    void AskNext();
    void Take(const bus::Answer &answer);
    void Refresh();

    std::unique_ptr<bus::BusLine> line_;
    std::vector<bus::ModuleHealth> health_;
    std::vector<bool> shownMissing_; // what each row's colour says now
    std::size_t next_ = 0;           // the module asked next in this round
    bool stopping_ = false;          // "停止" waits for the answer to the request out
    int interval_ = 0;
    std::uint64_t rounds_ = 0;
    QElapsedTimer roundStarted_;
    QTimer round_;   // the next round
    QTimer refresh_; // the table follows the figures a few times a second, not every reply
};
