#pragma once
// The sensor simulator as a child process: linked as COMn in a program directory, with a
// traffic log the tests read back.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

struct LoggedFrame {
    double time = 0;   // seconds, monotonic clock
    QString direction; // rx, tx, or the name of an injected fault
    QByteArray bytes;
};

class Simulator {
public:
    Simulator(const QString &programDir, int port, const QStringList &options = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // False when the simulator did not announce its port.
    bool isReady() const { return ready_; }
    // The adapter is pulled out (the link disappears) or put back (a new line, same link).
    void unplug();
    bool replug();

    std::vector<LoggedFrame> log() const;
    std::vector<LoggedFrame> log(const QString &direction) const;
    qint64 pid() const { return process_.processId(); }

private:
    bool waitForReadyLine();

    QProcess process_;
    QString logPath_;
    bool ready_ = false;
};
