#pragma once
// What an RS-485 adapter that echoes its own transmission hands back, taken out of what the
// program sees. It knows nothing of ports or time: the serial control hands it every
// request written and every chunk read, and runs the quiet timer while it waits.
//
// The first bytes after a request are compared with it, in whatever pieces they come, and
// held back while they match. A whole copy after a read request is the adapter's echo: the
// port is then in echo mode and the copy goes. In echo mode the copy after a write goes
// too; the module's reply, which repeats a write, follows it. Otherwise a write's copy is
// the module's reply and stays. A read whose reply does not start with the request ends
// echo mode.

#include <QByteArray>

class EchoFilter {
public:
    // A request was written: the bytes that follow are compared with it.
    void Sent(const QByteArray &request);
    // Bytes as they came from the line; returns what the program is to see.
    QByteArray Take(const QByteArray &chunk);
    // The line stayed quiet while bytes were held: a copy that stops short is no copy, so
    // they are handed on. Nothing unless Waiting().
    QByteArray QuietTimeout();
    // The buffer was emptied: the rest of a copy half matched cannot be told apart any more.
    void Emptied();
    // The port was opened or closed: no comparison, no echo mode.
    void Reset();

    bool EchoMode() const { return echoMode_; }
    // Bytes are held until the rest of a copy comes or the line stays quiet.
    bool Waiting() const { return matched_ > 0; }

private:
    QByteArray HandOn();

    QByteArray sent_;        // the last request written
    bool sentReads_ = false; // ...was a read, which its own bytes never answer
    qsizetype matched_ = -1; // its bytes matched by the first ones back; -1: not comparing
    bool echoMode_ = false;
};
