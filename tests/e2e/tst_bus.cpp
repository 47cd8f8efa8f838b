// A line of modules on the sensor simulator: scanned, given their addresses one by one as
// they are connected, and watched with every count checked against the simulator's log.

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/bus/assignwindow.h"
#include "extras/bus/overviewwindow.h"
#include "extras/bus/scanwindow.h"
#include "extras/record/recordtool.h"
#include "serial/mscomm.h"
#include "windowonsim.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <map>

namespace {

int Frames(const std::vector<LoggedFrame> &log, int address, int function) {
    int count = 0;
    for (const LoggedFrame &f : log)
        if (f.bytes.size() >= 2 && std::uint8_t(f.bytes[0]) == address &&
            (function == 0 || std::uint8_t(f.bytes[1]) == function))
            ++count;
    return count;
}

QStringList Lines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace

class TstBus : public WindowOnSimulator {
    Q_OBJECT

    template <typename T> T *open(Qt::Key key) {
        for (QAction *action : tools_->Menu()->actions())
            if (action->shortcut() == QKeySequence(Qt::CTRL | key))
                action->trigger();
        return w_->findChild<T *>();
    }
    QStringList row(QTableWidget *table, int r) const {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << (table->item(r, c) ? table->item(r, c)->text() : QString());
        return cells;
    }
    // The line given back: no holder, the window's port open again.
    void lineGivenBack() const {
        QVERIFY(!w_->Lease->Refusal(nullptr));
        QTRY_VERIFY_WITH_TIMEOUT(w_->MSComm1->portOpen(), 3000);
        QVERIFY(w_->Frame5->isEnabled());
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { reset(); }

    // Three modules answer; two at one address collide and are never taken for a module.
    void scanFindsModulesAndCollision() {
        start({"--light", "1000", "--module", "3", "--module", "5:sensitivity=0.9", "--module", "7",
               "--module", "9", "--module", "9"});
        auto *scan = open<ScanWindow>(Qt::Key_B);
        QVERIFY(scan);
        QSignalSpy finished(scan, &ScanWindow::Finished);
        scan->startButton->click();
        QVERIFY(w_->Lease->Refusal(nullptr));
        QVERIFY(finished.wait(10000));
        QCOMPARE(scan->table->rowCount(), 4);
        QCOMPARE(row(scan->table, 0).mid(0, 3), (QStringList{"3", "19200", "1000"}));
        QCOMPARE(row(scan->table, 1).mid(0, 3), (QStringList{"5", "19200", "900"}));
        QCOMPARE(row(scan->table, 2).mid(0, 3), (QStringList{"7", "19200", "1000"}));
        QCOMPARE(row(scan->table, 3),
                 (QStringList{"9", "19200", "", "", "可能有两个模块使用同一地址"}));
        // One request an address, no more.
        const auto asked = sim_->log(QStringLiteral("rx"));
        QCOMPARE(int(asked.size()), 35);
        lineGivenBack();

        scan->table->selectRow(3);
        QVERIFY(!scan->useButton->isEnabled()); // a collision is no module to use
        scan->table->selectRow(1);
        QVERIFY(scan->useButton->isEnabled());
        scan->useButton->click();
        QCOMPARE(w_->txtStationID->text(), QStringLiteral("5"));
        QTRY_VERIFY(w_->MSComm1->portOpen());
    }

    // Three new modules at the factory address, connected one after the other.
    void assignsModulesAddedOneByOne() {
        start({"--module", "20"});
        auto *assign = open<AssignWindow>(Qt::Key_D);
        QVERIFY(assign);
        assign->SetLogFolder(dir_->path());
        QSignalSpy said(assign, &AssignWindow::StatusChanged);
        const auto waitFor = [&](const QString &text) {
            return QTest::qWaitFor(
                [&] {
                    for (const auto &args : said)
                        if (args.at(0).toString() == text)
                            return true;
                    return false;
                },
                10000);
        };

        // A first address already taken: refused in words, nothing written.
        assign->firstBox->setText(QStringLiteral("20"));
        assign->startButton->click();
        QVERIFY(sim_->command("add"));
        QVERIFY(waitFor(QStringLiteral("地址 20 已被占用，没有写入。请换一个起始地址。")));
        QCOMPARE(Frames(sim_->log(QStringLiteral("rx")), 1, 6), 0);
        lineGivenBack();

        // Two new modules at once: nothing is written until one is taken off.
        assign->firstBox->setText(QStringLiteral("2"));
        QVERIFY(sim_->command("add"));
        assign->startButton->click();
        QVERIFY(waitFor(QStringLiteral("地址 1 上可能有两个模块，没有写入。请只接一个新模块。")));
        QCOMPARE(Frames(sim_->log(QStringLiteral("rx")), 1, 6), 0);
        QVERIFY(sim_->command("pull 1"));
        QVERIFY(sim_->command("add"));
        QVERIFY(waitFor(QStringLiteral("已分配地址 2，请接上下一个模块")));
        QVERIFY(sim_->command("add"));
        QVERIFY(waitFor(QStringLiteral("已分配地址 3，请接上下一个模块")));
        QVERIFY(sim_->command("add"));
        QVERIFY(waitFor(QStringLiteral("已分配地址 4，请接上下一个模块")));
        assign->close();
        lineGivenBack();

        // Each module written once, through the window's address change.
        QCOMPARE(Frames(sim_->log(QStringLiteral("rx")), 1, 6), 3);
        const QStringList rows = Lines(assign->LogPath());
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[0], QStringLiteral("时间,串口,波特率,原地址,新地址,已验证"));
        for (int i = 1; i <= 3; ++i)
            QVERIFY2(rows[i].endsWith(QStringLiteral(",COM4,19200,1,%1,是").arg(i + 1)),
                     qPrintable(rows[i]));
        // The window sent them and showed them.
        QCOMPARE(w_->txtCommand->text(), QStringLiteral("01 03 00 00 00 01 84 0A "));
    }

