#include "tcpline.h"

#include "tcpaddress.h"

#include <QMetaObject>
#include <QTcpSocket>

#include <optional>

TcpLine::TcpLine(QObject *parent) : QObject(parent), socket_(new QTcpSocket(this)) {
    connect(socket_, &QTcpSocket::connected, this, &TcpLine::SocketConnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &TcpLine::SocketError);
    timeout_.setSingleShot(true);
    timeout_.setInterval(kConnectTimeoutMs);
    connect(&timeout_, &QTimer::timeout, this, [this] { GiveUp(Failure::TimedOut); });
}

bool TcpLine::Connect(const QString &address) {
    const std::optional<TcpAddress> to = ParseTcpAddress(address);
    if (!to)
        return false;
    connecting_ = true;
    target_ = to->Text();
    failure_ = Failure::None;
    failureText_.clear();
    timeout_.start();
    // A refusal may be reported inside this call; it reaches Failed from the loop.
    socket_->connectToHost(to->host, to->port);
    return true;
}

void TcpLine::Close() {
    timeout_.stop();
    connecting_ = false;
    socket_->abort();
}

void TcpLine::SocketConnected() {
    if (!timeout_.isActive())
        return; // given up meanwhile
    timeout_.stop();
    connecting_ = false;
    // A request is small: without this the system may hold it back for a bigger packet.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit Connected();
}

// The errors of a connect; those of a connection are the control's.
void TcpLine::SocketError(QAbstractSocket::SocketError error) {
    if (!timeout_.isActive())
        return;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        GiveUp(Failure::Refused);
        break;
    case QAbstractSocket::HostNotFoundError:
        GiveUp(Failure::HostNotFound);
        break;
    case QAbstractSocket::SocketTimeoutError:
        GiveUp(Failure::TimedOut);
        break;
    default:
        GiveUp(Failure::Other, socket_->errorString());
        break;
    }
}

// Reported from the event loop, and only when nobody closed the line or began another
// connect meanwhile that is still undecided; until then the line still reads connecting.
void TcpLine::GiveUp(Failure why, const QString &text) {
    timeout_.stop();
    failure_ = why;
    failureText_ = text;
    socket_->abort();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!connecting_ || timeout_.isActive())
                return;
            connecting_ = false;
            emit Failed();
        },
        Qt::QueuedConnection);
}
