#pragma once
// MSComm: the serial communications control of the window, the only code that touches
// QSerialPort. It keeps the published properties of a classic comm control (CommPort,
// Settings, PortOpen, InputMode, InputLen, InBufferCount, OutBufferCount, SThreshold,
// RThreshold, Output, Input, CommEvent) and raises OnComm on the owner's thread.
// Its events go through an EventQueue (see there for why they wait). Beneath them it takes
// out what an RS-485 adapter that echoes its own transmission hands back (see takeEcho).

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include "eventqueue.h"
#include "linecounters.h"
#include "settingsdir.h"

#include <cstdint>

class MSComm : public QObject {
    Q_OBJECT
public:
    // Codes read from commEvent() inside OnComm. Only Receive means "the receive threshold
    // was reached"; the others report trouble on the line.
    enum Event : std::int16_t {
        NoEvent = 0,
        Receive = 2,
        // Line errors, read from the driver's counters where it keeps them (Linux UARTs
        // and most USB adapters; not pseudo-terminals).
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

    // place: where the COMn links are looked for.
    explicit MSComm(SettingsPlace place, QObject *parent = nullptr);
    ~MSComm() override;

    // 1 to 16; refused while the port is open.
    bool setCommPort(std::int16_t port);
    std::int16_t commPort() const { return commPort_; }

    // "9600,N,8,1"; applied at once when the port is open.
    bool setSettings(const QString &settings);
    QString settings() const { return settings_; }

    // Opening fails when the device is missing, not permitted or taken by another program;
    // the port then stays closed and false is returned.
    bool setPortOpen(bool open);
    bool portOpen() const;

    // 0 text, 1 binary; input() returns the bytes as they came either way.
    bool setInputMode(std::int16_t mode);
    std::int16_t inputMode() const { return inputMode_; }
    // 0: input() returns every buffered byte; n: at most n.
    bool setInputLen(std::int16_t length);
    // Only 0 is accepted: discards unread input, the system's and Qt's buffers included.
    bool setInBufferCount(std::int16_t count);
    qsizetype inBufferCount() const { return buffer_.size(); }
    // Only 0 is accepted: discards bytes not yet transmitted.
    bool setOutBufferCount(std::int16_t count);
    // Transmit events are never raised; 0 is the only value the program writes.
    bool setSThreshold(std::int16_t threshold);
    // n > 0: a Receive event once at least n bytes are buffered; 0: none.
    bool setRThreshold(std::int16_t threshold);
    std::int16_t rThreshold() const { return rThreshold_; }

    bool setOutput(const QByteArray &bytes);
    QByteArray input();
    std::int16_t commEvent() const { return commEvent_; }

    // The adapter on the open port hands back every request before the reply, and those
    // copies are taken out. Off whenever the port is opened; recognised by itself.
    bool echoMode() const { return echoMode_ && portOpen(); }

    // A device opened by its own name ("/dev/ttyUSB0", "COM20") instead of a port number,
    // for a search of every device; empty goes back to the port number. Refused while open.
    bool setDevicePath(const QString &path);

    // The device the port opens: the path given, else where the port number maps to.
    QString deviceName() const;

    class EventHold {
    public:
        explicit EventHold(MSComm *comm);
        EventHold(EventHold &&other) noexcept;
        EventHold(const EventHold &) = delete;
        EventHold &operator=(const EventHold &) = delete;
        EventHold &operator=(EventHold &&) = delete;
        ~EventHold();

    private:
        QPointer<MSComm> comm_;
    };
    [[nodiscard]] EventHold holdEvents() { return EventHold(this); }

signals:
    void OnComm();

private:
    void takeIncoming();
    void keep(const QByteArray &bytes);
    QByteArray takeEcho(const QByteArray &chunk);
    QByteArray endEchoCheck();
    void onPortError(QSerialPort::SerialPortError error);
    void markLost();
    bool applySettings();
    void closeAndForget();
    void postLineErrors();
    void raiseIfThresholdReached();
    void post(Event event) { events_.post(event); }
    void forgetRaisedEvents();

    SettingsPlace place_;
    QSerialPort *port_;
    std::int16_t commPort_ = 1;
    QString devicePath_;
    QString settings_ = QStringLiteral("9600,N,8,1");
    std::int16_t inputMode_ = 0;
    std::int16_t inputLen_ = 0;
    std::int16_t sThreshold_ = 0;
    std::int16_t rThreshold_ = 0;
    std::int16_t commEvent_ = NoEvent;

    QByteArray buffer_;
    bool receiveRaised_ = false; // a Receive event stands for the bytes now buffered
    bool overflowRaised_ = false;
    bool deviceLost_ = false;       // the port reads closed although Qt has not closed it yet
    bool emptiedSinceRead_ = false; // see JudgePortError
    LineErrorWatch lineErrors_;

    QByteArray sent_;            // the last request written
    bool sentReads_ = false;     // ...was a read, which its own bytes never answer
    qsizetype echoMatched_ = -1; // its bytes matched by the first ones back; -1: not comparing
    bool echoMode_ = false;
    QTimer echoQuiet_; // a copy that stops short is no copy
    EventQueue events_;
};
