#pragma once
// "校准": a guided adjustment of the module's range coefficient against a reference
// instrument. It measures the module as found, proposes the coefficient that brings the
// mean onto the reference, writes it only when the technician presses "写入新系数", reads it
// back, and measures the module as left. Each calibration leaves a row in the calibration
// log beside the recordings, and a certificate on request. Everything goes through the
// window's own paths, so its traffic boxes and a running recording show it.

#include "calibrationrecord.h"

#include <QWidget>

#include <functional>
#include <optional>

class CalibrationSession;
class QLabel;
class QLineEdit;
class QPushButton;
class frmMain;

class CalibrationWindow : public QWidget {
    Q_OBJECT
public:
    // Answers a yes/no question; the default asks with a message box.
    using Asker = std::function<bool(const QString &question)>;

    explicit CalibrationWindow(frmMain &window);
    ~CalibrationWindow() override;

    // "校准…": the one assistant of `window`, made the first time, shown and raised.
    static CalibrationWindow *Open(frmMain &window);

    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    // The folder of the calibration log; the documents folder unless set.
    void SetLogFolder(const QString &folder) { logFolder_ = folder; }
    QString LogPath() const;
    // Writes the certificate of the last calibration; false (and a message) when it cannot.
    bool SaveCertificate(const QString &path);

    // The buttons and the statement of what happened last, for whoever drives it.
    QPushButton *StartButton() const { return start_; }
    QPushButton *WriteButton() const { return write_; }
    QPushButton *AgainButton() const { return again_; }
    QPushButton *RestoreButton() const { return restore_; }
    QPushButton *CertificateButton() const { return certificate_; }
    QString Status() const;
    bool Busy() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Building and the fields (calibrationwindow.cpp).
    QLineEdit *AddField(class QFormLayout *form, const QString &caption, const QString &name,
                        bool readOnly = false);
    void LoadSettings();
    void SaveSettings() const;
    // The fields as numbers; nothing, with a message, when one is wrong.
    bool ReadFields();
    void ShowProgress(const std::vector<calibration::Sample> &samples);
    void ShowText(QLineEdit *box, const QString &text);
    void ShowStatus(const QString &text);
    void ShowButtons();
    void Tell(const QString &text);

    // The calibration's steps (calibrationflow.cpp).
    void StartMeasuring();
    // The finished measurement's figures shown; nothing, after saying so, without a reading.
    std::optional<calibration::Stats>
    MeasuredStats(const std::vector<calibration::Sample> &samples);
    void AsFound(std::uint16_t coefficient, const std::vector<calibration::Sample> &samples);
    void ProposeFrom(std::uint16_t coefficient, const calibration::Stats &stats);
    void WriteProposal();
    void WriteAndCheck(std::uint16_t value, bool restoring);
    void AsLeft(const std::vector<calibration::Sample> &samples, bool restoring);
    void RestoreOriginal();
    void Failed(const QString &reason);
    // Ends the calibration: its log row, once.
    void Close(const QString &status, bool passed);
    void ChooseCertificateFile();
    QString Figures(const calibration::Measured &m) const;

    frmMain &window_;
    CalibrationSession *session_;
    Asker asker_;
    QString logFolder_;

    QLineEdit *reference_, *tolerance_, *seconds_, *operator_, *instrument_, *certificateNo_;
    QLineEdit *count_, *mean_, *deviation_, *drift_, *stability_;
    QLineEdit *foundCoefficient_, *foundError_, *newCoefficient_, *leftError_;
    QLabel *status_;
    class QTimer *refresh_; // the live figures, redrawn once a second
    QPushButton *start_, *write_, *again_, *restore_, *certificate_, *close_;

    // The values the fields gave when the calibration started.
    double referenceValue_ = 0, toleranceValue_ = 0;
    int secondsValue_ = 0;
    calibration::Record record_;
    bool open_ = false;     // a calibration whose row is not in the log yet
    bool recorded_ = false; // record_ holds a calibration, for the certificate
    bool stable_ = false;   // of the measurement the proposal comes from
    std::optional<std::uint16_t> proposal_;
    std::optional<std::uint16_t> inModule_; // the coefficient the module holds, as read
    bool canAdjustAgain_ = false, canRestore_ = false;
};
