#pragma once
// The steps of a calibration on the window's own commands: parameter reads and the
// coefficient's write as "读出" and "设置" send them, readings from the window's cyclic
// query. Each step holds the window's line for as long as it runs, so the technician's
// polling pauses and the controls that would disturb it are disabled meanwhile. Each step
// ends in its callback or in Failed, never both; every wait is bounded.

#include "calibration.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class LineLease;
class frmMain;

class CalibrationSession : public QObject {
    Q_OBJECT
public:
    // A module answers in milliseconds; a second without one means it does not.
    static constexpr int kReplyTimeoutMs = 1000;
    // Polling stopped for a read: the reply of a poll still on its way lands first.
    static constexpr int kSettleMs = 200;

    explicit CalibrationSession(frmMain &window, QObject *parent = nullptr);
    ~CalibrationSession() override;

    bool Busy() const { return busy_; }
    // Why a step could not take the line now (another tool holds it), or nothing.
    std::optional<QString> Refusal() const;
    // The readings of the measurement under way.
    const std::vector<calibration::Sample> &Samples() const { return samples_; }

    // Reads the coefficient, then the offset.
    void ReadParameters(std::function<void(std::uint16_t coefficient, std::uint16_t offset)> done);
    void ReadCoefficient(std::function<void(std::uint16_t coefficient)> done);
    // Collects the window's readings of txtValue(0) for `seconds`, polling meanwhile.
    void Measure(int seconds, std::function<void(std::vector<calibration::Sample>)> done);
    // Writes the coefficient register and waits for the module's confirmation.
    void WriteCoefficient(std::uint16_t value, std::function<void()> done);
    // Ends the step under way without its callback, and gives the window back.
    void Stop();

signals:
    // A reading came in; Samples() holds it.
    void Progress();
    // A write went out: confirmed comes with the step's callback.
    void WriteSent(std::uint16_t value);
    void Failed(const QString &reason);

private:
    // Takes the line for the step; false, with Failed, while another tool holds it.
    bool Begin();
    void End();
    void Fail(const QString &reason);
    // Sends through `send` once no poll is on the line, to the station in the window's
    // address box; fails instead when the port is closed or the address is wrong.
    void PausePolling(std::function<void(std::uint8_t station)> send);
    bool ResumePolling();
    void ReadParameter(std::int16_t index, std::function<void(std::uint16_t)> done);
    void Wait(int ms, const QString &reasonIfNothing);
    void ClearWait();
    bool PortOpen() const;

    frmMain &window_;
    // Held weakly: the window gives up its lease before the assistant goes.
    QPointer<LineLease> lease_;
    bool busy_ = false;
    bool settleNext_ = false;      // a poll of the technician's may still be answered
    QElapsedTimer pollingStopped_; // when a step's own polling last stopped
    QTimer timeout_, settle_, measureEnd_;
    QString timeoutReason_;
    std::vector<QMetaObject::Connection> waiting_;
    std::vector<calibration::Sample> samples_;
};
