// The window's line lent to a tool: for each way the window was (polling or not, port open
// or not) and each way the lease ends, the window afterwards is exactly as before. And a
// second tool asking while the line is lent is refused, by name, with nothing changed.

#include "app/linelease.h"
#include "extras/calibrate/calibrationwindow.h"
#include "extras/search/findmoduledialog.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"
#include "windowharness.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

enum class Ending { GivenBack, WindowClosed, Deleted, PortLost };

// What the lease takes from the window and must give back.
struct WindowState {
    bool polling = false;
    int interval = 0;
    bool portOpen = false;
    QLabel *lamp = nullptr;
    QString settings;
    std::vector<bool> enabled;
};

std::vector<QWidget *> LentControls(frmMain &w) {
    return {w.Frame5, w.Frame10, w.Frame7, w.Frame12, w.comDoOnce, w.cmdOneM, w.cmdStopOnce};
}

WindowState StateOf(frmMain &w) {
    WindowState s{w.Timer2->isActive(), w.Timer2->interval(),  w.MSComm1->portOpen(),
                  w.FrontLamp(),        w.MSComm1->settings(), {}};
    for (QWidget *control : LentControls(w))
        s.enabled.push_back(control->isEnabled());
    return s;
}

QLabel *HolderLabel(frmMain &w) {
    return w.findChild<QLabel *>(QStringLiteral("LineHolder"));
}

void Trigger(ExtraTools &tools, QKeySequence keys) {
    for (QAction *action : tools.Menu()->actions())
        if (action->shortcut() == keys)
            action->trigger();
}

} // namespace

Q_DECLARE_METATYPE(LineLease::Need)
Q_DECLARE_METATYPE(Ending)

class TstLease : public QObject {
    Q_OBJECT

    WindowHarness h_;

private slots:
    void cleanup() { h_.reset(); }

