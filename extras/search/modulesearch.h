#pragma once
// The search for the module: every candidate device at every rate the module may be set to,
// one read-address request each, until a checked reply comes. One piece of code for the
// window's dialog and for `sensor-companion-ports find`; it runs in the event loop (a timer
// and the serial control's events), so a window stays responsive and can cancel.

#include "serial/mscomm.h"
#include "serial/settingsplace.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <optional>

struct SearchCandidate {
    QString device; // what is opened: "/dev/ttyUSB0", "COM5", "tcp://HOST:PORT"
    int port = 0;   // the COMn that opens it, 0 for none
};

// "COM4 (/dev/ttyUSB0)", or the device alone when no COMn opens it or it is COMn itself.
QString DeviceText(const SearchCandidate &candidate);

struct SearchAttempt {
    enum class Outcome {
        Silent,       // opened; nothing valid came back at any rate
        Missing,      // the device is not there (a dangling link)
        NoPermission, // this user may not open it; detail: the group that may
        InUse,        // held by another program
        StaleLock,    // a lock file left behind by a program that has ended; detail: what
        Lost,         // it disappeared during the search
        Unreachable,  // a network port that did not connect; see failure
    };
    SearchCandidate candidate;
    Outcome outcome = Outcome::Silent;
    QString detail;
    MSComm::ConnectFailure failure = MSComm::ConnectFailure::None;
};

struct SearchResult {
    bool found = false;
    bool cancelled = false;
    SearchCandidate where;
    std::int16_t rate = 0;
    int address = 0;
    bool echoes = false;        // the adapter gives back what is sent
    QList<SearchAttempt> tried; // every device given up on, in order
};

// 19200 first, the module's default, then the others.
inline constexpr std::array<std::int16_t, 4> kSearchRates{19200, 9600, 4800, 14400};

// What the search waits at a rate: the request's and the reply's time on the wire, plus a
// margin for the module to turn round (see the definition).
int SearchWaitMs(std::int16_t rate);

// The address in the first read-address reply within bytes: device 250, function 0x25, one
// data byte, correct CRC. Bytes before it (an echo, noise) are passed over.
std::optional<int> FindAddressReply(QByteArrayView bytes);

// On Linux and macOS the devices the system lists and the targets of the COMn links, the
// links first (they are what the user set up); on Windows the COM ports the system lists.
// Before them, on every system, the network addresses COMn stand for, each tried once
// with the wait of 19200 baud. Each with the COMn that opens it.
QList<SearchCandidate> SearchCandidates(const SettingsPlace &place);

// The COMn that is to open a found device: its own, or on Linux and macOS the lowest one
// with neither a link nor a device of its own, linked to it as the port command's link does.
// 0 and why, when there is none.
struct FoundPort {
    int port = 0;
    QString message; // what was linked, or why no port opens the device
};
FoundPort PortForFound(const SearchCandidate &where, const SettingsPlace &place);

class ModuleSearch : public QObject {
    Q_OBJECT
public:
    explicit ModuleSearch(QList<SearchCandidate> candidates, QObject *parent = nullptr);

    // Runs until Finished() is emitted; call once.
    void Start();
    // Stops at once and closes the device; Finished() follows with cancelled set.
    void Cancel();
    // Every device at every rate: the number of steps Trying() counts.
    int Steps() const { return static_cast<int>(candidates_.size() * kSearchRates.size()); }

signals:
    // step runs from 0 to Steps() - 1; a device that cannot be opened skips its rates.
    void Trying(const SearchCandidate &candidate, std::int16_t rate, int step);
    void Finished(const SearchResult &result);

private:
    void NextDevice();
    void TryRate();
    void HandleEvent();
    void GiveUp(SearchAttempt::Outcome outcome, const QString &detail = {});
    void Finish();
    SearchAttempt::Outcome OpenRefusal(const QString &device, QString &detail) const;

    QList<SearchCandidate> candidates_;
    MSComm comm_;
    QTimer wait_;
    QByteArray heard_;
    qsizetype device_ = -1;
    std::size_t rate_ = 0;
    bool done_ = false;
    SearchResult result_;
};
