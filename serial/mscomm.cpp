#include "mscomm.h"

#include <QMetaObject>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <utility>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

// Longer than any pause inside one frame from a USB adapter or a pseudo-terminal.
constexpr std::chrono::milliseconds kEchoQuiet{100};

} // namespace

MSComm::MSComm(SettingsPlace place, QObject *parent)
    : QObject(parent), place_(std::move(place)), port_(new QSerialPort(this)),
      socket_(new QTcpSocket(this)) {
    connect(port_, &QSerialPort::readyRead, this, &MSComm::takeIncoming);
    connect(port_, &QSerialPort::errorOccurred, this, &MSComm::handleError);
    ConnectSocket();
    echoQuiet_.setSingleShot(true);
    echoQuiet_.setInterval(kEchoQuiet);
    connect(&echoQuiet_, &QTimer::timeout, this, [this] {
        keep(echo_.QuietTimeout());
        followEcho();
        postReceiveIfDue();
    });
}

// The socket, a child, goes after this object's members: it must not report its closing.
MSComm::~MSComm() {
    disconnect(socket_, nullptr, this, nullptr);
}

bool MSComm::setCommPort(std::int16_t port) {
    if (port < kFirstPort || port > kLastPort || portOpen() || connecting_)
        return false;
    commPort_ = port;
    return true;
}

bool MSComm::setSettings(std::int32_t baudRate) {
    if (baudRate <= 0)
        return false;
    const std::int32_t previous = std::exchange(baudRate_, baudRate);
    if (portOpen() && !applySettings()) {
        baudRate_ = previous;
        applySettings();
        return false;
    }
    return true;
}

QString MSComm::settings() const {
    return QStringLiteral("%1,N,8,1").arg(baudRate_);
}

bool MSComm::applySettings() {
    if (tcp_)
        return true; // the server's serial side is set up on the server
    return port_->setBaudRate(baudRate_) && port_->setDataBits(QSerialPort::Data8) &&
           port_->setParity(QSerialPort::NoParity) && port_->setStopBits(QSerialPort::OneStop) &&
           port_->setFlowControl(QSerialPort::NoFlowControl);
}

bool MSComm::portOpen() const {
    return (tcp_ ? connected_ : port_->isOpen()) && !deviceLost_;
}

bool MSComm::setDevicePath(const QString &path) {
    if (portOpen() || connecting_)
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
    if (const QString name = deviceName(); IsTcpText(name))
        return OpenTcp(name);
    port_->setPortName(deviceName());
    if (!port_->open(QIODevice::ReadWrite))
        return false;
    if (!applySettings()) {
        port_->close();
        return false;
    }
    port_->clear(QSerialPort::AllDirections);
    lineCounts_ = ReadLineCounters(port_);
    announceOpen(true);
    return true;
}

void MSComm::closeAndForget() {
    if (port_->isOpen())
        port_->close();
    CloseTcp();
    deviceLost_ = false;
    emptiedSinceRead_ = false;
    buffer_.clear();
    bufferEmptied();
    echo_.Reset();
    followEcho();
    announceOpen(false);
}

void MSComm::announceOpen(bool open) {
    if (open == announcedOpen_)
        return;
    announcedOpen_ = open;
    emit PortOpenChanged(open);
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
    if (portOpen() && tcp_) {
        socket_->readAll(); // what the connection has delivered so far
    } else if (portOpen()) {
        port_->clear(QSerialPort::Input);
        emptiedSinceRead_ = true;
        port_->readAll(); // anything Qt still holds
    }
    buffer_.clear();
    bufferEmptied();
    echo_.Emptied();
    followEcho();
    return true;
}

bool MSComm::setOutBufferCount(std::int16_t count) {
    if (count != 0)
        return false;
    if (portOpen() && !tcp_) // what a socket was given is on its way already
        port_->clear(QSerialPort::Output);
    return true;
}

bool MSComm::setRThreshold(std::int16_t threshold) {
    if (threshold < 0)
        return false;
    rThreshold_ = threshold;
    if (threshold == 0 || buffer_.size() < threshold)
        receiveRaised_ = false; // reaching the new threshold raises again
    postReceiveIfDue();
    return true;
}

bool MSComm::setOutput(const QByteArray &bytes) {
    if (!portOpen())
        return false;
    if (Line()->write(bytes) != bytes.size())
        return false;
    // Hand the request to the driver now, not at the next loop turn.
    if (tcp_)
        socket_->flush();
    else
        port_->flush();
    echo_.Sent(bytes);
    followEcho();
    return true;
}

QByteArray MSComm::input() {
    if (portOpen())
        takeIncoming();
    const qsizetype n =
        inputLen_ == 0 ? buffer_.size() : std::min<qsizetype>(inputLen_, buffer_.size());
    QByteArray out = buffer_.first(n);
    buffer_.remove(0, n);
    bufferEmptied();
    postReceiveIfDue(); // what InputLen left behind may reach the threshold again
    return out;
}

