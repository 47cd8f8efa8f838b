#include "windowonsim.h"

#include "serial/mscomm.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

void WindowOnSimulator::startSimulator(const QStringList &simOptions) {
    dir_ = std::make_unique<QTemporaryDir>();
    QFile settings(dir_->filePath(QStringLiteral("comm.set")));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("4,19200\r\n");
    settings.close();
    sim_ = std::make_unique<Simulator>(dir_->path(), 4, simOptions);
    if (!sim_->isReady())
        qFatal("the simulator did not start");
}

frmMain &WindowOnSimulator::start(const QStringList &simOptions) {
    startSimulator(simOptions);
    w_ = std::make_unique<frmMain>(dir_->path());
    tools_ = new ExtraTools(*w_);
    w_->messages().setPresenter([this](const Message &m) { shown_.push_back(m); });
    w_->Form_Load();
    if (!w_->MSComm1->portOpen())
        qFatal("the simulator's port did not open");
    return *w_;
}

void WindowOnSimulator::poll(int interval, int ms) const {
    w_->txtTimerSet->setText(QString::number(interval));
    w_->cmdOneM->click();
    QTest::qWait(ms);
    w_->cmdStopOnce->click();
    QTest::qWait(200);
}

void WindowOnSimulator::reset() {
    w_.reset();
    sim_.reset();
    dir_.reset();
    shown_.clear();
}

std::vector<int> WindowOnSimulator::coefficientWrites(int address) const {
    std::vector<int> values;
    for (const LoggedFrame &f : sim_->log(QStringLiteral("rx")))
        if (f.bytes.size() == 8 && std::uint8_t(f.bytes[0]) == address &&
            f.bytes.mid(1, 3) == QByteArray::fromHex("060A04"))
            values.push_back(256 * std::uint8_t(f.bytes[4]) + std::uint8_t(f.bytes[5]));
    return values;
}
