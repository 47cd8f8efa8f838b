#include "mscomm.h"

#include "linesettings.h"
#include "portloss.h"
#include "portmap.h"

#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Longer than any pause inside one frame from a USB adapter or a pseudo-terminal.
constexpr std::chrono::milliseconds kEchoQuiet{100};

// Function 3 and the module's address read: a reply to either starts with a byte count or
// an address where the request has a register address, so it never repeats the request.
bool IsReadRequest(const QByteArray &request) {
    return request.size() > 1 && (request[1] == 0x03 || request[1] == 0x25);
}

} // namespace

MSComm::MSComm(SettingsPlace place, QObject *parent)
    : QObject(parent), place_(std::move(place)), port_(new QSerialPort(this)),
      events_(this, [this](std::int16_t event) {
          commEvent_ = event;
          emit OnComm();
      }) {
    connect(port_, &QSerialPort::readyRead, this, &MSComm::takeIncoming);
    connect(port_, &QSerialPort::errorOccurred, this, &MSComm::onPortError);
    echoQuiet_.setSingleShot(true);
    echoQuiet_.setInterval(kEchoQuiet);
    connect(&echoQuiet_, &QTimer::timeout, this, [this] {
        keep(endEchoCheck());
        raiseIfThresholdReached();
    });
}

MSComm::~MSComm() = default;

bool MSComm::setCommPort(std::int16_t port) {
    if (port < 1 || port > 16 || portOpen())
        return false;
    commPort_ = port;
    return true;
}

bool MSComm::setSettings(const QString &settings) {
    if (!ParseLineSettings(settings))
        return false;
    const QString previous = std::exchange(settings_, settings);
    if (portOpen() && !applySettings()) {
        settings_ = previous;
        applySettings();
        return false;
    }
    return true;
}

