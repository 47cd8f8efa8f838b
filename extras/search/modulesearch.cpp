#include "modulesearch.h"

#include "modbus/frame.h"
#include "portaccess.h"
#include "serial/portdevice.h"
#include "serial/portlinks.h"

#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPortInfo>

#include <cmath>

namespace {

// The read-address request, and its reply: FA 25 01 <address> <CRC low> <CRC high>.
constexpr modbus::RequestFrame kRequest{0xFA, 0x25, 0x02, 0x00, 0x00, 0x01, 0x99, 0xFE};
constexpr qsizetype kReplyLength = 6;

// Modbus RTU slaves answer within a few milliseconds to a few tens once a request has
// ended; 50 ms is the usual bound devices state. USB serial adapters keep received bytes
// up to their latency timer (16 ms by default on the common chips) before the computer sees
// them. 100 ms covers both with room for a busy machine, and four rates of it stay within
// the 0.6 s a silent device may cost.
constexpr int kTurnaroundMarginMs = 100;
// The request and the reply, and the 3.5 character times of silence that end a request
// before a slave acts on it (rounded up to 4).
constexpr int kCharactersOnWire = 8 + kReplyLength + 4;
constexpr int kBitsPerCharacter = 10; // start, 8 data bits, stop

// A serial device server has no rate to try: its serial side is set up on the server.
std::size_t RatesFor(const SearchCandidate &candidate) {
    return IsTcpText(candidate.device) ? 1 : kSearchRates.size();
}

int PortOpening(const QString &device, const SettingsPlace &place) {
    const QString wanted = ResolvedPath(device);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QString opens = PortDevice(n, place);
        if (opens.compare(device, Qt::CaseInsensitive) == 0 || ResolvedPath(opens) == wanted)
            return n;
    }
    return 0;
}

} // namespace

QString DeviceText(const SearchCandidate &candidate) {
    const QString port = QStringLiteral("COM%1").arg(candidate.port);
    if (candidate.device.compare(port, Qt::CaseInsensitive) == 0)
        return port; // Windows: the device is the port
    return candidate.port == 0
               ? candidate.device
               : QStringLiteral("COM%1 (%2)").arg(candidate.port).arg(candidate.device);
}

int SearchWaitMs(std::int16_t rate) {
    const double wireMs = 1000.0 * kCharactersOnWire * kBitsPerCharacter / rate;
    return static_cast<int>(std::ceil(wireMs)) + kTurnaroundMarginMs;
}

std::optional<int> FindAddressReply(QByteArrayView bytes) {
    for (qsizetype at = 0; at + kReplyLength <= bytes.size(); ++at) {
        const auto *frame = reinterpret_cast<const std::uint8_t *>(bytes.data() + at);
        if (frame[0] != 0xFA || frame[1] != 0x25 || frame[2] != 0x01)
            continue;
        const std::uint16_t crc = modbus::Crc16Value({frame, 4});
        if (frame[4] == (crc & 0xFF) && frame[5] == (crc >> 8))
            return frame[3];
    }
    return std::nullopt;
}

QList<SearchCandidate> SearchCandidates(const SettingsPlace &place) {
    QList<SearchCandidate> candidates;
    QStringList seen;
    // The network ports first, on every system: only their COMn names them.
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (const auto tcp = TcpLinkOf(n, place); tcp && tcp->address)
            candidates.append({tcp->address->Text(), n});
    }
    const auto add = [&](const QString &device) {
        const QString canonical = ResolvedPath(device);
        if (seen.contains(canonical))
            return;
        seen.append(canonical);
        candidates.append({canonical, PortOpening(canonical, place)});
    };
#ifndef Q_OS_WIN
    // A pseudo-terminal (the simulator's) is listed by nobody but its link.
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (const QString link = PortLink(n, place); !link.isEmpty())
            add(link);
    }
#endif
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
        add(info.portName());
#else
        add(info.systemLocation());
#endif
    }
    return candidates;
}

FoundPort PortForFound(const SearchCandidate &where, const SettingsPlace &place) {
    if (where.port != 0)
        return {where.port, {}};
    if (const QString why = LinksUnsupported(); !why.isEmpty())
        return {0, QStringLiteral("%1 is not one of COM1 to COM16, which the window offers")
                       .arg(where.device)};
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const PortTarget target = PortTargetOf(n, place);
        if (!target.link.isEmpty() || target.present)
            continue;
        const PortCommandResult linked = LinkPort(QString::number(n), where.device, place);
        return {linked.done ? n : 0, linked.message};
    }
    return {0, QStringLiteral("COM1 to COM16 all lead somewhere already; unlink one first")};
}

