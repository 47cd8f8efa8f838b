#pragma once
// MSComm: the serial communications control of the window, the only code that touches
// QSerialPort, and QTcpSocket for a COMn that stands for a serial device server
// ("tcp://HOST:PORT", see portdevice.h): the same raw RTU bytes, the same events. It keeps the
// published properties of a classic comm control (CommPort, Settings, PortOpen, InputMode,
// InputLen, InBufferCount, OutBufferCount, SThreshold, RThreshold, Output, Input, CommEvent) and
// raises OnComm on the owner's thread.
//
// Opening the port chooses the device, the serial port or the socket (see TcpLine); from then
// on both go through one path: bytes read into one buffer, events queued, a loss handled once.
//
// Its events are delivered from the event loop, one per turn, never from inside the
// property write that raised them, so OnComm runs between handlers as the window expects.
// While they are held (a message box is open) they wait and the bytes behind them stay
// buffered. Beneath them it takes out what an RS-485 adapter that echoes its own
// transmission hands back (see EchoFilter).

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include "echofilter.h"
#include "portdevice.h"
#include "tcpline.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class MSComm : public QObject {
    Q_OBJECT
public:
    // Codes read from commEvent() inside OnComm. Only Receive means "the receive threshold
    // was reached"; the others report trouble on the line.
    enum Event : std::int16_t {
        NoEvent = 0,
        Receive = 2,
        // Line errors, read from the driver's counters where it keeps them.
        Break = 1001,
        Framing = 1004,
        Overrun = 1006,
        ReceiveOverflow = 1008, // the input buffer was full and bytes were dropped
        Parity = 1009,
        TransmitFault = 1010,
        DeviceLost = 1011, // the device disappeared; the port has been closed
    };

    // Bytes kept for the program; what arrives beyond them is dropped and reported.
    static constexpr qsizetype kInBufferSize = 64 * 1024;
    static constexpr int kConnectTimeoutMs = TcpLine::kConnectTimeoutMs;
    // Why a network port did not connect; read inside ConnectFailed.
    using ConnectFailure = TcpLine::Failure;

    // place: where the COMn links are looked for.
    explicit MSComm(SettingsPlace place, QObject *parent = nullptr);

    // kFirstPort to kLastPort; refused while the port is open.
    bool setCommPort(std::int16_t port);
    std::int16_t commPort() const { return commPort_; }

    // The line is always N,8,1, so only the rate is set; applied at once when the port is
    // open. settings() gives the whole text, "9600,N,8,1".
    bool setSettings(std::int32_t baudRate);
    QString settings() const;

    // Opening fails when the device is missing, not permitted or taken by another program;
    // the port then stays closed and false is returned. PortOpenChanged tells every change.
    // A network port connects in the background: true means the attempt has begun, the port
    // reads connecting and not open, and either PortOpenChanged(true) or ConnectFailed
    // follows from the event loop, within kConnectTimeoutMs.
    bool setPortOpen(bool open);
    bool portOpen() const { return line_ != nullptr; }
    bool portConnecting() const { return tcp_->Connecting(); }
    // The address of the last network connect begun ("tcp://HOST:PORT"), and why it failed.
    QString connectTarget() const { return tcp_->Target(); }
    ConnectFailure connectFailure() const { return tcp_->LastFailure(); }
    QString connectErrorText() const { return tcp_->FailureText(); }

    // 0 text, 1 binary; input() returns the bytes as they came either way.
    bool setInputMode(std::int16_t mode) { return mode == 0 || mode == 1; }
    // 0: input() returns every buffered byte; n: at most n.
    bool setInputLen(std::int16_t length);
    // Only 0 is accepted: discards unread input, the system's and Qt's buffers included.
    bool setInBufferCount(std::int16_t count);
    qsizetype inBufferCount() const { return buffer_.size(); }
    // Only 0 is accepted: discards bytes not yet transmitted.
    bool setOutBufferCount(std::int16_t count);
    // Transmit events are never raised; 0 is the only value the program writes.
    bool setSThreshold(std::int16_t threshold) { return threshold >= 0; }
    // n > 0: a Receive event once at least n bytes are buffered; 0: none.
    bool setRThreshold(std::int16_t threshold);
    std::int16_t rThreshold() const { return rThreshold_; }

    bool setOutput(const QByteArray &bytes);
    QByteArray input();
    std::int16_t commEvent() const { return commEvent_; }

    // Events wait while held; set by whoever knows that a message box is open.
    void setEventsHeld(bool held);

    // The adapter on the open port hands back every request before the reply, and those
    // copies are taken out. Off whenever the port is opened; recognised by itself.
    bool echoMode() const { return echo_.EchoMode() && portOpen(); }

    // A device opened by its own name ("/dev/ttyUSB0", "COM20", "tcp://HOST:PORT") instead
    // of a port number, for a search of every device; empty goes back to the port number.
    // Refused while open.
    bool setDevicePath(const QString &path);

    // Line errors as the driver counts them: Qt's serial port does not report them, so the
    // counts are compared after each read. Only Linux drivers keep them (UARTs and most USB
    // adapters, not pseudo-terminals); elsewhere there are none to read.
    struct LineCounters {
        std::uint32_t breaks = 0;
        std::uint32_t framing = 0;
        std::uint32_t parity = 0;
        std::uint32_t overrun = 0;
    };
    static std::optional<LineCounters> ReadLineCounters(QSerialPort *port);
    // One event for each count that changed, in the order above.
    static std::vector<Event> LineErrorEvents(const LineCounters &before,
                                              const LineCounters &after);

signals:
    void OnComm();
    // The port opened, was closed, or its lost device was closed; once for each change.
    void PortOpenChanged(bool open);
    // A network port did not connect; the port is closed and no longer connecting.
    void ConnectFailed();

private:
    bool ApplySettings();
    void Opened(QIODevice *line);
    void CloseDevices();
    void CloseAndForget();
    void TakeIncoming();
    void Keep(const QByteArray &bytes);
    void FollowEcho();
    void HandleError(QSerialPort::SerialPortError error);
    void Lose(QIODevice *device);
    void CloseLost();
    void BufferEmptied();
    void PostLineErrors();
    void PostReceiveIfDue();
    void Post(Event event);
    void Schedule();
    void DeliverNext();

    SettingsPlace place_;
    QSerialPort *serial_;
    TcpLine *tcp_;
    QIODevice *line_ = nullptr; // the device of the open port: serial_ or tcp_'s socket
    bool lost_ = false;         // the device was lost and waits to be closed
    std::int16_t commPort_ = 1;
    QString devicePath_;
    std::int32_t baudRate_ = 9600;
    std::int16_t inputLen_ = 0;
    std::int16_t rThreshold_ = 0;
    std::int16_t commEvent_ = NoEvent;

    QByteArray buffer_;
    bool receiveRaised_ = false; // a Receive is waiting, or was raised, for the bytes buffered
    bool overflowRaised_ = false;
    bool emptiedSinceRead_ = false; // see HandleError
    std::optional<LineCounters> lineCounts_;

    std::deque<Event> pending_; // in the order raised; a Receive is judged when its turn comes
    bool held_ = false;
    bool scheduled_ = false;
    bool delivering_ = false; // an OnComm handler that runs a modal loop must not nest

    EchoFilter echo_;
    QTimer echoQuiet_; // runs while the filter waits for the rest of a copy
};
