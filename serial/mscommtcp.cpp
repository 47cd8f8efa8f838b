// MSComm's network side: a COMn that stands for a serial device server. The socket is
// connected in the background and, once connected, carries exactly what the serial line
// would; a connection that goes is a device lost.

#include "mscomm.h"

#include <QMetaObject>
#include <QTcpSocket>

void MSComm::ConnectSocket() {
    connect(socket_, &QTcpSocket::connected, this, &MSComm::SocketConnected);
    connect(socket_, &QTcpSocket::readyRead, this, &MSComm::takeIncoming);
    connect(socket_, &QTcpSocket::errorOccurred, this, &MSComm::SocketError);
    connect(socket_, &QTcpSocket::disconnected, this, &MSComm::SocketGone);
    connectTimeout_.setSingleShot(true);
    connectTimeout_.setInterval(kConnectTimeoutMs);
    connect(&connectTimeout_, &QTimer::timeout, this,
            [this] { GiveUpConnect(ConnectFailure::TimedOut); });
}

QIODevice *MSComm::Line() const {
    if (tcp_)
        return socket_;
    return port_;
}

bool MSComm::OpenTcp(const QString &address) {
    const std::optional<TcpAddress> to = ParseTcpAddress(address);
    if (!to)
        return false;
    tcp_ = true;
    connecting_ = true;
    target_ = to->Text();
    failure_ = ConnectFailure::None;
    failureText_.clear();
    connectTimeout_.start();
    // A refusal may be reported inside this call; it reaches ConnectFailed from the loop.
    socket_->connectToHost(to->host, to->port);
    return true;
}

// Gives up the connection or the attempt, without a word: the caller closed the port.
void MSComm::CloseTcp() {
    ++attempt_;
    connectTimeout_.stop();
    connecting_ = false;
    connected_ = false;
    failing_ = false;
    tcp_ = false;
    socket_->abort();
}

void MSComm::SocketConnected() {
    if (!connecting_ || failing_)
        return;
    connectTimeout_.stop();
    connecting_ = false;
    connected_ = true;
    // A request is small: without this the system may hold it back for a bigger packet.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    announceOpen(true);
}

// Every error the socket reports, in one place.
void MSComm::SocketError(QAbstractSocket::SocketError error) {
    if (connecting_) {
        switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            GiveUpConnect(ConnectFailure::Refused);
            break;
        case QAbstractSocket::HostNotFoundError:
            GiveUpConnect(ConnectFailure::HostNotFound);
            break;
        case QAbstractSocket::SocketTimeoutError:
            GiveUpConnect(ConnectFailure::TimedOut);
            break;
        default:
            GiveUpConnect(ConnectFailure::Other, socket_->errorString());
            break;
        }
        return;
    }
    // Closed by the peer, reset, the network gone: whatever it is, the connection is over.
    SocketGone();
}

// As an adapter pulled out (see handleError): what had arrived is still delivered, then
// DeviceLost, and the socket is closed once control is back in the event loop.
void MSComm::SocketGone() {
    if (!connected_ || deviceLost_)
        return;
    takeIncoming();
    deviceLost_ = true;
    post(DeviceLost);
    QMetaObject::invokeMethod(this, &MSComm::closeLost, Qt::QueuedConnection);
}

// Reported from the event loop, never inside setPortOpen, and only when nobody closed the
// port or opened it again meanwhile; until then the port still reads connecting.
void MSComm::GiveUpConnect(ConnectFailure why, const QString &text) {
    if (!connecting_ || failing_)
        return;
    failing_ = true;
    connectTimeout_.stop();
    failure_ = why;
    failureText_ = text;
    socket_->abort();
    const quint64 attempt = attempt_;
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            if (attempt != attempt_ || !failing_)
                return;
            failing_ = false;
            connecting_ = false;
            tcp_ = false;
            emit ConnectFailed();
        },
        Qt::QueuedConnection);
}
