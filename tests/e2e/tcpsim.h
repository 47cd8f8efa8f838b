#pragma once
// The sensor simulator behind its serial device server on loopback TCP (--tcp 0), as a
// child process for the TCP suite and benchmark: the address it listens at, written into a
// program directory as COMn-tcp.txt, and its traffic log. Every wait is bounded.

#include "simulator.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

class TcpSimulator {
public:
    // Logs beside logDir/tcp-sim.log.
    explicit TcpSimulator(const QString &logDir, const QStringList &options = {});
    ~TcpSimulator();
    TcpSimulator(const TcpSimulator &) = delete;
    TcpSimulator &operator=(const TcpSimulator &) = delete;

    // "tcp://127.0.0.1:PORT", empty when it did not start.
    QString Address() const { return address_; }
    bool IsReady() const { return !address_.isEmpty(); }
    // Writes programDir/COMn-tcp.txt naming address.
    static bool LinkAs(const QString &programDir, int port, const QString &address);

    // SIGUSR1: the connection of the client served is closed, as a network gone.
    void DropClient();
    std::vector<LoggedFrame> Log(const QString &direction = {}) const;

private:
    QProcess process_;
    QString logPath_;
    QString address_;
};
