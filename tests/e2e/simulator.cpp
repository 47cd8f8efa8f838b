#include "simulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <csignal>

Simulator::Simulator(const QString &programDir, int port, const QStringList &options)
    : logPath_(QDir(programDir).filePath(QStringLiteral("sim.log"))) {
    QStringList args{QStringLiteral("--link"),
                     QDir(programDir).filePath(QStringLiteral("COM%1").arg(port)),
                     QStringLiteral("--log"), logPath_, QStringLiteral("--stdin-eof-exits")};
    args += options;
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(SENSOR_SIM_PATH), args);
    ready_ = process_.waitForStarted(5000) && waitForReadyLine();
}

Simulator::~Simulator() {
    process_.closeWriteChannel(); // --stdin-eof-exits: it removes its link and ends
    if (!process_.waitForFinished(3000))
        process_.kill();
    process_.waitForFinished(1000);
}

bool Simulator::waitForReadyLine() {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 5000) {
        if (process_.canReadLine())
            return process_.readLine().startsWith("sensor-sim: ");
        process_.waitForReadyRead(100);
    }
    return false;
}

void Simulator::unplug() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
}

bool Simulator::replug() {
    ::kill(static_cast<pid_t>(process_.processId()), SIGUSR2);
    return waitForReadyLine();
}

std::vector<LoggedFrame> Simulator::log() const {
    std::vector<LoggedFrame> frames;
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() < 2)
            continue;
        LoggedFrame frame{fields[0].toDouble(), QString::fromLatin1(fields[1]), {}};
        for (qsizetype i = 2; i < fields.size(); ++i)
            frame.bytes += QByteArray::fromHex(fields[i]);
        frames.push_back(frame);
    }
    return frames;
}

std::vector<LoggedFrame> Simulator::log(const QString &direction) const {
    std::vector<LoggedFrame> frames;
    for (const LoggedFrame &frame : log())
        if (frame.direction == direction)
            frames.push_back(frame);
    return frames;
}
