#include "simulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>

Simulator::Simulator(const QString &link, const QStringList &options)
    : logPath_(link + QStringLiteral(".log")) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(SENSOR_SIM_PATH),
                   QStringList{QStringLiteral("--link"), link, QStringLiteral("--log"), logPath_,
                               QStringLiteral("--stdin-eof-exits"),
                               QStringLiteral("--stdin-commands")} +
                       options);
    if (process_.waitForStarted(5000))
        waitForReadyLine();
}

Simulator::Simulator(const QString &programDir, int port, const QStringList &options)
    : Simulator(QDir(programDir).filePath(QStringLiteral("COM%1").arg(port)), options) {}

Simulator::~Simulator() {
    finish(3000);
}

bool Simulator::waitForReadyLine(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!process_.canReadLine()) {
        if (clock.elapsed() >= timeoutMs || process_.state() == QProcess::NotRunning)
            return false;
        process_.waitForReadyRead(std::min<int>(100, timeoutMs));
    }
    const QString line = QString::fromLocal8Bit(process_.readLine()).chopped(1);
    if (!line.startsWith(u"sensor-sim: "))
        return false;
    readyLine_ = line;
    return true;
}

bool Simulator::replug() {
    signal(SIGUSR2);
    return waitForReadyLine();
}

bool Simulator::command(const QByteArray &line) {
    const QByteArray text = line + '\n';
    if (process_.state() != QProcess::Running || process_.write(text) != text.size())
        return false;
    while (process_.bytesToWrite() > 0) {
        if (!process_.waitForBytesWritten(3000))
            return false;
    }
    return true;
}

void Simulator::signal(int signo) {
    if (process_.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(process_.processId()), signo);
}

std::optional<int> Simulator::waitForExit(int timeoutMs) {
    if (process_.state() != QProcess::NotRunning && !process_.waitForFinished(timeoutMs)) {
        process_.kill();
        process_.waitForFinished(1000);
        return std::nullopt;
    }
    return process_.exitStatus() == QProcess::NormalExit ? std::optional(process_.exitCode())
                                                         : std::nullopt;
}

std::optional<int> Simulator::finish(int timeoutMs) {
    process_.closeWriteChannel(); // --stdin-eof-exits: it removes its link and ends
    return waitForExit(timeoutMs);
}

std::pair<int, QByteArray> Simulator::runToEnd(const QStringList &args) {
    QProcess sim;
    sim.start(QStringLiteral(SENSOR_SIM_PATH), args);
    if (!sim.waitForFinished(5000) || sim.exitStatus() != QProcess::NormalExit) {
        sim.kill();
        sim.waitForFinished(1000);
        return {-1, sim.readAllStandardError()};
    }
    return {sim.exitCode(), sim.readAllStandardError()};
}

std::vector<LoggedFrame> Simulator::log(const QString &direction) const {
    // SECONDS.MICROSECONDS KIND [BYTE ...], bytes as two uppercase hex digits.
    static const QRegularExpression format(
        QStringLiteral(R"(^(\d+\.\d{6}) ([a-z]+)((?: [0-9A-F]{2})*)$)"));
    std::vector<LoggedFrame> frames;
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        const auto m = format.match(QString::fromLatin1(line));
        LoggedFrame frame{0, {}, line};
        if (m.hasMatch())
            frame = {m.captured(1).toDouble(), m.captured(2),
                     QByteArray::fromHex(m.captured(3).toLatin1())};
        if (direction.isEmpty() || frame.direction == direction)
            frames.push_back(frame);
    }
    return frames;
}
