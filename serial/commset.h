#pragma once
// comm.set: the one line "port,rate" + CR LF that carries the chosen serial port and baud
// rate from one run to the next, kept in the settings directory.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include "settingsplace.h"

#include <cstdint>
#include <optional>

inline constexpr char kCommSetName[] = "comm.set";

struct CommSetContent {
    enum class Status {
        Missing, // no file: the first run
        Invalid, // unreadable or not "port,rate" with port 1..16 and rate 0..32767
        Valid,
    };
    Status status = Status::Missing;
    // The fields that did convert; an Invalid file may still carry the port number, which
    // the start-up message names.
    std::optional<std::int16_t> port;
    std::optional<std::int16_t> rate;
};

// A field's text as a 16-bit integer, or nothing when it is no number or out of range. The
// program passes its own numeric test and rounding, so the file reads as it always has.
using Rounding = std::optional<std::int16_t> (*)(QStringView text);

// Reads only the first line: two numeric fields separated by a comma, blanks around a
// field allowed. Each field is rounded into a 16-bit integer.
CommSetContent ParseCommSet(QByteArrayView content, Rounding round);
CommSetContent ReadCommSet(const QString &dir, Rounding round);
// The user's own comm.set, or when there is none the default beside an installed program.
CommSetContent ReadCommSet(const SettingsPlace &place, Rounding round);

// "4,9600\r\n".
QByteArray CommSetText(std::int16_t port, std::int16_t rate);

// Writes a temporary file beside comm.set and renames it over the old one, so a failed
// write never leaves an empty or half-written file. The directory is created when it does
// not exist yet. False when nothing was saved.
bool WriteCommSet(const QString &dir, std::int16_t port, std::int16_t rate);

// Where WriteCommSet(dir, ...) writes, for messages.
QString CommSetPath(const QString &dir);
