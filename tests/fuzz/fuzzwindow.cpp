#include "fuzzwindow.h"

#include "fuzzcheck.h"
#include "serial/mscomm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Written by the fuzzer on the program's side after the program's own bytes: whatever
// the master reads before it is what the program sent. Longer than a request, so a request
// never ends in it.
const QByteArray kEndMarker = QByteArray(12, '\xA5') + "END";

// The line's slowest step is the kernel moving bytes between the two sides; a round trip
// takes microseconds, so this bound is only ever reached when something hangs.
constexpr int kWaitMs = 1000;

// The terminal's own input buffer is 4 KiB; pieces stay well below it so that every one
// is counted whole before the program reads it.
constexpr qsizetype kPiece = 2048;

// Whole, whatever signals libFuzzer's own timers deliver meanwhile.
void WriteAll(int fd, QByteArrayView bytes) {
    QElapsedTimer clock;
    clock.start();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            Fail(std::strerror(errno));
        Require(clock.elapsed() < kWaitMs, "the line takes no more bytes");
    }
}

} // namespace

namespace {

void MakeApplication() {
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz";
        static char *argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    (void)app;
}

} // namespace

FuzzWindow &FuzzWindow::OverTcp() {
    MakeApplication();
    static FuzzWindow *instance = new FuzzWindow(true);
    return *instance;
}

FuzzWindow &FuzzWindow::get() {
    MakeApplication();
    static FuzzWindow *instance = new FuzzWindow(false);
    // libFuzzer ends with exit(): the window closes its port then, and Qt removes the lock
    // file it keeps for the line, which would otherwise be left behind.
    static const bool closesAtExit = [] {
        return std::atexit([] { instance->window_.reset(); }) == 0;
    }();
    (void)closesAtExit;
    return *instance;
}

namespace {

pty::PtyPair OpenLine() {
    std::string error;
    auto pair = pty::PtyPair::Open(error);
    Require(pair.has_value(), "no pseudo-terminal");
    return std::move(*pair);
}

} // namespace

FuzzWindow::FuzzWindow(bool tcp)
    : line_(OpenLine()), tcp_(tcp), peer_(tcp ? -1 : line_.master.Get()) {
    Require(dir_.isValid(), "no temporary directory");
    if (tcp_) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        Require(::bind(listener_, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0 &&
                    ::listen(listener_, 1) == 0 &&
                    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&at), &length) == 0,
                "no loopback listener");
        QFile link(dir_.filePath(QStringLiteral("COM4-tcp.txt")));
        Require(link.open(QIODevice::WriteOnly) &&
                    link.write(QByteArray("tcp://127.0.0.1:") +
                               QByteArray::number(ntohs(at.sin_port))) > 0,
                "no COM4-tcp.txt");
    } else {
        std::string error;
        Require(pty::PublishLink(dir_.filePath(QStringLiteral("COM4")).toStdString(),
                                 line_.slaveName, error) == pty::PublishResult::Published,
                "no COM4 link");
    }
    QFile settings(dir_.filePath(QStringLiteral("comm.set")));
    Require(settings.open(QIODevice::WriteOnly) && settings.write("4,19200\r\n") == 9,
            "no comm.set");
    settings.close();

    window_ = std::make_unique<frmMain>(dir_.path());
    window_->messages().setPresenter([this](const Message &m) { shown.push_back(m); });
    window_->Form_Load();
    AcceptConnection();
    Require(window_->MSComm1->portOpen(), "COM4 did not open");
    shown.clear();
}

