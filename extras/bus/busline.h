#pragma once
// One line of modules, asked one read at a time: each Ask is answered once by Answered,
// with what came back judged (see busframe.h) and how long it took. The bytes go out either
// through the tool's own serial control, opened on the window's port (OpenOwn), or through
// whatever `send` the tool gives, which hands what it hears to Hear (the window's own send
// steps and receiver, so the window shows the traffic).

#include "busframe.h"
#include "modbus/reading.h"
#include "serial/mscomm.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace bus {

struct Answer {
    std::uint8_t asked = 0;
    Judged judged;
    double ms = 0;    // from the request written to the reply complete
    qint64 time = 0;  // when it was judged, milliseconds since the epoch (UTC)
    QByteArray bytes; // what was heard
};

// A reading's reply, as the window would announce it to a recording.
modbus::Reading ReadingOf(const Answer &answer);

class BusLine : public QObject {
    Q_OBJECT
public:
    // How long an Ask listens.
    enum class Patience {
        FirstReply, // until one reply's length is in: the overview's pace
        WholeWait,  // the whole wait, so that a second module's late reply is heard too
    };

    // send: puts the read of an address on the line; false when it could not.
    explicit BusLine(std::function<bool(std::uint8_t)> send, QObject *parent = nullptr);
    // The tool's own serial control on COMn of `place` at `rate`. Nothing when it is open
    // (a network port once connected: Opened follows), else why not.
    static std::unique_ptr<BusLine> OpenOwn(const SettingsPlace &place, std::int16_t port,
                                            std::int32_t rate, QString *failure);
    ~BusLine() override;

    // For a line carried by someone else's serial control: whether it holds bytes it has
    // not handed on, looked at when the wait ends.
    void SetUnread(std::function<bool()> unread) { unread_ = std::move(unread); }
    // The wait for a silent address; bus::WaitMs of the rate until set.
    void SetWaitMs(int ms) { waitMs_ = ms; }
    // Another rate on the own serial control; false when the device takes no such rate.
    bool SetRate(std::int32_t rate);
    std::int32_t Rate() const { return rate_; }
    bool Ready() const { return ready_; }

    // Asks `address` for its reading; what an earlier Ask still waits for is dropped first.
    void Ask(std::uint8_t address, Patience patience);
    // The same for another register, or a write of one (its echo is the answer, see
    // JudgeEcho), until the first answer: on the own serial control only, which sends
    // any request; a line carried by someone else's sends only the reading's.
    void AskRegister(std::uint8_t address, std::uint16_t reg);
    void Write(std::uint8_t address, std::uint16_t reg, std::uint16_t value);
    void Cancel();
    // The own serial control closed now, with nothing more told; the line may be deleted
    // later, from the event loop, when a signal of its own is being handled.
    void Close();
    bool Busy() const { return asking_; }
    // Bytes from the line, for the Ask waiting.
    void Hear(const QByteArray &bytes);

signals:
    void Answered(const bus::Answer &answer);
    // The own serial control: connected (a network port), or lost with its device.
    void Opened();
    void Lost(const QString &reason);

private:
    void Start(std::uint8_t address, QByteArray request, bool write, Patience patience);
    Judged JudgeHeard(bool final) const;
    qsizetype ReplyLength() const { return write_ ? request_.size() : kReplyLength; }
    void Finish(Judged judged);
    void HandleComm();

    std::function<bool(std::uint8_t)> send_;
    std::function<bool()> unread_;
    MSComm *comm_ = nullptr; // the own serial control, when there is one
    std::int32_t rate_ = 19200;
    int waitMs_ = 0;
    bool ready_ = true;
    bool asking_ = false;
    bool unsettled_ = true; // the last Ask ended otherwise than with one whole reply
    std::uint8_t asked_ = 0;
    QByteArray request_;
    bool write_ = false; // the request is a write, answered by its echo
    Patience patience_ = Patience::WholeWait;
    QByteArray heard_;
    QElapsedTimer since_;
    double completeMs_ = 0;
    QTimer wait_;
};

} // namespace bus
