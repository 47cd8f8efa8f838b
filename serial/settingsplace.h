#pragma once
// Where settings live: the folder that holds comm.set and the COMn links.
//
// A program run from a build tree or an unpacked folder keeps its settings beside itself, as
// it always has. An installed program keeps them in the user's configuration directory and
// never writes into the system's program directory: a comm.set or COMn link that an
// administrator placed in the system's configuration directory (/etc/xdg/sensor-companion,
// %PROGRAMDATA%\sensor-companion) is only read, as the default for a user who has none.

#include <QString>
#include <QStringList>

struct SettingsPlace {
    // A directory of its own, with no default behind it: a build tree, a test's folder.
    SettingsPlace(QString own = {}, QString fallback = {});

    QString own;      // read first, and the only place written; empty when there is none
    QString fallback; // read only, when own has nothing; empty when there is none
};

// The decision itself, for a program in programDir that does or does not run installed.
// userConfigDir is the user's configuration directory (empty when the system has none),
// systemConfigDirs the system's, most important first: the first that holds our folder is the
// default, or the first of them when none does yet.
SettingsPlace DecideSettingsPlace(const QString &programDir, bool installed,
                                  const QString &userConfigDir,
                                  const QStringList &systemConfigDirs);

// True when programDir is the directory the program is installed into: the binary
// directory of the install prefix on Linux and macOS, any Program Files folder on Windows.
bool RunsInstalled(const QString &programDir);

// The one place every part asks: comm.set, the COMn links, the port command's links.
SettingsPlace SettingsPlaceOf(const QString &programDir);