    void endingRestoresTheWindow_data() {
        QTest::addColumn<LineLease::Need>("need");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<bool>("portOpen");
        QTest::addColumn<Ending>("ending");
        const std::pair<LineLease::Need, const char *> needs[] = {
            {LineLease::Need::Port, "port"}, {LineLease::Need::Device, "device"}};
        const std::pair<Ending, const char *> endings[] = {{Ending::GivenBack, "given back"},
                                                           {Ending::WindowClosed, "window closed"},
                                                           {Ending::Deleted, "tool deleted"},
                                                           {Ending::PortLost, "port lost"}};
        for (const auto &[need, needName] : needs)
            for (bool polling : {false, true})
                for (bool open : {false, true})
                    for (const auto &[ending, endingName] : endings) {
                        // Only a lent open port can be lost under the tool.
                        if (ending == Ending::PortLost && (need != LineLease::Need::Port || !open))
                            continue;
                        QTest::addRow("%s, %s, %s, %s", needName, polling ? "polling" : "idle",
                                      open ? "open" : "closed", endingName)
                            << need << polling << open << ending;
                    }
    }
    void endingRestoresTheWindow() {
        QFETCH(LineLease::Need, need);
        QFETCH(bool, polling);
        QFETCH(bool, portOpen);
        QFETCH(Ending, ending);
        frmMain &w = h_.start(portOpen);
        QCOMPARE(w.MSComm1->portOpen(), portOpen);
        if (polling) {
            w.txtTimerSet->setText(QStringLiteral("300"));
            w.cmdOneM->click();
        }
        const WindowState before = StateOf(w);
        QCOMPARE(before.polling, polling);

        auto *tool = new QObject;
        QWidget toolWindow;
        toolWindow.show();
        QSignalSpy revoked(w.Lease, &LineLease::Revoked);
        QVERIFY(!w.Lease->Take(tool, QStringLiteral("测试工具"), need, &toolWindow));

        // Lent: no polling, nothing to disturb the line, and the window says who has it.
        QVERIFY(!w.Timer2->isActive());
        for (QWidget *control : LentControls(w))
            QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
        QCOMPARE(w.MSComm1->portOpen(), portOpen && need == LineLease::Need::Port);
        QVERIFY(!HolderLabel(w)->isHidden());
        QCOMPARE(HolderLabel(w)->text(), QStringLiteral("串口由“测试工具”使用中"));
        QObject other;
        QCOMPARE(w.Lease->Take(&other, QStringLiteral("其他工具"), LineLease::Need::Port),
                 QStringLiteral("测试工具正在使用串口，请先结束测试工具"));
        QVERIFY(w.Lease->HeldBy(tool));

        QString reason;
        switch (ending) {
        case Ending::GivenBack:
            w.Lease->GiveBack(tool);
            break;
        case Ending::WindowClosed:
            toolWindow.close();
            reason = QStringLiteral("窗口已关闭");
            break;
        case Ending::Deleted:
            delete std::exchange(tool, nullptr);
            break;
        case Ending::PortLost:
            h_.module->unplug();
            QTRY_COMPARE(revoked.size(), 1);
            reason = QStringLiteral("串口已关闭或连接已断开");
            break;
        }
        const bool lost = ending == Ending::PortLost;
        QCOMPARE(revoked.size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QCOMPARE(revoked[0][1].toString(), reason);
        const WindowState after = StateOf(w);
        QCOMPARE(after.polling, before.polling);
        if (polling)
            QCOMPARE(after.interval, before.interval);
        QCOMPARE(after.enabled, before.enabled);
        QCOMPARE(after.portOpen, before.portOpen && !lost); // a lost device is not reopened
        QCOMPARE(after.settings, before.settings);
        if (!lost)
            QCOMPARE(after.lamp, before.lamp);
        QVERIFY(HolderLabel(w)->isHidden());
        QVERIFY(!w.Lease->Take(&other, QStringLiteral("其他工具"), LineLease::Need::Port));
        w.Lease->GiveBack(&other);
        delete tool;
    }

    // The calibration measuring, the technician not polling, then Ctrl+F (its menu entry): the
    // search is refused by name, and the calibration goes on with the line as it had it.
    void searchRefusedWhileCalibrationMeasures() {
        frmMain &w = h_.start();
        Simulator sim(h_.dir->path(), 7);
        QVERIFY(sim.isReady());
        w.UseSettings(7, 19200, 1);
        QVERIFY(w.MSComm1->portOpen());
        w.txtTimerSet->setText(QStringLiteral("50"));
        Trigger(*h_.tools, QKeySequence(Qt::CTRL | Qt::Key_K));
        auto *c = w.findChild<CalibrationWindow *>();
        QVERIFY(c);
        c->SetLogFolder(h_.dir->path());
        for (QLineEdit *box : c->findChildren<QLineEdit *>()) {
            if (box->accessibleName() == QStringLiteral("参考值"))
                box->setText(QStringLiteral("1000"));
            if (box->accessibleName() == QStringLiteral("测量时间(s)"))
                box->setText(QStringLiteral("30"));
        }
        c->StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.Timer2->isActive(), 5000); // measuring
        h_.shown.clear();

        Trigger(*h_.tools, QKeySequence(Qt::CTRL | Qt::Key_F));
        QCOMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(h_.shown[0].text, QStringLiteral("校准正在使用串口，请先结束校准"));
        QVERIFY(!w.findChild<FindModuleDialog *>());
        QVERIFY(w.MSComm1->portOpen());
        QVERIFY(w.Timer2->isActive());
        QVERIFY(c->Busy());

        // Ending the calibration gives the line back as it was: open, and not polling.
        c->close();
        QVERIFY(!w.Timer2->isActive());
        QVERIFY(w.MSComm1->portOpen());
        QVERIFY(w.Frame5->isEnabled());
        QVERIFY(HolderLabel(w)->isHidden());
    }
};

QTEST_MAIN(TstLease)
#include "tst_lease.moc"
