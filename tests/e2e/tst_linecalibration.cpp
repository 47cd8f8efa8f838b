// A whole line calibrated at once on the sensor simulator: ten modules of their own gain
// errors brought within the tolerance in one calibration, a module that will not take its
// coefficient caught and restored while the others go on, three reference levels with
// the light changed between them, and how a calibration ends: finished, closed, stopped.

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/calibrate/linecalibrationwindow.h"
#include "serial/mscomm.h"
#include "windowonsim.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QtTest>

#include <cmath>

namespace {

// Two measurements of 2 s and the reads and writes of ten modules.
constexpr int kStepMs = 15000;

QStringList LineOf(const std::vector<double> &sensitivities, const QString &special = {}) {
    QStringList options = {QStringLiteral("--light"), QStringLiteral("1000")};
    for (std::size_t i = 0; i < sensitivities.size(); ++i) {
        QString module =
            QStringLiteral("%1:sensitivity=%2,noise=2").arg(i + 1).arg(sensitivities[i]);
        if (int(i + 1) == special.toInt())
            module += QStringLiteral(",read-only-params");
        options << QStringLiteral("--module") << module;
    }
    return options;
}

QStringList LogLines(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace

class TstLineCalibration : public WindowOnSimulator {
    Q_OBJECT

    std::vector<QString> asked_;

    LineCalibrationWindow *open(const QString &addresses) {
        for (QAction *action : tools_->Menu()->actions())
            if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K))
                action->trigger();
        auto *c = w_->findChild<LineCalibrationWindow *>();
        if (!c)
            return nullptr;
        c->SetLogFolder(dir_->path());
        c->SetAsker([this](const QString &question) {
            asked_.push_back(question);
            return true;
        });
        c->addressBox->setText(addresses);
        c->referenceBox->setText(QStringLiteral("1000"));
        // A second gives a few modules tens of readings each; ten modules get 2 s below.
        c->secondsBox->setText(QStringLiteral("1"));
        c->uncertaintyBox->setText(QStringLiteral("1"));
        c->dueBox->setText(QDate::currentDate().addYears(1).toString(Qt::ISODate));
        c->numberBox->setText(QStringLiteral("LC-2026-0009"));
        return c;
    }
    // The step under way ends and the window has its line back.
    static bool stepEnds(LineCalibrationWindow *c, frmMain &w) {
        return QTest::qWaitFor([&] { return !c->Flow().Busy(); }, kStepMs) &&
               QTest::qWaitFor([&] { return w.MSComm1->portOpen(); }, 3000) &&
               !w.Lease->Refusal(nullptr);
    }
    static QString cell(QTableWidget *table, int row, const char16_t *column) {
        for (int c = 0; c < table->columnCount(); ++c)
            if (table->horizontalHeaderItem(c)->text() == QString::fromUtf16(column))
                return table->item(row, c) ? table->item(row, c)->text() : QString();
        return QStringLiteral("no column");
    }
    void label(LineCalibrationWindow *c, int row, const QString &text) {
        c->table->selectRow(row);
        c->labelBox->setText(QString());
        QTest::keyClicks(c->labelBox, text);
    }
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() {
        reset();
        asked_.clear();
    }

    void tenModulesInOneCalibration() {
        const std::vector<double> gains = {0.92, 0.95, 0.97, 0.99, 1.0,
                                           1.01, 1.03, 1.05, 1.07, 1.08};
        frmMain &w = start(LineOf(gains));
        LineCalibrationWindow *c = open(QStringLiteral("1-10"));
        QVERIFY(c);
        c->secondsBox->setText(QStringLiteral("2"));
        c->startButton->click();
        QVERIFY(stepEnds(c, w));
        QVERIFY2(c->writeButton->isEnabled(), qPrintable(c->status->text()));
        for (int i = 0; i < 10; ++i) {
            QVERIFY(coefficientWrites(i + 1).empty()); // nothing written before the button
            const double found = (gains[std::size_t(i)] - 1) * 100;
            QVERIFY2(std::abs(c->Flow().Modules()[std::size_t(i)].levels[0].asFound->errorPercent -
                              found) < 0.5,
                     qPrintable(cell(c->table, i, u"调整前误差")));
        }

        c->writeButton->click();
        QVERIFY(stepEnds(c, w));
        for (int i = 0; i < 10; ++i) {
            const auto &m = c->Flow().Modules()[std::size_t(i)];
            QCOMPARE(coefficientWrites(i + 1).size(), 1u);
            QCOMPARE(m.leftCoefficient, std::optional<std::uint16_t>(coefficientWrites(i + 1)[0]));
            QVERIFY2(std::abs(m.levels[0].asLeft->errorPercent) < 2, qPrintable(m.state));
            QCOMPARE(cell(c->table, i, u"结果"), QStringLiteral("合格"));
            label(c, i, QStringLiteral("SN-%1").arg(100 + i));
        }
        QVERIFY(c->FinishInto(dir_->filePath(QStringLiteral("certificates"))));
        for (int n = 9; n <= 18; ++n) {
            QFile pdf(dir_->filePath(
                QStringLiteral("certificates/校准证书-LC-2026-%1.pdf").arg(n, 4, 10, QChar(u'0'))));
            QVERIFY2(pdf.open(QIODevice::ReadOnly) && pdf.read(4) == "%PDF",
                     qPrintable(pdf.fileName()));
        }
        QCOMPARE(c->numberBox->text(), QStringLiteral("LC-2026-0019"));
        const QStringList log = LogLines(c->Flow().LogPath());
        QCOMPARE(log.size(), 11); // the header and a row per module
        QVERIFY(log[1].contains(QStringLiteral(",SN-100,LC-2026-0009,")));
        QVERIFY(log[10].contains(QStringLiteral(",SN-109,LC-2026-0018,")));
        QVERIFY2(shown_.empty(), shown_.empty() ? "" : qPrintable(shown_[0].text));
        QVERIFY(asked_.empty()); // a steady light with little noise is stable
    }

