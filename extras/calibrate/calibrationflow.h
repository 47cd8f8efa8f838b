#pragma once
// A calibration's steps, in the order the technician meets them, free of widgets: as found,
// the proposal, the write and its read-back, as left, and the way back to the coefficient
// found. It fills the record the log row and the certificate are made from, writes the log
// row once when the calibration ends however it ends, and says what happened in a status
// text. It acts only when told; what may be pressed next follows from its state.

#include "calibrationrecord.h"
#include "calibrationsession.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class frmMain;

class CalibrationFlow : public QObject {
    Q_OBJECT
public:
    // Answers a yes/no question of the technician's.
    using Asker = std::function<bool(const QString &question)>;

    explicit CalibrationFlow(frmMain &window, QObject *parent = nullptr);
    // The program ends in the middle: the calibration is still logged.
    ~CalibrationFlow() override;

    // Why no step could start now (another tool holds the line), or nothing.
    std::optional<QString> Refusal() const { return session_->Refusal(); }

    // "开始测量": a calibration of the technician's `setup` (who, against what, how long,
    // on which port); one not yet ended before it is logged as given up.
    void Start(calibration::Record setup);
    // "写入新系数", "再调整一次": writes the proposal, reads it back and measures again.
    // After an unstable measurement it asks first; a no ends the calibration.
    void WriteProposal();
    // "恢复原值": writes the coefficient found back, reads it back and measures again.
    void RestoreOriginal();
    // The assistant closes: the step under way stops, and the calibration ends.
    void Interrupt();

    bool Busy() const { return session_->Busy(); }
    // The readings of the measurement under way.
    const std::vector<calibration::Sample> &Samples() const { return session_->Samples(); }
    // The record of the last calibration, for its certificate.
    const calibration::Record &Last() const { return record_; }
    const QString &Status() const { return status_; }
    // The proposal's coefficient, "—" when it was refused, empty before any.
    const QString &ProposedText() const { return proposedText_; }
    bool CanWrite() const { return proposal_ && !canAdjustAgain_; }
    bool CanAdjustAgain() const { return proposal_ && canAdjustAgain_; }
    bool CanRestore() const { return canRestore_; }
    // Last() holds a calibration.
    bool Recorded() const { return recorded_; }

    // The folder of the calibration log; the documents folder unless set.
    void SetLogFolder(const QString &folder) { logFolder_ = folder; }
    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    const QString &LogFolder() const { return logFolder_; }
    QString LogPath() const;

signals:
    // The status, the record's figures or what may be pressed changed.
    void Changed();
    // A reading came in; Samples() holds it.
    void Progress();
    // A measurement ended with these readings.
    void Measured(const std::vector<calibration::Sample> &samples);
    // A step failed and the calibration stopped: to be told, not only shown.
    void Failed(const QString &text);

private:
    void Show(const QString &status);
    // The finished measurement's statistics; nothing, after failing, without a reading.
    std::optional<calibration::Stats> MeasuredStats(const std::vector<calibration::Sample> &s);
    void AsFound(std::uint16_t coefficient, const std::vector<calibration::Sample> &samples);
    void ProposeFrom(std::uint16_t coefficient, const calibration::Stats &stats);
    void WriteAndCheck(std::uint16_t value, bool restoring);
    void AsLeft(const std::vector<calibration::Sample> &samples, bool restoring);
    void Fail(const QString &reason);
    // Ends the calibration: its log row, once.
    void Close(const QString &status, bool passed);

    CalibrationSession *session_;
    Asker asker_;
    QString logFolder_;
    calibration::Record record_;
    QString status_;
    QString proposedText_;
    bool open_ = false;     // a calibration whose row is not in the log yet
    bool recorded_ = false; // record_ holds a calibration
    bool stable_ = false;   // the measurement the proposal comes from
    std::optional<std::uint16_t> proposal_;
    std::optional<std::uint16_t> inModule_; // the coefficient the module holds, as read
    bool canAdjustAgain_ = false, canRestore_ = false;
};
