#pragma once
// The steps of a calibration on the window's own paths: parameter reads through "读出",
// the coefficient written through "设置", readings from the window's measured-value query.
// While a step runs, what would disturb it in the window (port settings, Modbus fields,
// parameters, address change, the query buttons) is disabled; polling the assistant started
// for measuring is stopped afterwards, polling the technician started goes on. Each step
// ends in its callback or in Failed, never both; every wait is bounded.

#include "calibration.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

class QTimer;
class QWidget;
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
    void Begin();
    void End();
    void Fail(const QString &reason);
    // Runs `then` once no poll is on the line.
    void PausePolling(std::function<void()> then);
    bool ResumePolling();
    void ReadParameter(std::int16_t index, std::function<void(std::uint16_t)> done);
    void Wait(int ms, const QString &reasonIfNothing);
    void ClearWait();
    bool PortOpen() const;

    frmMain &window_;
    bool busy_ = false;
    bool windowWasPolling_ = false; // the technician's own polling, left running
    bool startedPolling_ = false;   // polling the assistant started for measuring
    // The window's controls it disables, with whether each was enabled, and its timer: held
    // weakly, as the window's children may go before the assistant does.
    std::vector<std::pair<QPointer<QWidget>, bool>> disabled_;
    QPointer<QTimer> poll_;
    QTimer timeout_, settle_, measureEnd_;
    QString timeoutReason_;
    std::vector<QMetaObject::Connection> waiting_;
    std::vector<calibration::Sample> samples_;
};