void MSComm::takeIncoming() {
    if (deviceLost_)
        return;
    const QByteArray chunk = Line()->readAll();
    if (chunk.isEmpty())
        return;
    emptiedSinceRead_ = false;
    postLineErrors();
    keep(echo_.Take(chunk));
    followEcho();
    postReceiveIfDue();
}

void MSComm::keep(const QByteArray &bytes) {
    const qsizetype room = kInBufferSize - buffer_.size();
    buffer_.append(bytes.first(std::min(room, bytes.size())));
    if (bytes.size() > room && !overflowRaised_) {
        overflowRaised_ = true;
        post(ReceiveOverflow);
    }
}

// Each piece held back is a copy still coming: the quiet timer starts again with it.
void MSComm::followEcho() {
    if (echo_.Waiting())
        echoQuiet_.start();
    else
        echoQuiet_.stop();
}

// Every error Qt reports on an open port, in one place.
void MSComm::handleError(QSerialPort::SerialPortError error) {
    if (!port_->isOpen() || deviceLost_)
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
    case QSerialPort::ResourceError:
        // Unplugged, or the other end of a pseudo-terminal closed. Qt would go on reporting
        // it in a tight loop, so the port reads closed from now on and is closed once control
        // is back in the event loop: closing it inside Qt's own notification is not safe. A
        // reply that had already arrived is still delivered, before the loss.
        deviceLost_ = true;
        post(DeviceLost);
        QMetaObject::invokeMethod(this, &MSComm::closeLost, Qt::QueuedConnection);
        break;
    case QSerialPort::WriteError:
        post(TransmitFault);
        break;
    default: // open() failures are reported by its result
        break;
    }
    port_->clearError();
}

// The lost device is closed here, back in the event loop, unless the program closed or
// opened the port again in the meantime.
void MSComm::closeLost() {
    if (!deviceLost_ || !(tcp_ ? connected_ : port_->isOpen()))
        return;
    if (tcp_)
        CloseTcp();
    else
        port_->close();
    announceOpen(false);
}

std::optional<MSComm::LineCounters> MSComm::ReadLineCounters(QSerialPort *port) {
#ifdef Q_OS_LINUX
    serial_icounter_struct counts{};
    if (!port->isOpen() || ::ioctl(port->handle(), TIOCGICOUNT, &counts) != 0)
        return std::nullopt; // pseudo-terminals and some adapters keep no counters
    return LineCounters{static_cast<std::uint32_t>(counts.brk),
                        static_cast<std::uint32_t>(counts.frame),
                        static_cast<std::uint32_t>(counts.parity),
                        static_cast<std::uint32_t>(counts.overrun + counts.buf_overrun)};
#else
    Q_UNUSED(port);
    return std::nullopt;
#endif
}

std::vector<MSComm::Event> MSComm::LineErrorEvents(const LineCounters &before,
                                                   const LineCounters &after) {
    // The driver's counters only grow (modulo wrap-around), so any change is a new error.
    std::vector<Event> events;
    if (after.breaks != before.breaks)
        events.push_back(Break);
    if (after.framing != before.framing)
        events.push_back(Framing);
    if (after.parity != before.parity)
        events.push_back(Parity);
    if (after.overrun != before.overrun)
        events.push_back(Overrun);
    return events;
}

// A damaged byte arrives as data too, so looking after each read catches every error.
void MSComm::postLineErrors() {
    if (!lineCounts_)
        return;
    const auto now = ReadLineCounters(port_);
    if (!now)
        return;
    for (Event event : LineErrorEvents(*lineCounts_, *now))
        post(event);
    lineCounts_ = now;
}

// The buffer was read or emptied: the next bytes may raise events of their own. A Receive
// still waiting is judged again when its turn comes.
void MSComm::bufferEmptied() {
    receiveRaised_ = false;
    overflowRaised_ = false;
}

void MSComm::postReceiveIfDue() {
    if (!portOpen())
        return; // bytes left from a lost device raise nothing new
    if (!receiveRaised_ && rThreshold_ > 0 && buffer_.size() >= rThreshold_) {
        receiveRaised_ = true;
        if (std::find(pending_.begin(), pending_.end(), Receive) == pending_.end())
            post(Receive);
    }
}

void MSComm::post(Event event) {
    pending_.push_back(event);
    schedule();
}

void MSComm::setEventsHeld(bool held) {
    held_ = held;
    schedule();
}

void MSComm::schedule() {
    if (scheduled_ || held_ || pending_.empty())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(
        this, [this] { deliverNext(); }, Qt::QueuedConnection);
}

// A Receive raises OnComm only if the buffer holds the threshold now: bytes emptied or a
// threshold changed while it waited leave nothing stale to report.
void MSComm::deliverNext() {
    scheduled_ = false;
    if (delivering_ || held_ || pending_.empty())
        return;
    const Event event = pending_.front();
    pending_.pop_front();
    if (event == Receive && (rThreshold_ == 0 || buffer_.size() < rThreshold_)) {
        receiveRaised_ = false;
    } else {
        commEvent_ = event;
        delivering_ = true;
        emit OnComm();
        delivering_ = false;
    }
    schedule();
}
