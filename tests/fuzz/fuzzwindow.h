#pragma once
// The window the serial fuzz targets drive: one frmMain for the whole run, started as a
// technician's is, with comm.set "4,19200" and COM4 a pseudo-terminal whose other end the
// fuzzer plays. Message boxes are recorded instead of shown. Creating a window and a
// terminal per input would cost far more than the input itself.
//
// A second one has COM4-tcp.txt instead: COM4 stands for a loopback address where the fuzzer
// accepts the window's connection and plays the serial device server, so the same bytes
// also take the socket's way in.

#include "app/frmMain.h"
#include "ptypair.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class FuzzWindow {
public:
    // The application (offscreen platform) and the window, created on the first call.
    static FuzzWindow &get();
    // The window whose COM4 is a TCP connection.
    static FuzzWindow &OverTcp();

    frmMain &window() { return *window_; }
    std::vector<Message> shown;

    // The module sends: the bytes are written to the line and the event loop runs until the
    // program has read all of them and handled what they raised.
    void deliver(QByteArrayView bytes);
    // Everything the program wrote to the line since the last call, and nothing else.
    QByteArray sent();
    // Closes the port and opens it again (connected again, over TCP).
    void Reopen();

    FuzzWindow(const FuzzWindow &) = delete;
    FuzzWindow &operator=(const FuzzWindow &) = delete;

private:
    explicit FuzzWindow(bool tcp);
    int queued() const;
    void deliverPiece(QByteArrayView piece);
    void AcceptConnection();
    int ProgramSocket() const;
    QByteArray SentOverTcp();

    QTemporaryDir dir_;
    // The slave end we hold counts what waits for the program, and carries the end marker.
    pty::PtyPair line_;
    bool tcp_ = false;
    int listener_ = -1; // over TCP: where the window connects
    int peer_ = -1;     // the fuzzer's end: the terminal's master, or the accepted connection
    std::unique_ptr<frmMain> window_;
};
