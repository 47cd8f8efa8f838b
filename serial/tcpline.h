#pragma once
// The serial control's network side: a COMn that stands for a serial device server
// ("tcp://HOST:PORT"). It owns the socket and its connect, which runs in the background and
// ends in Connected or Failed from the event loop, never inside Connect, within
// kConnectTimeoutMs. Once connected, the socket carries exactly what the serial line would,
// and what happens to the connection is the control's to handle.

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

class TcpLine : public QObject {
    Q_OBJECT
public:
    // How long a connect may take, the name lookup included.
    static constexpr int kConnectTimeoutMs = 3000;
    enum class Failure { None, Refused, TimedOut, HostNotFound, Other };

    explicit TcpLine(QObject *parent);

    QTcpSocket *Socket() const { return socket_; }
    // False when address is no tcp://HOST:PORT; otherwise the attempt has begun.
    bool Connect(const QString &address);
    // Gives up the connection or the attempt, without a word.
    void Close();
    // From Connect until Connected or Failed is emitted.
    bool Connecting() const { return connecting_; }
    // The address of the last connect begun, and why it failed.
    QString Target() const { return target_; }
    Failure LastFailure() const { return failure_; }
    QString FailureText() const { return failureText_; }

signals:
    void Connected();
    void Failed();

private:
    void SocketConnected();
    void SocketError(QAbstractSocket::SocketError error);
    void GiveUp(Failure why, const QString &text = {});

    QTcpSocket *socket_;
    QTimer timeout_; // runs while the attempt is undecided
    bool connecting_ = false;
    QString target_;
    Failure failure_ = Failure::None;
    QString failureText_;
};
