#pragma once
// The sensor simulator as a child process, for the tests and the benchmarks: linked as a
// COMn, with a traffic log the tests read back, --stdin-eof-exits so that it ends with
// whoever started it, and --stdin-commands so that a test can change its line while it runs.
// Every wait is bounded.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <optional>
#include <utility>
#include <vector>

struct LoggedFrame {
    double time = 0;   // seconds, monotonic clock
    QString direction; // rx, tx, or the name of an injected fault; empty: not a log line
    QByteArray bytes;  // for a line that is not a log line, the line itself
};

class Simulator {
public:
    // The simulator's port linked as `link`, its log beside it as `link`.log.
    explicit Simulator(const QString &link, const QStringList &options = {});
    // Linked as COMn in a program directory.
    Simulator(const QString &programDir, int port, const QStringList &options = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // False when the simulator did not announce its port.
    bool isReady() const { return !readyLine_.isEmpty(); }
    // The last "sensor-sim: LINK -> PTY, address N" line; empty until there is one.
    QString readyLine() const { return readyLine_; }
    bool waitForReadyLine(int timeoutMs = 5000);

    // The adapter is pulled out (the link disappears) or put back (a new line, same link).
    void unplug() { signal(SIGUSR1); }
    bool replug();
    void signal(int signo);
    // One command on its stdin ("add 1", "pull 3", "light 500"), handed over before this
    // returns, so that it is carried out before any request sent afterwards is answered.
    bool command(const QByteArray &line);
    // Waits for it to end: the exit status, or nothing when it did not end by itself in
    // time (it is killed then) or died from a signal.
    std::optional<int> waitForExit(int timeoutMs = 5000);
    // Closes its stdin, which ends it, and waits.
    std::optional<int> finish(int timeoutMs = 5000);

    // The traffic log so far, every line or those of one direction.
    std::vector<LoggedFrame> log(const QString &direction = {}) const;
    qint64 pid() const { return process_.processId(); }

    // sensor-sim with exactly `args`, run to its end: the exit status (-1 when it did not end
    // by itself in time) and what it wrote to stderr. For the command line's refusals.
    static std::pair<int, QByteArray> runToEnd(const QStringList &args);

private:
    QProcess process_;
    QString logPath_;
    QString readyLine_;
};
