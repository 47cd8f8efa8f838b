// "查找模块…" in the window: the window's port and polling while the search runs and after
// a cancel, and "使用此设置" against the simulator, which hears only its own rate.

#include "extras/search/findmoduledialog.h"
#include "serial/mscomm.h"
#include "serial/portdevice.h"
#include "tests/e2e/simulator.h"
#include "windowharness.h"

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

QByteArray CommSet(const QTemporaryDir &dir) {
    QFile file(dir.filePath(QStringLiteral("comm.set")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Ctrl+F in the active window, as the user opens it.
FindModuleDialog *OpenSearch(frmMain &w) {
    w.show();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        return nullptr;
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    return w.findChild<FindModuleDialog *>();
}

} // namespace

class TstFindWindow : public QObject {
    Q_OBJECT

    WindowHarness h_;

private slots:
    void cleanup() { h_.reset(); }

    void cancelPutsThePortBack_data() {
        QTest::addColumn<bool>("polling");
        QTest::newRow("idle") << false;
        QTest::newRow("polling") << true;
    }
    void cancelPutsThePortBack() {
        QFETCH(bool, polling);
        frmMain &w = h_.start(); // COM4, a line where nothing answers
        QVERIFY(w.MSComm1->portOpen());
        if (polling)
            w.cmdOneM->click();
        QLabel *lamp = w.FrontLamp();

        FindModuleDialog *dialog = OpenSearch(w);
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->status->text().startsWith(QStringLiteral("正在尝试")));
        QVERIFY(!w.MSComm1->portOpen());
        QVERIFY(!w.Timer2->isActive());
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);

        QTest::keyClick(dialog->cancelButton, Qt::Key_Space);
        QTRY_VERIFY(!w.findChild<FindModuleDialog *>());
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(w.Timer2->isActive(), polling);
        QCOMPARE(w.FrontLamp(), lamp);
        QCOMPARE(CommSet(*h_.dir), QByteArray("4,19200\r\n"));
        h_.module->receive(4096, 50); // what the search sent before it was stopped
        w.comDoOnce->click();
        QCOMPARE(h_.module->receive(8).size(), 8); // the window's own query on its port
    }

    // The module at 9600 behind COM7, comm.set at COM4, 19200: after "使用此设置" the window
    // is as if COM7 and 9600 had been chosen and saved, and the address typed in.
    void useTheseSettings() {
        frmMain &w = h_.start();
        Simulator sim(h_.dir->path(), 7,
                      {QStringLiteral("--baud"), QStringLiteral("9600"),
                       QStringLiteral("--address"), QStringLiteral("7")});
        QVERIFY(sim.isReady());
        const QString device = QFile::symLinkTarget(h_.dir->filePath(QStringLiteral("COM7")));

        FindModuleDialog *dialog = OpenSearch(w);
        QVERIFY(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->useButton->isEnabled(), 20000);
        QCOMPARE(dialog->status->text(),
                 QStringLiteral("在 COM7 (%1) 找到模块：地址 7，波特率 9600").arg(device));
        QCOMPARE(dialog->useButton->accessibleName(), QStringLiteral("使用此设置"));
        // A screen reader hears where the module is, not the field's description.
        QAccessibleInterface *said = QAccessible::queryAccessibleInterface(dialog->status);
        QVERIFY(said && said->text(QAccessible::Name) == dialog->status->text());
        h_.shown.clear();
        QTest::keyClick(dialog->useButton, Qt::Key_Space);

        QTRY_VERIFY(!w.findChild<FindModuleDialog *>());
        QCOMPARE(CommSet(*h_.dir), QByteArray("7,9600\r\n"));
        QCOMPARE(w.Combo1->ListIndex(), 6);
        QCOMPARE(w.Combo1->currentText(), QStringLiteral("COM7"));
        QCOMPARE(w.Combo2->currentText(), QStringLiteral("9600"));
        QVERIFY(w.Combo2->ListIndex() >= 0);
        QCOMPARE(w.txtStationID->text(), QStringLiteral("7"));
        QCOMPARE(w.txtSetID(0)->text(), QStringLiteral("7"));
        QCOMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(h_.shown[0].text, QStringLiteral("串口设置保存成功"));
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(PortDevice(7, w.Place()), device); // the port now open leads to it

        w.comDoOnce->click();
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(sim.log(QStringLiteral("tx")).back().bytes.at(0), char(7));
    }
};

QTEST_MAIN(TstFindWindow)
#include "tst_findwindow.moc"
