#include "mscomm.h"

#include <QMetaObject>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Longer than any pause inside one frame from a USB adapter or a pseudo-terminal.
constexpr std::chrono::milliseconds kEchoQuiet{100};

} // namespace

MSComm::MSComm(SettingsPlace place, QObject *parent)
    : QObject(parent), place_(std::move(place)), serial_(new QSerialPort(this)),
      tcp_(new TcpLine(this)) {
    QTcpSocket *socket = tcp_->Socket();
    connect(serial_, &QSerialPort::readyRead, this, &MSComm::TakeIncoming);
    connect(socket, &QTcpSocket::readyRead, this, &MSComm::TakeIncoming);
    connect(serial_, &QSerialPort::errorOccurred, this, &MSComm::HandleError);
    // Closed by the peer, reset, the network gone: whatever it is, the connection is over.
    // Before it is up, its errors are TcpLine's and the port is not open to lose.
    const auto connectionGone = [this, socket] { Lose(socket); };
    connect(socket, &QTcpSocket::errorOccurred, this, connectionGone);
    connect(socket, &QTcpSocket::disconnected, this, connectionGone);
    connect(tcp_, &TcpLine::Connected, this, [this] { Opened(tcp_->Socket()); });
    connect(tcp_, &TcpLine::Failed, this, &MSComm::ConnectFailed);
    echoQuiet_.setSingleShot(true);
    echoQuiet_.setInterval(kEchoQuiet);
    connect(&echoQuiet_, &QTimer::timeout, this, [this] {
        Keep(echo_.QuietTimeout());
        FollowEcho();
        PostReceiveIfDue();
    });
}

bool MSComm::setCommPort(std::int16_t port) {
    if (port < kFirstPort || port > kLastPort || portOpen() || portConnecting())
        return false;
    commPort_ = port;
    return true;
}

bool MSComm::setSettings(std::int32_t baudRate) {
    if (baudRate <= 0)
        return false;
    const std::int32_t previous = std::exchange(baudRate_, baudRate);
    if (line_ == serial_ && !ApplySettings()) {
        baudRate_ = previous;
        ApplySettings();
        return false;
    }
    return true;
}

QString MSComm::settings() const {
    return QStringLiteral("%1,N,8,1").arg(baudRate_);
}

// The serial port only: a server's serial side is set up on the server.
bool MSComm::ApplySettings() {
    return serial_->setBaudRate(baudRate_) && serial_->setDataBits(QSerialPort::Data8) &&
           serial_->setParity(QSerialPort::NoParity) &&
           serial_->setStopBits(QSerialPort::OneStop) &&
           serial_->setFlowControl(QSerialPort::NoFlowControl);
}

bool MSComm::setDevicePath(const QString &path) {
    if (portOpen() || portConnecting())
        return false;
    devicePath_ = path;
    return true;
}

bool MSComm::setPortOpen(bool open) {
    if (open && portOpen())
        return false;
    CloseAndForget(); // a lost device may still be half open, a connect under way
    if (!open)
        return true;
    const QString device = devicePath_.isEmpty() ? PortDevice(commPort_, place_) : devicePath_;
    if (IsTcpText(device))
        return tcp_->Connect(device); // Opened once connected
    serial_->setPortName(device);
    if (!serial_->open(QIODevice::ReadWrite))
        return false;
    if (!ApplySettings()) {
        serial_->close();
        return false;
    }
    serial_->clear(QSerialPort::AllDirections);
    lineCounts_ = ReadLineCounters(serial_);
    Opened(serial_);
    return true;
}

void MSComm::Opened(QIODevice *line) {
    line_ = line;
    emit PortOpenChanged(true);
}

void MSComm::CloseDevices() {
    if (serial_->isOpen())
        serial_->close();
    tcp_->Close();
}

void MSComm::CloseAndForget() {
    // PortOpenChanged said "open" while a device is in use, or lost and not closed yet.
    const bool announcedOpen = line_ || lost_;
    line_ = nullptr;
    lost_ = false;
    CloseDevices();
    emptiedSinceRead_ = false;
    buffer_.clear();
    BufferEmptied();
    echo_.Reset();
    FollowEcho();
    if (announcedOpen)
        emit PortOpenChanged(false);
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
    if (line_ == serial_) { // a socket has no buffer of the system's to empty
        serial_->clear(QSerialPort::Input);
        emptiedSinceRead_ = true;
    }
    if (line_)
        line_->readAll(); // anything Qt still holds
    buffer_.clear();
    BufferEmptied();
    echo_.Emptied();
    FollowEcho();
    return true;
}

bool MSComm::setOutBufferCount(std::int16_t count) {
    if (count != 0)
        return false;
    if (line_ == serial_) // what a socket was given is on its way already
        serial_->clear(QSerialPort::Output);
    return true;
}

bool MSComm::setRThreshold(std::int16_t threshold) {
    if (threshold < 0)
        return false;
    rThreshold_ = threshold;
    if (threshold == 0 || buffer_.size() < threshold)
        receiveRaised_ = false; // reaching the new threshold raises again
    PostReceiveIfDue();
    return true;
}

bool MSComm::setOutput(const QByteArray &bytes) {
    if (!line_ || line_->write(bytes) != bytes.size())
        return false;
    // Hand the request to the driver now, not at the next loop turn; QIODevice has no flush.
    if (line_ == serial_)
        serial_->flush();
    else
        tcp_->Socket()->flush();
    echo_.Sent(bytes);
    FollowEcho();
    return true;
}

QByteArray MSComm::input() {
    TakeIncoming();
    const qsizetype n =
        inputLen_ == 0 ? buffer_.size() : std::min<qsizetype>(inputLen_, buffer_.size());
    QByteArray out = buffer_.first(n);
    buffer_.remove(0, n);
    BufferEmptied();
    PostReceiveIfDue(); // what InputLen left behind may reach the threshold again
    return out;
}

// Every error Qt reports on the open serial port, in one place.
void MSComm::HandleError(QSerialPort::SerialPortError error) {
    if (line_ != serial_)
        return;
    switch (error) {
    case QSerialPort::NoError: // clearError() below reports it again
        return;
    case QSerialPort::ReadError:
        // Bytes the event loop had seen waiting were emptied by InBufferCount before Qt read
        // them: its read finds nothing and fails once. A device that is really gone keeps
        // failing, and its next failure is the loss.
        if (emptiedSinceRead_) {
            emptiedSinceRead_ = false;
            break;
        }
        [[fallthrough]];
    case QSerialPort::ResourceError: // unplugged, or the other end of a pseudo-terminal closed
        Lose(serial_);
        break;
    case QSerialPort::WriteError:
        Post(TransmitFault);
        break;
    default: // open() failures are reported by its result
        break;
    }
    serial_->clearError();
}

// The device of the open port is gone. Qt would go on reporting it, in a tight loop for a
// serial port, so the port reads closed from now on and the device is closed once control is
// back in the event loop: closing it inside Qt's own notification is not safe. What had
// already arrived is still delivered, before the loss.
void MSComm::Lose(QIODevice *device) {
    if (line_ != device)
        return;
    TakeIncoming();
    line_ = nullptr;
    lost_ = true;
    Post(DeviceLost);
    QMetaObject::invokeMethod(this, &MSComm::CloseLost, Qt::QueuedConnection);
}

// Unless the program closed or opened the port again in the meantime.
void MSComm::CloseLost() {
    if (!lost_)
        return;
    lost_ = false;
    CloseDevices();
    emit PortOpenChanged(false);
}