    // Module 2 echoes the write but keeps its coefficient.
    void readOnlyModuleMarkedAndRestored() {
        frmMain &w = start(LineOf({0.95, 0.95, 1.05}, QStringLiteral("2")));
        LineCalibrationWindow *c = open(QStringLiteral("1-3"));
        QVERIFY(c);
        c->startButton->click();
        QVERIFY(stepEnds(c, w));
        c->writeButton->click();
        QVERIFY(stepEnds(c, w));
        QVERIFY2(cell(c->table, 1, u"状态")
                     .contains(QStringLiteral("回读的量程缩放系数为 1.0000，与写入的")),
                 qPrintable(cell(c->table, 1, u"状态")));
        QCOMPARE(cell(c->table, 1, u"结果"), QStringLiteral("不合格"));
        for (int row : {0, 2})
            QCOMPARE(cell(c->table, row, u"结果"), QStringLiteral("合格"));

        c->table->selectRow(1);
        c->restoreButton->click();
        QVERIFY(stepEnds(c, w));
        QCOMPARE(coefficientWrites(2).size(), 2u);
        QCOMPARE(coefficientWrites(2)[1], 10000);
        QCOMPARE(coefficientWrites(1).size(), 1u); // the others are left as adjusted
        QVERIFY2(cell(c->table, 1, u"状态").startsWith(QStringLiteral("已恢复原值 1.0000")),
                 qPrintable(cell(c->table, 1, u"状态")));
        QVERIFY(shown_.empty());
    }

    // After the adjustment at 1000 lx the light goes to 100 and 4000 lx. The reference is
    // past its due date: asked once, and named in the record.
    void threeLevelsShowTheLinearity() {
        frmMain &w = start(LineOf({0.95, 1.05}));
        LineCalibrationWindow *c = open(QStringLiteral("1,2"));
        QVERIFY(c);
        c->dueBox->setText(QDate::currentDate().addDays(-1).toString(Qt::ISODate));
        QVERIFY(!c->overdueLine->text().isEmpty());
        c->startButton->click();
        QCOMPARE(asked_.size(), 1u);
        QVERIFY(stepEnds(c, w));
        QVERIFY(c->Flow().Setup().overdueConfirmed);
        c->writeButton->click();
        QVERIFY(stepEnds(c, w));
        for (const char *lux : {"100", "4000"}) {
            QVERIFY(sim_->command(QByteArray("light ") + lux));
            c->referenceBox->setText(QString::fromLatin1(lux));
            c->levelButton->click();
            QVERIFY(stepEnds(c, w));
        }
        for (int row : {0, 1}) {
            const QString levels = cell(c->table, row, u"各检定点误差");
            QVERIFY2(levels.startsWith(QStringLiteral("1000: ")) && levels.contains(u"100: ") &&
                         levels.contains(u"4000: "),
                     qPrintable(levels));
            QVERIFY(!cell(c->table, row, u"线性").isEmpty());
            QCOMPARE(c->Flow().Modules()[std::size_t(row)].levels.size(), 3u);
        }
        label(c, 0, QStringLiteral("SN-1"));
        label(c, 1, QStringLiteral("SN-2"));
        QVERIFY(c->FinishInto(dir_->path()));
        QCOMPARE(LogLines(c->Flow().LogPath()).size(), 7); // a row per module and level

        // The module's history, when its label is typed again.
        label(c, 0, QStringLiteral("SN-2"));
        QCOMPARE(c->history->toPlainText().count(QStringLiteral("LC-2026-0010")), 3);
        QVERIFY(!c->history->toPlainText().contains(QStringLiteral("LC-2026-0009")));
        QVERIFY(shown_.empty());
    }

