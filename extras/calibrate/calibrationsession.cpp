#include "calibrationsession.h"

#include "app/frmMain.h"
#include "serial/mscomm.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

CalibrationSession::CalibrationSession(frmMain &window, QObject *parent)
    : QObject(parent), window_(window), poll_(window.Timer2) {
    for (QTimer *timer : {&timeout_, &settle_, &measureEnd_})
        timer->setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, [this] { Fail(timeoutReason_); });
    connect(window.MSComm1, &MSComm::PortOpenChanged, this, [this](bool open) {
        if (!open && busy_)
            Fail(QStringLiteral("串口已关闭或连接已断开"));
    });
}

CalibrationSession::~CalibrationSession() {
    Stop();
}

bool CalibrationSession::PortOpen() const {
    return window_.MSComm1 && window_.MSComm1->portOpen();
}

void CalibrationSession::Begin() {
    if (busy_)
        return;
    busy_ = true;
    windowWasPolling_ = poll_ && poll_->isActive() && !startedPolling_;
    frmMain &w = window_;
    for (QWidget *widget : std::initializer_list<QWidget *>{
             w.Frame5, w.Frame10, w.Frame7, w.Frame12, w.comDoOnce, w.cmdOneM, w.cmdStopOnce}) {
        disabled_.emplace_back(widget, widget->isEnabled());
        widget->setEnabled(false);
    }
}

void CalibrationSession::End() {
    ClearWait();
    settle_.stop();
    measureEnd_.stop();
    settle_.disconnect(this);
    measureEnd_.disconnect(this);
    if (startedPolling_ && poll_)
        poll_->stop();
    startedPolling_ = false;
    if (windowWasPolling_ && poll_ && !poll_->isActive())
        poll_->start();
    for (auto &[widget, enabled] : disabled_)
        if (widget)
            widget->setEnabled(enabled);
    disabled_.clear();
    busy_ = false;
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

void CalibrationSession::PausePolling(std::function<void()> then) {
    const bool wasRunning = poll_ && poll_->isActive();
    if (poll_)
        poll_->stop();
    settle_.disconnect(this);
    connect(&settle_, &QTimer::timeout, this, std::move(then));
    settle_.start(wasRunning ? kSettleMs : 0);
}

bool CalibrationSession::ResumePolling() {
    if (!poll_)
        return false;
    if (windowWasPolling_) {
        poll_->start();
        return true;
    }
    // "循环" as the technician would press it, with the interval set in the window.
    window_.cmdOneM_Click();
    startedPolling_ = poll_->isActive();
    return startedPolling_;
}

void CalibrationSession::ReadParameter(std::int16_t index,
                                       std::function<void(std::uint16_t)> done) {
    PausePolling([this, index, done = std::move(done)] {
        if (!PortOpen()) {
            Fail(QStringLiteral("串口未打开"));
            return;
        }
        waiting_.push_back(connect(&window_, &frmMain::ParameterDecoded, this,
                                   [this, index, done](std::int16_t i, std::uint16_t value) {
                                       if (i != index)
                                           return;
                                       ClearWait();
                                       done(value);
                                   }));
        Wait(kReplyTimeoutMs, index == 0 ? QStringLiteral("读取量程缩放系数时模块无应答")
                                         : QStringLiteral("读取偏移量时模块无应答"));
        window_.cmdREAD_Click(index);
    });
}

void CalibrationSession::ReadParameters(
    std::function<void(std::uint16_t coefficient, std::uint16_t offset)> done) {
    Begin();
    ReadParameter(0, [this, done = std::move(done)](std::uint16_t coefficient) {
        ReadParameter(1, [done, coefficient](std::uint16_t offset) { done(coefficient, offset); });
    });
}

void CalibrationSession::ReadCoefficient(std::function<void(std::uint16_t)> done) {
    Begin();
    ReadParameter(0, std::move(done));
}

void CalibrationSession::Measure(int seconds,
                                 std::function<void(std::vector<calibration::Sample>)> done) {
    Begin();
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
    const int silence = poll_->interval() + kReplyTimeoutMs;
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
    Begin();
    PausePolling([this, value, done = std::move(done)] {
        if (!PortOpen()) {
            Fail(QStringLiteral("串口未打开"));
            return;
        }
        waiting_.push_back(connect(&window_, &frmMain::WriteConfirmed, this,
                                   [this, value, done](const modbus::WriteChange &change) {
                                       if (change.kind != modbus::WriteChange::Kind::Parameter ||
                                           change.parameter != 0 || change.value != value)
                                           return;
                                       ClearWait();
                                       done();
                                   }));
        Wait(kReplyTimeoutMs, QStringLiteral("模块未确认写入"));
        window_.txtsetValue(0)->setText(calibration::CoefficientText(value));
        emit WriteSent(value);
        window_.cmdSet_Click(0);
    });
}
