#include "busline.h"

#include <QDateTime>

namespace bus {

modbus::Reading ReadingOf(const Answer &answer) {
    modbus::Reading reading;
    reading.time = answer.time;
    reading.device = answer.asked;
    reading.function = 3;
    reading.registers = {answer.judged.value};
    reading.value = answer.judged.value;
    reading.reply = answer.bytes;
    return reading;
}

BusLine::BusLine(std::function<bool(std::uint8_t)> send, QObject *parent)
    : QObject(parent), send_(std::move(send)) {
    wait_.setSingleShot(true);
    wait_.setTimerType(Qt::PreciseTimer);
    connect(&wait_, &QTimer::timeout, this, [this] {
        if (comm_ && comm_->inBufferCount() > 0)
            heard_ += comm_->input(); // fewer bytes than the threshold raised no event
        Judged judged = JudgeHeard(true);
        // Bytes the window's receiver has not handed on yet: something answered, and not
        // with one whole reply.
        if (unread_ && unread_() && judged.heard != Heard::Garbled)
            judged = {heard_.isEmpty() ? Heard::Short : Heard::Garbled};
        Finish(judged);
    });
}

BusLine::~BusLine() {
    Close();
}

void BusLine::Close() {
    Cancel();
    ready_ = false;
    if (comm_) { // closed at once, before the window's port opens the device again
        comm_->disconnect(this);
        comm_->setPortOpen(false);
    }
}

std::unique_ptr<BusLine> BusLine::OpenOwn(const SettingsPlace &place, std::int16_t port,
                                          std::int32_t rate, QString *failure) {
    auto line = std::make_unique<BusLine>(nullptr);
    auto *comm = new MSComm(place, line.get());
    line->comm_ = comm;
    line->rate_ = rate;
    comm->setCommPort(port);
    comm->setSettings(rate);
    // One receive event for an exception's length, then one for the rest of a reply (see
    // Hear), not one for each piece as the bytes come in.
    comm->setRThreshold(kExceptionLength);
    connect(comm, &MSComm::OnComm, line.get(), &BusLine::HandleComm);
    connect(comm, &MSComm::PortOpenChanged, line.get(), [raw = line.get()](bool open) {
        raw->ready_ = open;
        raw->Cancel();
        if (open)
            emit raw->Opened();
        else
            emit raw->Lost(QStringLiteral("串口已关闭或连接已断开"));
    });
    connect(comm, &MSComm::ConnectFailed, line.get(),
            [raw = line.get(), comm] { emit raw->Lost(comm->connectErrorText()); });
    if (!comm->setPortOpen(true)) {
        if (failure)
            *failure = QStringLiteral("无法打开 COM%1").arg(port);
        return nullptr;
    }
    line->ready_ = comm->portOpen(); // a network port connects in the background
    return line;
}

bool BusLine::SetRate(std::int32_t rate) {
    if (comm_ && !comm_->setSettings(rate))
        return false;
    rate_ = rate;
    return true;
}

void BusLine::Ask(std::uint8_t address, Patience patience) {
    Start(address, ReadRequest(address), false, patience);
}

void BusLine::AskRegister(std::uint8_t address, std::uint16_t reg) {
    Start(address, ReadRequest(address, reg), false, Patience::FirstReply);
}

void BusLine::Write(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
    Start(address, WriteRequest(address, reg, value), true, Patience::FirstReply);
}

Judged BusLine::JudgeHeard(bool final) const {
    return write_ ? JudgeEcho(request_, heard_, final) : Judge(asked_, heard_, final);
}

void BusLine::Start(std::uint8_t address, QByteArray request, bool write, Patience patience) {
    Cancel();
    asked_ = address;
    request_ = std::move(request);
    write_ = write;
    patience_ = patience;
    heard_.clear();
    completeMs_ = 0;
    asking_ = true;
    if (comm_)
        comm_->setRThreshold(kExceptionLength);
    since_.start();
    bool sent = false;
    if (comm_) {
        // After anything but a whole reply more may still be coming, and it is no answer to
        // this request; after a whole reply the line is quiet.
        if (unsettled_)
            comm_->setInBufferCount(0);
        sent = ready_ && comm_->setOutput(request_);
    } else {
        sent = ready_ && send_ && request_ == ReadRequest(address) && send_(address);
    }
    if (!sent) {
        wait_.start(0); // nothing went out, so nothing can come back
        return;
    }
    wait_.start(waitMs_ > 0 ? waitMs_ : WaitMs(rate_));
}

void BusLine::Cancel() {
    asking_ = false;
    wait_.stop();
}

void BusLine::Hear(const QByteArray &bytes) {
    if (!asking_)
        return; // nothing is asked: a late reply is no answer to anyone
    heard_ += bytes;
    const Judged judged = JudgeHeard(false);
    if (judged.heard == Heard::Incomplete) {
        if (comm_) // the next event when the rest of a reply is in
            comm_->setRThreshold(static_cast<std::int16_t>(ReplyLength() - heard_.size()));
        return;
    }
    if (comm_)
        comm_->setRThreshold(1); // whatever follows is heard at once: a second reply, noise
    if (completeMs_ == 0)
        completeMs_ = static_cast<double>(since_.nsecsElapsed()) / 1e6;
    // Only a checked answer ends the wait early: after anything else more may be coming,
    // and a request sent into it would have its reply spoilt too.
    const bool answer = judged.heard == Heard::Reply || judged.heard == Heard::Exception;
    if (patience_ == Patience::FirstReply && answer)
        Finish(judged);
}

void BusLine::Finish(Judged judged) {
    if (!asking_)
        return;
    asking_ = false;
    wait_.stop();
    unsettled_ = judged.heard != Heard::Reply && judged.heard != Heard::Exception;
    Answer answer;
    answer.asked = asked_;
    answer.judged = judged;
    answer.ms = completeMs_;
    answer.time = QDateTime::currentMSecsSinceEpoch();
    answer.bytes = heard_;
    emit Answered(answer);
}

void BusLine::HandleComm() {
    switch (comm_->commEvent()) {
    case MSComm::Receive:
        Hear(comm_->input());
        break;
    case MSComm::DeviceLost: // PortOpenChanged(false) tells the tool
        Cancel();
        break;
    default:
        break; // line errors: the bytes they spoil fail their check
    }
}

} // namespace bus