    // The adjustment level measured again under another light before the write: the
    // proposal follows. Certificates into a folder that cannot be made: nothing is logged,
    // and the calibration stays open with its numbers for the folder chosen next; one that
    // holds a certificate of that number already: asked first. Once it is finished nothing
    // more is written to the modules.
    void finishedOnceTheCertificatesAre() {
        frmMain &w = start(LineOf({0.95, 1.05}));
        LineCalibrationWindow *c = open(QStringLiteral("1,2"));
        QVERIFY(c);
        c->startButton->click();
        QVERIFY(stepEnds(c, w));
        QVERIFY(sim_->command("light 1100"));
        c->levelButton->click();
        QVERIFY(stepEnds(c, w));
        const double mean = c->Flow().Modules()[0].levels[0].asFound->stats.mean;
        QCOMPARE(c->Flow().ProposalText(0),
                 calibration::CoefficientText(
                     calibration::NewCoefficient(10000, 1000, mean).coefficient));

        label(c, 0, QStringLiteral("SN-1"));
        label(c, 1, QStringLiteral("SN-2"));
        QVERIFY(!c->FinishInto(QStringLiteral("/proc/none")));
        QVERIFY(c->Flow().Open());
        QVERIFY(LogLines(c->Flow().LogPath()).isEmpty());
        QCOMPARE(c->numberBox->text(), QStringLiteral("LC-2026-0009"));
        QFile earlier(dir_->filePath(QStringLiteral("校准证书-LC-2026-0010.pdf")));
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
        earlier.close();
        c->SetAsker([](const QString &) { return false; });
        QVERIFY(!c->FinishInto(dir_->path()));
        QVERIFY(earlier.open(QIODevice::ReadOnly) && earlier.readAll() == "earlier");
        earlier.close();
        c->SetAsker([](const QString &) { return true; });
        QVERIFY(c->FinishInto(dir_->path()));
        const QStringList log = LogLines(c->Flow().LogPath());
        QCOMPARE(log.size(), 3);
        QVERIFY(log[1].contains(QStringLiteral(",SN-1,LC-2026-0009,")));
        QVERIFY(!c->writeButton->isEnabled() && !c->levelButton->isEnabled());
        QCOMPARE(shown_.size(), 1u);
    }

    // Closed while it measures: the window has its port back, and the calibration, logged,
    // takes no further step when the window is opened again. The program ending in a step
    // whose log cannot be written ends cleanly.
    void closedWindowEndsTheCalibration() {
        frmMain &w = start(LineOf({0.95, 1.05}));
        LineCalibrationWindow *c = open(QStringLiteral("1,2"));
        QVERIFY(c);
        c->startButton->click();
        QVERIFY(
            QTest::qWaitFor([&] { return c->Flow().Status().startsWith(u"正在测量"); }, kStepMs));
        c->close();
        QVERIFY(stepEnds(c, w));
        QCOMPARE(open(QStringLiteral("1,2")), c);
        QVERIFY(!c->Flow().Open());
        QVERIFY(!c->levelButton->isEnabled() && !c->finishButton->isEnabled());

        c->SetLogFolder(QStringLiteral("/proc/none"));
        c->startButton->click();
        QVERIFY(c->Flow().Busy());
        w_.reset();
    }

    // Stopped while it measures as left: a module holding its new coefficient is not judged
    // on what it read before. A module whose unstable proposal was declined has nothing to
    // restore and gets no write.
    void stoppedAfterTheWrites() {
        frmMain &w =
            start({QStringLiteral("--light"), QStringLiteral("1000"), QStringLiteral("--module"),
                   QStringLiteral("1:sensitivity=0.995,noise=2"), QStringLiteral("--module"),
                   QStringLiteral("2:sensitivity=0.95,noise=200")});
        LineCalibrationWindow *c = open(QStringLiteral("1,2"));
        QVERIFY(c);
        c->SetAsker([](const QString &) { return false; });
        c->startButton->click();
        QVERIFY(stepEnds(c, w));
        QCOMPARE(cell(c->table, 0, u"结果"), QStringLiteral("合格")); // as found
        c->writeButton->click();
        QVERIFY(
            QTest::qWaitFor([&] { return c->Flow().Status().startsWith(u"正在测量"); }, kStepMs));
        c->startButton->click();
        QVERIFY(stepEnds(c, w));
        QCOMPARE(coefficientWrites(1).size(), 1u);
        QVERIFY(!calibration::Passed(c->Flow().Modules()[0]));
        QCOMPARE(cell(c->table, 0, u"结果"), QString());

        c->table->selectRow(1);
        c->restoreButton->click();
        QVERIFY(stepEnds(c, w));
        QVERIFY(coefficientWrites(2).empty());
        QCOMPARE(shown_.size(), 1u);
    }
};

QTEST_MAIN(TstLineCalibration)
#include "tst_linecalibration.moc"