// Over TCP the port connects in the background: the fuzzer accepts, the loop runs until
// the window has seen it connected.
void FuzzWindow::AcceptConnection() {
    if (!tcp_)
        return;
    QElapsedTimer clock;
    clock.start();
    while (peer_ < 0) {
        Require(clock.elapsed() < kWaitMs, "the window did not connect");
        QCoreApplication::processEvents();
        pollfd pfd{listener_, POLLIN, 0};
        if (::poll(&pfd, 1, 1) > 0)
            peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    // Each piece goes out as written, as a serial device server sends what its line gave.
    const int yes = 1;
    ::setsockopt(peer_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    while (!window_->MSComm1->portOpen()) {
        Require(clock.elapsed() < kWaitMs, "the window did not see its connection");
        QCoreApplication::processEvents();
    }
}

void FuzzWindow::Reopen() {
    MSComm &comm = *window_->MSComm1;
    comm.setPortOpen(false);
    if (tcp_) {
        ::close(peer_);
        peer_ = -1;
    }
    Require(comm.setPortOpen(true), "COM4 did not open again");
    AcceptConnection();
}

int FuzzWindow::ProgramSocket() const {
    const auto *socket = window_->MSComm1->findChild<QTcpSocket *>();
    return socket ? int(socket->socketDescriptor()) : -1;
}

// What waits for the program: on the terminal, or over TCP not yet sent and in its socket.
// Sent on loopback is received at once; the unacknowledged bytes of SIOCOUTQ would wait
// for a delayed ACK, tens of milliseconds an input.
int FuzzWindow::queued() const {
    int n = 0;
    if (!tcp_)
        return ::ioctl(line_.slave.Get(), FIONREAD, &n) == 0 ? n : 0;
    int unsent = 0;
    ::ioctl(peer_, SIOCOUTQNSD, &unsent);
    ::ioctl(ProgramSocket(), FIONREAD, &n);
    return n + unsent;
}

void FuzzWindow::deliver(QByteArrayView bytes) {
    for (qsizetype done = 0; done < bytes.size(); done += kPiece)
        deliverPiece(bytes.sliced(done, std::min(kPiece, bytes.size() - done)));
    if (bytes.isEmpty())
        deliverPiece({});
}

void FuzzWindow::deliverPiece(QByteArrayView piece) {
    WriteAll(peer_, piece);
    // The program reads only from the event loop, so everything written is counted on its
    // side before it takes any of it.
    QElapsedTimer clock;
    clock.start();
    while (queued() < piece.size()) {
        Require(clock.elapsed() < kWaitMs, "bytes written never reached the program's side");
        ::usleep(20);
    }
    // Then the loop runs until the program has taken it all, and a few turns more for the
    // events the bytes raised, which are posted, not sent.
    int quietTurns = 0;
    while (quietTurns < 4) {
        Require(clock.elapsed() < kWaitMs, "the program stopped reading the line");
        QCoreApplication::processEvents();
        quietTurns = queued() == 0 ? quietTurns + 1 : 0;
    }
}

// Over TCP everything the program wrote has arrived once its socket holds nothing unsent
// (on loopback, what is sent is received at once).
QByteArray FuzzWindow::SentOverTcp() {
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    const auto *socket = window_->MSComm1->findChild<QTcpSocket *>();
    int unsent = 1;
    while (unsent > 0 || (socket && socket->bytesToWrite() > 0)) {
        Require(clock.elapsed() < kWaitMs, "the program's bytes never left");
        QCoreApplication::processEvents();
        if (::ioctl(ProgramSocket(), SIOCOUTQNSD, &unsent) != 0)
            unsent = 0;
    }
    for (;;) {
        pollfd pfd{peer_, POLLIN, 0};
        char buf[512];
        const ssize_t n = ::poll(&pfd, 1, 0) > 0 ? ::read(peer_, buf, sizeof buf) : 0;
        if (n <= 0)
            return got;
        got.append(buf, n);
    }
}

QByteArray FuzzWindow::sent() {
    QCoreApplication::processEvents(); // a write Qt still holds goes out now
    if (tcp_)
        return SentOverTcp();
    WriteAll(line_.slave.Get(), kEndMarker);
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (!got.endsWith(kEndMarker)) {
        Require(clock.elapsed() < kWaitMs, "marker never came back");
        pollfd pfd{line_.master.Get(), POLLIN, 0};
        if (::poll(&pfd, 1, 10) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(line_.master.Get(), buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
    }
    got.chop(kEndMarker.size());
    return got;
}

// The window, its fonts and the line are set up before the first input, so that their
// one-time allocations are not taken for leaks of an input.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    FuzzWindow::get();
    FuzzWindow::OverTcp();
    return 0;
}
