#include "calibrationsession.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "serial/mscomm.h"

#include <utility>

CalibrationSession::CalibrationSession(frmMain &window, QObject *parent)
    : QObject(parent), window_(window), lease_(window.Lease) {
    for (QTimer *timer : {&timeout_, &settle_, &measureEnd_})
        timer->setSingleShot(true);
    // A coarse timer may end a measurement of 10 s half a second early.
    measureEnd_.setTimerType(Qt::PreciseTimer);
    connect(&timeout_, &QTimer::timeout, this, [this] { Fail(timeoutReason_); });
    connect(lease_, &LineLease::Revoked, this, [this](QObject *holder, const QString &reason) {
        if (holder == this && busy_)
            Fail(reason);
    });
}

CalibrationSession::~CalibrationSession() {
    Stop();
}

std::optional<QString> CalibrationSession::Refusal() const {
    return lease_ ? lease_->Refusal(this) : std::nullopt;
}

bool CalibrationSession::PortOpen() const {
    return window_.MSComm1 && window_.MSComm1->portOpen();
}

bool CalibrationSession::Begin() {
    if (busy_)
        return true;
    settleNext_ = window_.Timer2->isActive();
    if (const auto refusal = lease_->Take(this, QStringLiteral("校准"), LineLease::Need::Port)) {
        emit Failed(*refusal);
        return false;
    }
    busy_ = true;
    return true;
}

void CalibrationSession::End() {
    // A poll of the step's may still be on the wire when the lease stops the polling.
    if (window_.Timer2->isActive())
        pollingStopped_.start();
    ClearWait();
    settle_.stop();
    measureEnd_.stop();
    settle_.disconnect(this);
    measureEnd_.disconnect(this);
    busy_ = false;
    if (lease_)
        lease_->GiveBack(this); // the assistant's polling stops, the technician's goes on
}

void CalibrationSession::Stop() {
    if (busy_)
        End();
}

void CalibrationSession::Fail(const QString &reason) {
    End();
    emit Failed(reason);
}

void CalibrationSession::Wait(int ms, const QString &reasonIfNothing) {
    timeoutReason_ = reasonIfNothing;
    timeout_.start(ms);
}

void CalibrationSession::ClearWait() {
    timeout_.stop();
    for (const QMetaObject::Connection &c : waiting_)
        disconnect(c);
    waiting_.clear();
}

void CalibrationSession::PausePolling(std::function<void(std::uint8_t station)> send) {
    const bool wasRunning = std::exchange(settleNext_, false) || window_.Timer2->isActive() ||
                            (pollingStopped_.isValid() && pollingStopped_.elapsed() < kSettleMs);
    window_.StopPolling();
    settle_.disconnect(this);
    connect(&settle_, &QTimer::timeout, this, [this, send = std::move(send)] {
        const auto station = window_.StationAddress();
        if (!PortOpen() || !station)
            Fail(station ? QStringLiteral("串口未打开") : QStringLiteral("设备地址格式有误"));
        else
            send(*station);
    });
    settle_.start(wasRunning ? kSettleMs : 0);
}

bool CalibrationSession::ResumePolling() {
    // The cyclic query as the technician would start it, at the interval set in the window.
    const auto interval = window_.PollInterval();
    if (!interval)
        return false;
    window_.StartPolling(*interval);
    return true;
}

void CalibrationSession::ReadParameter(std::int16_t index,
                                       std::function<void(std::uint16_t)> done) {
    PausePolling([this, index, done = std::move(done)](std::uint8_t station) {
        waiting_.push_back(connect(&window_, &frmMain::ParameterDecoded, this,
                                   [this, index, done](std::int16_t i, std::uint16_t value) {
                                       if (i != index)
                                           return;
                                       ClearWait();
                                       done(value);
                                   }));
        Wait(kReplyTimeoutMs, index == 0 ? QStringLiteral("读取量程缩放系数时模块无应答")
                                         : QStringLiteral("读取偏移量时模块无应答"));
        // The module's parameters sit from register 4 on.
        window_.ReadParameter(index, station, 0x03, static_cast<std::uint8_t>(4 + index));
    });
}

void CalibrationSession::ReadParameters(
    std::function<void(std::uint16_t coefficient, std::uint16_t offset)> done) {
    if (!Begin())
        return;
    ReadParameter(0, [this, done = std::move(done)](std::uint16_t coefficient) {
        ReadParameter(1, [done, coefficient](std::uint16_t offset) { done(coefficient, offset); });
    });
}

void CalibrationSession::ReadCoefficient(std::function<void(std::uint16_t)> done) {
    if (Begin())
        ReadParameter(0, std::move(done));
}

void CalibrationSession::Measure(int seconds,
                                 std::function<void(std::vector<calibration::Sample>)> done) {
    if (!Begin())
        return;
    samples_.clear();
    ClearWait();
    if (!PortOpen()) {
        Fail(QStringLiteral("串口未打开"));
        return;
    }
    if (!ResumePolling()) {
        Fail(QStringLiteral("无法开始循环查询，请检查定时时长"));
        return;
    }
    // Silence longer than one interval and a reply's time means the module stopped answering.
    const int silence = window_.Timer2->interval() + kReplyTimeoutMs;
    const QString nothing = QStringLiteral("测量时模块无应答");
    waiting_.push_back(connect(&window_, &frmMain::ReadingDecoded, this,
                               [this, silence, nothing](const modbus::Reading &reading) {
                                   if (reading.channel != 0)
                                       return;
                                   samples_.push_back({reading.time, modbus::ShownValue(reading)});
                                   Wait(silence, nothing);
                                   emit Progress();
                               }));
    Wait(silence, nothing);
    measureEnd_.disconnect(this);
    connect(&measureEnd_, &QTimer::timeout, this, [this, done = std::move(done)] {
        const auto finish = done; // End() disconnects this very slot
        std::vector<calibration::Sample> samples = std::move(samples_);
        samples_.clear();
        End();
        finish(std::move(samples));
    });
    measureEnd_.start(seconds * 1000);
}

void CalibrationSession::WriteCoefficient(std::uint16_t value, std::function<void()> done) {
    if (!Begin())
        return;
    PausePolling([this, value, done = std::move(done)](std::uint8_t station) {
        waiting_.push_back(connect(&window_, &frmMain::WriteConfirmed, this,
                                   [this, value, done](const modbus::WriteChange &change) {
                                       if (change.kind != modbus::WriteChange::Kind::Parameter ||
                                           change.parameter != 0 || change.value != value)
                                           return;
                                       ClearWait();
                                       done();
                                   }));
        Wait(kReplyTimeoutMs, QStringLiteral("模块未确认写入"));
        emit WriteSent(value);
        window_.WriteParameter(0, station, value);
    });
}
