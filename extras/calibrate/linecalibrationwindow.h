#pragma once
// "整线校准": every module of a line calibrated at once against one reference instrument,
// under one light. It measures all modules as found, writes each its own coefficient on
// "写入新系数", verifies at further reference levels, restores the modules chosen, and on
// "完成并保存证书" writes a certificate per module and the log rows. Each step holds the
// window's line on a serial control of its own; between steps the window has it back.

#include "extras/bus/bustoolwindow.h"
#include "linecalibration.h"

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTableWidget;
class QTimer;

class LineCalibrationWindow : public BusToolWindow {
    Q_OBJECT
public:
    // Answers a yes/no question; the default asks with a message box.
    using Asker = std::function<bool(const QString &question)>;

    explicit LineCalibrationWindow(frmMain &window);
    static LineCalibrationWindow *Open(frmMain &window);

    QLineEdit *addressBox, *referenceBox, *toleranceBox, *secondsBox, *operatorBox;
    QLineEdit *instrumentBox, *instrumentCertificateBox, *dueBox, *uncertaintyBox;
    QLineEdit *temperatureBox, *humidityBox, *numberBox, *labelBox;
    QLabel *overdueLine;
    QTableWidget *table;
    QPlainTextEdit *history;
    QPushButton *writeButton, *levelButton, *restoreButton, *finishButton;

    LineCalibration &Flow() { return *flow_; }
    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    void SetLogFolder(const QString &folder) { flow_->SetLogFolder(folder); }
    // "完成并保存证书" into `folder`, without the folder dialog; false (and the reason said)
    // when something could not be written or a label is missing.
    bool FinishInto(const QString &folder);

signals:
    // A module's checked reading, as the window's own readings are announced.
    void ReadingTaken(const modbus::Reading &reading);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    static QString Title() { return QStringLiteral("整线校准"); }
    static QString DateFormat() { return QStringLiteral("yyyy-MM-dd"); }
    static QStringList Columns();
    void End(const QString &why) override;
    // What holds for the whole line, from the fields; nothing, with the reason said.
    std::optional<calibration::LineSetup> Setup();
    std::optional<double> Reference();
    // The line taken and opened, then `step` run on it once it is ready; the reason said
    // when it cannot be.
    void TakeLine(const std::function<void()> &step);
    // The line given back after a step, or when none came of it.
    void Release();
    void StartOrStop();
    void WriteProposals();
    void MeasureLevel();
    void Restore();
    void ChooseFolder();
    void ShowOverdue();
    void ShowFlow();
    void ShowHistory();
    void Remember(bool save);
    void Tell(const QString &text);

    LineCalibration *flow_;
    std::unique_ptr<bus::BusLine> line_;
    Asker asker_;
    QTimer *refresh_; // the readings counted, a few times a second while measuring
};