bool MSComm::applySettings() {
    const auto s = ParseLineSettings(settings_);
    if (!s)
        return false;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    switch (s->parity) {
    case 'E':
        parity = QSerialPort::EvenParity;
        break;
    case 'O':
        parity = QSerialPort::OddParity;
        break;
    case 'M':
        parity = QSerialPort::MarkParity;
        break;
    case 'S':
        parity = QSerialPort::SpaceParity;
        break;
    default:
        break;
    }
    return port_->setBaudRate(s->baudRate) &&
           port_->setDataBits(static_cast<QSerialPort::DataBits>(s->dataBits)) &&
           port_->setParity(parity) &&
           port_->setStopBits(s->stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
           port_->setFlowControl(QSerialPort::NoFlowControl);
}

bool MSComm::portOpen() const {
    return port_->isOpen() && !deviceLost_;
}

bool MSComm::setDevicePath(const QString &path) {
    if (portOpen())
        return false;
    devicePath_ = path;
    return true;
}

QString MSComm::deviceName() const {
    return devicePath_.isEmpty() ? PortDevice(commPort_, place_) : devicePath_;
}

bool MSComm::setPortOpen(bool open) {
    if (!open) {
        closeAndForget();
        return true;
    }
    if (portOpen())
        return false;
    closeAndForget(); // a lost device may still be half open
    port_->setPortName(deviceName());
    if (!port_->open(QIODevice::ReadWrite))
        return false;
    if (!applySettings()) {
        port_->close();
        return false;
    }
    port_->clear(QSerialPort::AllDirections);
    lineErrors_.start(port_->handle());
    return true;
}

void MSComm::closeAndForget() {
    if (port_->isOpen())
        port_->close();
    deviceLost_ = false;
    emptiedSinceRead_ = false;
    buffer_.clear();
    forgetRaisedEvents();
    echoQuiet_.stop();
    echoMatched_ = -1;
    echoMode_ = false;
}

bool MSComm::setInputMode(std::int16_t mode) {
    if (mode != 0 && mode != 1)
        return false;
    inputMode_ = mode;
    return true;
}

bool MSComm::setInputLen(std::int16_t length) {
    if (length < 0)
        return false;
    inputLen_ = length;
    return true;
}

bool MSComm::setInBufferCount(std::int16_t count) {
    if (count != 0)
        return false;
    if (portOpen()) {
        port_->clear(QSerialPort::Input);
        emptiedSinceRead_ = true;
        port_->readAll(); // anything Qt still holds
    }
    buffer_.clear();
    forgetRaisedEvents();
    if (echoMatched_ > 0) { // the start of a copy is gone: its rest cannot be told apart
        echoQuiet_.stop();
        echoMatched_ = -1;
    }
    return true;
}

bool MSComm::setOutBufferCount(std::int16_t count) {
    if (count != 0)
        return false;
    if (portOpen())
        port_->clear(QSerialPort::Output);
    return true;
}

bool MSComm::setSThreshold(std::int16_t threshold) {
    if (threshold < 0)
        return false;
    sThreshold_ = threshold;
    return true;
}

bool MSComm::setRThreshold(std::int16_t threshold) {
    if (threshold < 0)
        return false;
    rThreshold_ = threshold;
    if (threshold == 0 || buffer_.size() < threshold) {
        // An event still waiting (a message box is open) would report a threshold that no
        // longer holds; 0 means no receive events at all.
        receiveRaised_ = false;
        events_.withdraw(Receive);
    }
    raiseIfThresholdReached();
    return true;
}

bool MSComm::setOutput(const QByteArray &bytes) {
    if (!portOpen())
        return false;
    if (port_->write(bytes) != bytes.size())
        return false;
    port_->flush(); // hand the request to the driver now, not at the next loop turn
    echoQuiet_.stop();
    sent_ = bytes;
    sentReads_ = IsReadRequest(bytes);
    echoMatched_ = bytes.isEmpty() ? -1 : 0;
    return true;
}

QByteArray MSComm::input() {
    if (portOpen())
        takeIncoming();
    const qsizetype n =
        inputLen_ == 0 ? buffer_.size() : std::min<qsizetype>(inputLen_, buffer_.size());
    QByteArray out = buffer_.first(n);
    buffer_.remove(0, n);
    forgetRaisedEvents();
    raiseIfThresholdReached(); // what InputLen left behind may reach the threshold again
    return out;
}

void MSComm::takeIncoming() {
    if (deviceLost_)
        return;
    const QByteArray chunk = port_->readAll();
    if (chunk.isEmpty())
        return;
    emptiedSinceRead_ = false;
    postLineErrors();
    keep(takeEcho(chunk));
    raiseIfThresholdReached();
}

void MSComm::keep(const QByteArray &bytes) {
    const qsizetype room = kInBufferSize - buffer_.size();
    buffer_.append(bytes.first(std::min(room, bytes.size())));
    if (bytes.size() > room && !overflowRaised_) {
        overflowRaised_ = true;
        post(ReceiveOverflow);
    }
}

// The first bytes after a request are compared with it, in whatever pieces they come, and
// held back while they match. A whole copy after a read request is the adapter's echo: the
// port is then in echo mode and the copy goes. In echo mode the copy after a write goes
// too; the module's reply, which repeats a write, follows it. Otherwise a write's copy is
// the module's reply and stays. Returns what the program is to see.
QByteArray MSComm::takeEcho(const QByteArray &chunk) {
    if (echoMatched_ < 0)
        return chunk;
    const qsizetype n = std::min(chunk.size(), sent_.size() - echoMatched_);
    if (chunk.first(n) != sent_.sliced(echoMatched_, n))
        return endEchoCheck() + chunk;
    echoMatched_ += n;
    if (echoMatched_ < sent_.size()) {
        echoQuiet_.start();
        return {};
    }
    echoQuiet_.stop();
    echoMatched_ = -1;
    echoMode_ = echoMode_ || sentReads_;
    return echoMode_ ? chunk.sliced(n) : sent_ + chunk.sliced(n);
}

// No copy came: what matched so far is handed on, and a read's reply has shown that the
// adapter does not echo (any more).
QByteArray MSComm::endEchoCheck() {
    echoQuiet_.stop();
    const QByteArray held = sent_.first(echoMatched_);
    echoMatched_ = -1;
    echoMode_ = echoMode_ && !sentReads_;
    return held;
}

void MSComm::onPortError(QSerialPort::SerialPortError error) {
    // clearError() below reports NoError again.
    if (error == QSerialPort::NoError || !port_->isOpen() || deviceLost_)
        return;
    switch (JudgePortError(error, emptiedSinceRead_)) {
    case PortTrouble::ExplainedReadFailure:
        emptiedSinceRead_ = false;
        break;
    case PortTrouble::Lost:
        markLost();
        break;
    case PortTrouble::TransmitFault:
        post(TransmitFault);
        break;
    case PortTrouble::None:
        break;
    }
    port_->clearError();
}

// Qt would go on reporting a lost device in a tight loop, so the port reads closed from now
// on and is closed as soon as control is back in the event loop: closing it inside Qt's own
// notification is not safe. A reply that had already arrived is still delivered, before
// the loss.
void MSComm::markLost() {
    deviceLost_ = true;
    post(DeviceLost);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (deviceLost_ && port_->isOpen())
                port_->close();
        },
        Qt::QueuedConnection);
}

void MSComm::postLineErrors() {
    // Indexed by LineError.
    static constexpr Event kEvents[] = {Break, Framing, Parity, Overrun};
    for (LineError error : lineErrors_.newErrors(port_->handle()))
        post(kEvents[static_cast<int>(error)]);
}

void MSComm::raiseIfThresholdReached() {
    if (!portOpen())
        return; // bytes left from a lost device raise nothing new
    if (!receiveRaised_ && rThreshold_ > 0 && buffer_.size() >= rThreshold_) {
        receiveRaised_ = true;
        post(Receive);
    }
}

// The buffer was read or emptied: the next bytes may raise events of their own, and a
// Receive event must not arrive afterwards for bytes that are no longer there.
void MSComm::forgetRaisedEvents() {
    receiveRaised_ = false;
    overflowRaised_ = false;
    events_.withdraw(Receive);
}

MSComm::EventHold::EventHold(MSComm *comm) : comm_(comm) {
    if (comm_)
        comm_->events_.hold();
}

MSComm::EventHold::EventHold(EventHold &&other) noexcept : comm_(std::exchange(other.comm_, {})) {}

MSComm::EventHold::~EventHold() {
    if (comm_)
        comm_->events_.release();
}
