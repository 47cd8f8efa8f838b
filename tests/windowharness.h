#pragma once
// The real window after start-up, its saved port COM4 a pseudo-terminal on whose other
// side the test plays the module, and every message box recorded instead of shown.

#include "app/frmMain.h"
#include "extras/extratools.h"
#include "pty.h"

#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class QLineEdit;

QByteArray Hex(const QString &text);
// A request as the sent-command box shows it: each pair followed by a space.
QString Shown(const QString &frame);

struct WindowHarness {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Pty> module;
    std::unique_ptr<frmMain> w;
    ExtraTools *tools = nullptr; // attached to w, as the program attaches them
    std::vector<Message> shown;

    // Without `plugged` there is no comm.set and no port, so the port stays closed.
    frmMain &start(bool plugged = true);
    void reset();

    QLineEdit *field(const QString &objectName) const;
    // "txtStationID=2" pairs.
    void fill(const QStringList &fields) const;
    // The module answers.
    void reply(const char *hex) const;
    // Nothing reached the module for a moment.
    bool lineQuiet() const;
};
