#pragma once
// "扫描总线": every address from 1 to 35 read at the window's rate, or at all four, with the
// window's port closed while it runs and the line opened by the scan itself. A table lists
// each module that answered (address, rate, reading, reply time) and each address whose
// reply was garbled, which is never taken for a module; "使用此模块" puts the chosen one's
// address and rate into the window.

#include "busline.h"
#include "bustoolwindow.h"

#include <memory>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

class ScanWindow : public BusToolWindow {
    Q_OBJECT
public:
    explicit ScanWindow(frmMain &window);
    static ScanWindow *Open(frmMain &window);

    QCheckBox *allRates; // "所有波特率"
    QProgressBar *progress;
    QTableWidget *table;
    QPushButton *useButton; // "使用此模块"

    bool Scanning() const { return line_ != nullptr; }

signals:
    void Finished();

private:
    void StartOrStop();
    void Start();
    void AskNext();
    void Take(const bus::Answer &answer);
    void End(const QString &why) override;
    void UseChosen();

    std::unique_ptr<bus::BusLine> line_;
    std::int16_t port_ = 1;
    QList<std::int32_t> rates_;
    int step_ = 0; // rate index × 35 + address index
    int found_ = 0, garbled_ = 0, noisy_ = 0;
    struct Found {
        int address;
        std::int32_t rate;
    };
    QList<Found> rows_; // the modules behind the table's rows; 0 where a row is a note
    // The module of the row chosen; none on a note's row.
    const Found *Chosen() const;
};
