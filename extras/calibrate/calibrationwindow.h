#pragma once
// "校准": a guided adjustment of the module's range coefficient against a reference
// instrument. It measures the module as found, proposes the coefficient that brings the
// mean onto the reference, writes it only when the technician presses "写入新系数", reads it
// back, and measures the module as left. Each calibration leaves a row in the calibration
// log beside the recordings, and a certificate on request. Everything goes through the
// window's own paths, so its traffic boxes and a running recording show it.

#include "calibrationflow.h"

#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class frmMain;

class CalibrationWindow : public QWidget {
    Q_OBJECT
public:
    // Answers a yes/no question; the default asks with a message box.
    using Asker = CalibrationFlow::Asker;

    explicit CalibrationWindow(frmMain &window);
    ~CalibrationWindow() override;

    // "校准…": the one assistant of `window`, made the first time, shown and raised.
    static CalibrationWindow *Open(frmMain &window);

    void SetAsker(Asker asker) { flow_->SetAsker(std::move(asker)); }
    // The folder of the calibration log; the documents folder unless set.
    void SetLogFolder(const QString &folder) { flow_->SetLogFolder(folder); }
    QString LogPath() const { return flow_->LogPath(); }
    // Writes the certificate of the last calibration; false (and a message) when it cannot.
    bool SaveCertificate(const QString &path);

    // The buttons and the statement of what happened last, for whoever drives it.
    QPushButton *StartButton() const { return start_; }
    QPushButton *WriteButton() const { return write_; }
    QPushButton *RestoreButton() const { return restore_; }
    QString Status() const;
    bool Busy() const { return flow_->Busy(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The operator and the reference instrument, kept for the next time.
    void Remember(bool save) const;
    // The technician's side of a calibration from the fields; nothing, with a message, when
    // one is wrong.
    std::optional<calibration::Record> Setup();
    // False, with the reason told, while another tool holds the line: nothing changes.
    bool LineFree();
    void StartMeasuring();
    void ChooseCertificateFile();
    void ShowProgress(const std::vector<calibration::Sample> &samples);
    // The flow's status, its figures and what may be pressed now.
    void ShowFlow();
    void Tell(const QString &text);

    frmMain &window_;
    CalibrationFlow *flow_;

    QLineEdit *reference_, *tolerance_, *seconds_, *operator_, *instrument_, *certificateNo_;
    QLineEdit *count_, *mean_, *deviation_, *drift_, *stability_;
    QLineEdit *foundCoefficient_, *foundError_, *newCoefficient_, *leftError_;
    QLabel *status_;
    QTimer *refresh_; // the live figures, redrawn once a second
    QPushButton *start_, *write_, *again_, *restore_, *certificate_, *close_;
};
