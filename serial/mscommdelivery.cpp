// MSComm's one way in, for the serial port and the socket alike: the bytes the open port's
// device hands over, through the echo filter into the buffer, and the events they raise,
// delivered from the event loop one per turn.

#include "mscomm.h"

#include <QMetaObject>

#include <algorithm>
#include <utility>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

// Nothing is read from a device lost, or from one not in use.
void MSComm::TakeIncoming() {
    if (!line_)
        return;
    const QByteArray chunk = line_->readAll();
    if (chunk.isEmpty())
        return;
    emptiedSinceRead_ = false;
    PostLineErrors();
    Keep(echo_.Take(chunk));
    FollowEcho();
    PostReceiveIfDue();
}

void MSComm::Keep(const QByteArray &bytes) {
    const qsizetype room = kInBufferSize - buffer_.size();
    buffer_.append(bytes.first(std::min(room, bytes.size())));
    if (bytes.size() > room && !overflowRaised_) {
        overflowRaised_ = true;
        Post(ReceiveOverflow);
    }
}

// Each piece held back is a copy still coming: the quiet timer starts again with it.
void MSComm::FollowEcho() {
    if (echo_.Waiting())
        echoQuiet_.start();
    else
        echoQuiet_.stop();
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
    constexpr std::pair<std::uint32_t LineCounters::*, Event> kCounted[] = {
        {&LineCounters::breaks, Break},
        {&LineCounters::framing, Framing},
        {&LineCounters::parity, Parity},
        {&LineCounters::overrun, Overrun},
    };
    std::vector<Event> events;
    for (const auto &[count, event] : kCounted) {
        if (after.*count != before.*count)
            events.push_back(event);
    }
    return events;
}

// A damaged byte arrives as data too, so looking after each read catches every error.
void MSComm::PostLineErrors() {
    if (line_ != serial_ || !lineCounts_)
        return;
    const auto now = ReadLineCounters(serial_);
    if (!now)
        return;
    for (Event event : LineErrorEvents(*lineCounts_, *now))
        Post(event);
    lineCounts_ = now;
}

// The buffer was read or emptied: the next bytes may raise events of their own. A Receive
// still waiting is judged again when its turn comes.
void MSComm::BufferEmptied() {
    receiveRaised_ = false;
    overflowRaised_ = false;
}

void MSComm::PostReceiveIfDue() {
    if (!line_)
        return; // bytes left from a lost device raise nothing new
    if (!receiveRaised_ && rThreshold_ > 0 && buffer_.size() >= rThreshold_) {
        receiveRaised_ = true;
        if (std::find(pending_.begin(), pending_.end(), Receive) == pending_.end())
            Post(Receive);
    }
}

void MSComm::Post(Event event) {
    pending_.push_back(event);
    Schedule();
}

void MSComm::setEventsHeld(bool held) {
    held_ = held;
    Schedule();
}

void MSComm::Schedule() {
    if (scheduled_ || held_ || pending_.empty())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, &MSComm::DeliverNext, Qt::QueuedConnection);
}

// A Receive raises OnComm only if the buffer holds the threshold now: bytes emptied or a
// threshold changed while it waited leave nothing stale to report.
void MSComm::DeliverNext() {
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
    Schedule();
}
