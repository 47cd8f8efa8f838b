#pragma once
// A real pseudo-terminal for the serial tests: the code under test opens the slave side
// through a COMn link, the test plays the device on the master side.

#include "ptypair.h"

#include <QByteArray>
#include <QString>

#include <optional>

class Pty {
public:
    Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return pty_.has_value(); }
    QString slaveName() const { return slaveName_; }
    // Makes `dir`/COMn a symbolic link to the slave side.
    bool linkAs(const QString &dir, int portNumber) const;

    // The device sends.
    void send(const QByteArray &bytes) const;
    // What the program sent, collected until `count` bytes have come or the wait ends.
    QByteArray receive(qsizetype count, int timeoutMs = 2000) const;
    // What the program sent that arrives until the line stays quiet for `quietMs`, read
    // without running the event loop, so that the program sends nothing meanwhile.
    QByteArray takeArrived(int quietMs) const;
    // Waits, without running the event loop, until `count` bytes wait in the system's
    // buffer of the slave side, unread by anyone.
    bool waitUntilQueued(int count, int timeoutMs = 2000) const;
    // The device disappears: both sides of the test's own end are closed.
    void unplug() { pty_.reset(); }

private:
    std::optional<pty::PtyPair> pty_;
    QString slaveName_;
};