ModuleSearch::ModuleSearch(QList<SearchCandidate> candidates, QObject *parent)
    : QObject(parent), candidates_(std::move(candidates)), comm_(SettingsPlace()) {
    wait_.setSingleShot(true);
    wait_.setTimerType(Qt::PreciseTimer);
    connect(&wait_, &QTimer::timeout, this, [this] {
        ++rate_;
        TryRate();
    });
    connect(&comm_, &MSComm::OnComm, this, &ModuleSearch::HandleEvent);
    // A network port connects in the background; a serial one is open when opened.
    connect(&comm_, &MSComm::PortOpenChanged, this, [this](bool open) {
        if (open && !done_ && IsTcpText(candidates_[device_].device))
            TryRate();
    });
    connect(&comm_, &MSComm::ConnectFailed, this, [this] {
        if (!done_)
            GiveUp(SearchAttempt::Outcome::Unreachable, comm_.connectErrorText());
    });
    comm_.setInputMode(1);
    comm_.setInputLen(0);
    comm_.setSThreshold(0);
    comm_.setRThreshold(1);
}

void ModuleSearch::Start() {
    NextDevice();
}

void ModuleSearch::Cancel() {
    if (done_)
        return;
    result_.cancelled = true;
    Finish();
}

SearchAttempt::Outcome ModuleSearch::OpenRefusal(const QString &device, QString &detail) const {
#ifdef Q_OS_WIN
    Q_UNUSED(device);
    Q_UNUSED(detail);
#else
    const QFileInfo node(device);
    if (!node.exists())
        return SearchAttempt::Outcome::Missing;
    if (!PermissionRefusal(device).isEmpty()) {
        detail = node.group();
        return SearchAttempt::Outcome::NoPermission;
    }
#endif
    // The lock file says who holds the device, or that its holder has ended and left it.
    bool stale = false;
    const QString lock = LockRefusal(device, LockDirs(), &stale);
    if (!lock.isEmpty()) {
        detail = lock;
        if (stale)
            return SearchAttempt::Outcome::StaleLock;
    }
    return SearchAttempt::Outcome::InUse;
}

void ModuleSearch::NextDevice() {
    comm_.setPortOpen(false);
    if (done_)
        return;
    if (++device_ >= candidates_.size()) {
        Finish();
        return;
    }
    const SearchCandidate &candidate = candidates_[device_];
    rate_ = 0;
    comm_.setDevicePath(candidate.device);
    comm_.setSettings(kSearchRates[0]);
    if (!comm_.setPortOpen(true)) {
        QString detail;
        const SearchAttempt::Outcome why = OpenRefusal(candidate.device, detail);
        GiveUp(why, detail);
        return;
    }
    if (!comm_.portConnecting())
        TryRate();
}

void ModuleSearch::TryRate() {
    if (done_)
        return;
    if (rate_ >= RatesFor(candidates_[device_])) {
        GiveUp(SearchAttempt::Outcome::Silent);
        return;
    }
    const std::int16_t rate = kSearchRates[rate_];
    emit Trying(candidates_[device_], rate,
                static_cast<int>(device_ * qsizetype(kSearchRates.size()) + qsizetype(rate_)));
    if (done_) // cancelled from the signal
        return;
    heard_.clear();
    comm_.setInBufferCount(0); // what a slower or faster rate left behind is no answer
    if (!comm_.setSettings(rate) || !comm_.setOutput(modbus::ToBytes(kRequest))) {
        // The device takes no such rate, or no bytes: nothing can come back at this one.
        wait_.start(0);
        return;
    }
    wait_.start(SearchWaitMs(rate));
}

void ModuleSearch::HandleEvent() {
    if (done_ || !wait_.isActive())
        return;
    if (comm_.commEvent() == MSComm::DeviceLost) {
        wait_.stop();
        GiveUp(SearchAttempt::Outcome::Lost);
        return;
    }
    if (comm_.commEvent() != MSComm::Receive)
        return; // line errors are what a wrong rate makes
    heard_ += comm_.input();
    const std::optional<int> address = FindAddressReply(heard_);
    if (!address)
        return;
    wait_.stop();
    result_.found = true;
    result_.where = candidates_[device_];
    result_.rate = kSearchRates[rate_];
    result_.address = *address;
    result_.echoes = comm_.echoMode();
    Finish();
}

// The device is left behind with its reason; the next one is taken from the event loop, so
// a long list never runs inside one call.
void ModuleSearch::GiveUp(SearchAttempt::Outcome outcome, const QString &detail) {
    const MSComm::ConnectFailure failure = outcome == SearchAttempt::Outcome::Unreachable
                                               ? comm_.connectFailure()
                                               : MSComm::ConnectFailure::None;
    comm_.setPortOpen(false);
    result_.tried.append({candidates_[device_], outcome, detail, failure});
    QMetaObject::invokeMethod(this, &ModuleSearch::NextDevice, Qt::QueuedConnection);
}

void ModuleSearch::Finish() {
    done_ = true;
    wait_.stop();
    comm_.setPortOpen(false);
    emit Finished(result_);
}
