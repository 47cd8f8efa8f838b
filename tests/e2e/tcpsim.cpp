#include "tcpsim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>

TcpSimulator::TcpSimulator(const QString &logDir, const QStringList &options)
    : logPath_(QDir(logDir).filePath(QStringLiteral("tcp-sim.log"))) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(SENSOR_SIM_PATH),
                   QStringList{QStringLiteral("--tcp"), QStringLiteral("0"),
                               QStringLiteral("--log"), logPath_,
                               QStringLiteral("--stdin-eof-exits")} +
                       options);
    if (!process_.waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (!process_.canReadLine() && clock.elapsed() < 5000 &&
           process_.state() == QProcess::Running)
        process_.waitForReadyRead(100);
    // "sensor-sim: tcp 127.0.0.1:40123, address 1"
    static const QRegularExpression ready(QStringLiteral(R"(^sensor-sim: tcp (\S+), address)"));
    const auto m = ready.match(QString::fromLocal8Bit(process_.readLine()));
    if (m.hasMatch())
        address_ = QStringLiteral("tcp://") + m.captured(1);
}

TcpSimulator::~TcpSimulator() {
    process_.closeWriteChannel(); // --stdin-eof-exits
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

bool TcpSimulator::LinkAs(const QString &programDir, int port, const QString &address) {
    QFile file(QDir(programDir).filePath(QStringLiteral("COM%1-tcp.txt").arg(port)));
    return file.open(QIODevice::WriteOnly) && file.write(address.toUtf8() + '\n') > 0;
}

void TcpSimulator::DropClient() {
    if (process_.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1);
}

std::vector<LoggedFrame> TcpSimulator::Log(const QString &direction) const {
    std::vector<LoggedFrame> frames;
    QFile file(logPath_);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    // SECONDS.MICROSECONDS KIND [BYTE ...], as Simulator::log reads it.
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() < 2)
            continue;
        LoggedFrame frame{fields[0].toDouble(), QString::fromLatin1(fields[1]), {}};
        for (qsizetype i = 2; i < fields.size(); ++i)
            frame.bytes.append(static_cast<char>(fields[i].toInt(nullptr, 16)));
        if (direction.isEmpty() || frame.direction == direction)
            frames.push_back(frame);
    }
    return frames;
}