    // Ten modules polled as fast as the line allows, one pulled off: every count is the
    // simulator's, the pulled one is marked, and a recording has a row per reading.
    void overviewCountsEveryModule() {
        start({"--module", "1",        "--module", "2",        "--module", "3",        "--module",
               "4",        "--module", "5",        "--module", "6",        "--module", "7",
               "--module", "8",        "--module", "9",        "--module", "10"});
        w_->txtTimerSet->setText(QStringLiteral("0"));
        const QString recording = dir_->filePath(QStringLiteral("bus.csv"));
        QVERIFY(tools_->Recording().Start(recording));
        auto *overview = open<OverviewWindow>(Qt::Key_L);
        QVERIFY(overview);
        overview->addressBox->setText(QStringLiteral("1-10"));
        overview->startButton->click();
        QVERIFY(overview->Polling());
        QTRY_VERIFY_WITH_TIMEOUT(overview->Health()[0].replies > 20, 10000);
        QVERIFY(sim_->command("pull 4"));
        QTRY_VERIFY_WITH_TIMEOUT(overview->Health()[3].Missing(), 10000);
        overview->startButton->click();
        QTRY_VERIFY(!overview->Polling());
        lineGivenBack();
        tools_->Recording().Stop();

        const auto rx = sim_->log(QStringLiteral("rx"));
        const auto tx = sim_->log(QStringLiteral("tx"));
        std::uint64_t readings = 0;
        for (const bus::ModuleHealth &h : overview->Health()) {
            QCOMPARE(h.requests, std::uint64_t(Frames(rx, h.address, 3)));
            QCOMPARE(h.replies, std::uint64_t(Frames(tx, h.address, 3)));
            QCOMPARE(h.requests, h.replies + h.timeouts);
            QCOMPARE(h.crcErrors + h.wrongAddress, std::uint64_t(0));
            QCOMPARE(h.Missing(), h.address == 4);
            readings += h.replies;
        }
        QCOMPARE(row(overview->table, 3).last(),
                 QStringLiteral("连续 %1 轮无应答").arg(overview->Health()[3].missedRounds));
        QCOMPARE(overview->table->item(3, 0)->background().color(), QColor(255, 190, 190));
        // The header, and one row per reading with its module's address.
        const QStringList rows = Lines(recording);
        QCOMPARE(std::uint64_t(rows.size() - 1), readings);
        QVERIFY(rows.last().section(u',', 1, 1).toInt() >= 1);
    }

    // An address out of range refused, the tool window closed while it polls, and the
    // adapter pulled out: each time the line comes back whole.
    void overviewClosedGivesLineBack() {
        start({"--module", "3"});
        w_->txtTimerSet->setText(QStringLiteral("50"));
        auto *overview = open<OverviewWindow>(Qt::Key_L);
        overview->addressBox->setText(QStringLiteral("3,36"));
        overview->startButton->click();
        QVERIFY(!overview->Polling()); // 36 is no address
        QCOMPARE(shown_.back().text, QStringLiteral("地址 36 超出范围，地址为 1 到 35"));
        overview->addressBox->setText(QStringLiteral("3"));
        overview->startButton->click();
        QTRY_VERIFY(overview->Health()[0].replies > 3);
        overview->close();
        lineGivenBack();

        // The adapter pulled out while it polls: it stops and says why, the line goes back.
        overview->show();
        overview->startButton->click();
        QTRY_VERIFY(overview->Health()[0].replies > 3);
        sim_->unplug();
        QTRY_VERIFY(!overview->Polling());
        QCOMPARE(overview->status->text(), QStringLiteral("串口已关闭或连接已断开"));
        QVERIFY(!w_->Lease->Refusal(nullptr));
        QVERIFY(sim_->replug());
    }
};

QTEST_MAIN(TstBus)
#include "tst_bus.moc"
