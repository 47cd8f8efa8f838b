// Calibrating against the sensor simulator: a module that reads 5 % low under a steady
// light is brought within the tolerance through the window's own paths; a module that
// acknowledges writes without taking them is caught by the read-back and put back.

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/calibrate/calibrationwindow.h"
#include "serial/mscomm.h"
#include "windowonsim.h"

#include <QAction>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

namespace {

const QStringList kLowModule = {QStringLiteral("--light"), QStringLiteral("1000"),
                                QStringLiteral("--sensitivity"), QStringLiteral("0.95")};
// A measurement of 2 s, a read, a write and a read-back.
constexpr int kStepMs = 8000;

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstCalibration : public WindowOnSimulator {
    Q_OBJECT

    std::vector<QString> asked_;
    bool answer_ = true; // to the question before an unstable write

    CalibrationWindow *open(frmMain &w) {
        w.txtTimerSet->setText(QStringLiteral("50"));
        for (QAction *action : tools_->Menu()->actions())
            if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_K))
                action->trigger();
        auto *c = w.findChild<CalibrationWindow *>();
        if (!c)
            return nullptr;
        c->SetLogFolder(dir_->path());
        c->SetAsker([this](const QString &question) {
            asked_.push_back(question);
            return answer_;
        });
        field(c, u"参考值")->setText(QStringLiteral("1000"));
        field(c, u"测量时间(s)")->setText(QStringLiteral("2"));
        field(c, u"操作员")->setText(QStringLiteral("测试员"));
        return c;
    }
    static QLineEdit *field(QWidget *c, const char16_t *name) {
        for (QLineEdit *box : c->findChildren<QLineEdit *>())
            if (box->accessibleName() == QString::fromUtf16(name))
                return box;
        qFatal("no field");
    }
    bool windowFramesEnabled() const {
        return w_->Frame5->isEnabled() && w_->Frame7->isEnabled() && w_->Frame10->isEnabled() &&
               w_->Frame12->isEnabled() && w_->cmdOneM->isEnabled();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() {
        reset();
        asked_.clear();
        answer_ = true;
    }

    void bringsALowModuleWithinTolerance() {
        frmMain &w = start(kLowModule);
        CalibrationWindow *c = open(w);
        QVERIFY(c && c->isVisible() && c->windowTitle() == QStringLiteral("校准"));

        c->StartButton()->click();
        QVERIFY(c->Busy() && !w.Frame7->isEnabled() && !w.Frame5->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(c->WriteButton()->isEnabled(), kStepMs);
        QVERIFY2(c->Status().contains(QStringLiteral("误差 -5.00 %")), qPrintable(c->Status()));
        QCOMPARE(field(c, u"新系数")->text(), QStringLiteral("1.0526"));
        QVERIFY(!w.Timer2->isActive() && windowFramesEnabled());
        QVERIFY(coefficientWrites(1).empty()); // nothing written before the button

        c->WriteButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->Status().startsWith(QStringLiteral("校准完成")), 2 * kStepMs);
        QVERIFY2(c->Status().contains(QStringLiteral("最后写入：量程缩放系数 1.0526（已确认）")),
                 qPrintable(c->Status()));
        QCOMPARE(coefficientWrites(1), std::vector<int>{10526});
        QCOMPARE(w.txtsetValue(0)->text(), QStringLiteral("1.0526")); // read back in the window
        QVERIFY(!w.Timer2->isActive() && windowFramesEnabled());
        QVERIFY(asked_.empty()); // a steady light is stable

        const QByteArray log = ReadAll(c->LogPath());
        QVERIFY(log.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(log.count("\r\n"), 2);
        QVERIFY(log.contains(QStringLiteral(",1.0000,0,").toUtf8())); // as found, offset
        QVERIFY(log.contains(QStringLiteral(",合格,校准完成").toUtf8()));
        const QString pdf = dir_->filePath(QStringLiteral("cert.pdf"));
        QVERIFY(c->SaveCertificate(pdf));
        QVERIFY(ReadAll(pdf).startsWith("%PDF"));

        // Closed while it measures: its polling stops and the window gets its frames back.
        c->StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.Timer2->isActive(), kStepMs);
        c->close();
        QVERIFY(!c->Busy() && !w.Timer2->isActive() && windowFramesEnabled());
        QVERIFY(ReadAll(c->LogPath()).contains(QStringLiteral("窗口关闭").toUtf8()));
        QVERIFY2(shown_.empty(), shown_.empty() ? "" : qPrintable(shown_[0].text));
    }

    void badFieldStartsNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        const QString reference = QStringLiteral("参考值应为大于 0 的数字");
        const QString tolerance = QStringLiteral("允许误差(%)应为大于 0 且不超过 100");
        const QString time = QStringLiteral("测量时间(s)应为 1 到 3600 之间的整数");
        QTest::newRow("reference zero") << "参考值"
                                        << "0" << reference;
        QTest::newRow("reference negative") << "参考值"
                                            << "-950" << reference;
        QTest::newRow("reference not a number") << "参考值"
                                                << "一千" << reference;
        QTest::newRow("reference infinite") << "参考值"
                                            << "inf" << reference;
        QTest::newRow("tolerance zero") << "允许误差(%)"
                                        << "0" << tolerance;
        QTest::newRow("tolerance above 100") << "允许误差(%)"
                                             << "100.5" << tolerance;
        QTest::newRow("time below 1 s") << "测量时间(s)"
                                        << "0" << time;
        QTest::newRow("time above an hour") << "测量时间(s)"
                                            << "3601" << time;
        QTest::newRow("time not whole") << "测量时间(s)"
                                        << "2.5" << time;
    }
    // A wrong field is told and nothing starts: no request, no log row.
    void badFieldStartsNothing() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, message);
        frmMain &w = start();
        CalibrationWindow *c = open(w);
        QVERIFY(c);
        field(c, reinterpret_cast<const char16_t *>(name.utf16()))->setText(text);
        c->StartButton()->click();
        QCOMPARE(shown_.size(), size_t(1));
        QVERIFY2(shown_[0].text.contains(message), qPrintable(shown_[0].text));
        QVERIFY(!c->Busy() && windowFramesEnabled());
        QTest::qWait(100);
        QVERIFY(sim_->log(QStringLiteral("rx")).empty());
        QVERIFY(!QFile::exists(c->LogPath()));
    }

    // Another tool holds the line: the start tells why and changes nothing, no log row.
    void heldLineStartsNothing() {
        frmMain &w = start();
        CalibrationWindow *c = open(w);
        QVERIFY(c);
        QObject tool;
        QVERIFY(!w.Lease->Take(&tool, QStringLiteral("查找模块"), LineLease::Need::Port));
        c->StartButton()->click();
        QCOMPARE(shown_.size(), size_t(1));
        QCOMPARE(shown_[0].text, QStringLiteral("查找模块正在使用串口，请先结束查找模块"));
        QCOMPARE(c->Status(), shown_[0].text);
        QVERIFY(!c->Busy() && c->StartButton()->isEnabled());
        QTest::qWait(100);
        QVERIFY(sim_->log(QStringLiteral("rx")).empty());
        QVERIFY(!QFile::exists(c->LogPath()));
        w.Lease->GiveBack(&tool);
    }

    // A reading that wanders by more than the tolerance allows: the write waits for a yes,
    // and a no writes nothing.
    void unstableWriteNeedsConsent() {
        frmMain &w =
            start(kLowModule + QStringList{QStringLiteral("--light-noise"), QStringLiteral("100")});
        CalibrationWindow *c = open(w);
        QVERIFY(c);
        c->StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->WriteButton()->isEnabled(), kStepMs);
        QCOMPARE(field(c, u"稳定性")->text(), QStringLiteral("不稳定"));
        answer_ = false;
        c->WriteButton()->click();
        QCOMPARE(asked_.size(), size_t(1));
        QTest::qWait(300);
        QVERIFY(coefficientWrites(1).empty() && !c->WriteButton()->isEnabled());
        QVERIFY(ReadAll(c->LogPath()).contains(QStringLiteral("测量不稳定").toUtf8()));
    }

    // The adapter pulled out while it measures: one message, the window's frames back.
    void lostPortStopsIt() {
        frmMain &w = start(kLowModule);
        CalibrationWindow *c = open(w);
        QVERIFY(c);
        c->StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.Timer2->isActive(), kStepMs);
        sim_->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(!c->Busy(), kStepMs);
        QVERIFY(!w.Timer2->isActive() && windowFramesEnabled());
        QVERIFY(!shown_.empty());
        QVERIFY2(shown_.back().text.contains(QStringLiteral("未写入任何内容")),
                 qPrintable(shown_.back().text));
        QVERIFY(ReadAll(c->LogPath()).contains(QStringLiteral("不合格").toUtf8()));
    }

    // The technician polls meanwhile: that polling goes on afterwards.
    void readOnlyModuleIsCaughtAndRestored() {
        frmMain &w = start(kLowModule + QStringList{QStringLiteral("--read-only-params")});
        CalibrationWindow *c = open(w);
        QVERIFY(c);
        w.cmdOneM->click();
        c->StartButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->WriteButton()->isEnabled(), kStepMs);
        c->WriteButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->RestoreButton()->isEnabled(), kStepMs);
        QVERIFY2(c->Status().contains(
                     QStringLiteral("回读的量程缩放系数为 1.0000，与写入的 1.0526 不符")),
                 qPrintable(c->Status()));
        QVERIFY(w.Timer2->isActive() && windowFramesEnabled());

        c->RestoreButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(c->Status().startsWith(QStringLiteral("已恢复原值")), 2 * kStepMs);
        QCOMPARE(coefficientWrites(1), (std::vector<int>{10526, 10000}));
        QVERIFY2(c->Status().contains(QStringLiteral("误差 -5.00 %")), qPrintable(c->Status()));
        QVERIFY(w.Timer2->isActive() && windowFramesEnabled());
        QVERIFY(ReadAll(c->LogPath()).contains(QStringLiteral(",不合格,已恢复原值").toUtf8()));
        QVERIFY(shown_.empty());
    }
};

QTEST_MAIN(TstCalibration)
#include "tst_calibration.moc"
