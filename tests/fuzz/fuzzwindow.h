#pragma once
// The window the serial fuzz targets drive: one frmMain for the whole run, started as a
// technician's is, with comm.set "4,19200" and COM4 a pseudo-terminal whose other end the
// fuzzer plays. Message boxes are recorded instead of shown. Creating a window and a
// terminal per input would cost far more than the input itself.

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

    frmMain &window() { return *window_; }
    std::vector<Message> shown;

    // The module sends: the bytes are written to the line and the event loop runs until the
    // program has read all of them and handled what they raised.
    void deliver(QByteArrayView bytes);
    // Everything the program wrote to the line since the last call, and nothing else.
    QByteArray sent();

    FuzzWindow(const FuzzWindow &) = delete;
    FuzzWindow &operator=(const FuzzWindow &) = delete;

private:
    FuzzWindow();
    int queued() const;
    void deliverPiece(QByteArrayView piece);

    QTemporaryDir dir_;
    // The slave end we hold counts what waits for the program, and carries the end marker.
    pty::PtyPair line_;
    std::unique_ptr<frmMain> window_;
};
