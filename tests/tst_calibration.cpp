// The calibration's arithmetic and its log: the coefficient that brings a mean onto the
// reference and when it is refused, the statistics and the stability criterion, and the
// log that is only appended to and never written into another file.

#include "extras/calibrate/calibration.h"
#include "extras/calibrate/calibrationrecord.h"
#include "extras/calibrate/linerecord.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using namespace calibration;

Q_DECLARE_METATYPE(calibration::Refusal)

class TstCalibration : public QObject {
    Q_OBJECT
private slots:
    void newCoefficient_data() {
        QTest::addColumn<int>("coefficient");
        QTest::addColumn<double>("reference");
        QTest::addColumn<double>("mean");
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<int>("expected");
        QTest::newRow("5 % low") << 10000 << 1000.0 << 950.0 << Refusal::None << 10526;
        QTest::newRow("within tolerance") << 10000 << 1000.0 << 990.0 << Refusal::None << 10101;
        QTest::newRow("second round from the coefficient in the module")
            << 10526 << 1000.0 << 990.0 << Refusal::None << 10632;
        QTest::newRow("rounding to 4 decimals at a half")
            << 10001 << 3.0 << 2.0 << Refusal::None << 15002;
        QTest::newRow("exactly 5.0") << 10000 << 1000.0 << 200.0 << Refusal::None << 50000;
        QTest::newRow("rounds down onto 5.0") << 10000 << 5.00004 << 1.0 << Refusal::None << 50000;
        QTest::newRow("would exceed 5.0") << 10000 << 1000.0 << 199.0 << Refusal::OutOfRange << 0;
        QTest::newRow("exactly 0.2") << 10000 << 100.0 << 500.0 << Refusal::None << 2000;
        QTest::newRow("below 0.2") << 10000 << 100.0 << 501.0 << Refusal::OutOfRange << 0;
        QTest::newRow("mean zero") << 10000 << 1000.0 << 0.0 << Refusal::MeanNotPositive << 0;
        QTest::newRow("mean negative")
            << 10000 << 1000.0 << -950.0 << Refusal::MeanNotPositive << 0;
        QTest::newRow("mean not a number")
            << 10000 << 1000.0 << qQNaN() << Refusal::MeanNotPositive << 0;
    }
    void newCoefficient() {
        QFETCH(int, coefficient);
        QFETCH(double, reference);
        QFETCH(double, mean);
        QFETCH(Refusal, refusal);
        QFETCH(int, expected);
        const Proposal p = NewCoefficient(std::uint16_t(coefficient), reference, mean);
        QCOMPARE(p.refusal, refusal);
        if (refusal == Refusal::None)
            QCOMPARE(int(p.coefficient), expected);
        else
            QVERIFY(!RefusalText(p).isEmpty());
    }

    void stats_data() {
        QTest::addColumn<std::vector<Sample>>("samples");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<double>("slope");
        QTest::newRow("steady") << std::vector<Sample>{{0, 950}, {50, 950}, {100, 950}} << 950.0
                                << 0.0 << 0.0;
        // n - 1: the population deviation would be sqrt(2).
        QTest::newRow("sample deviation, rising 1 a second")
            << std::vector<Sample>{{1000, 1}, {2000, 2}, {3000, 3}, {4000, 4}, {5000, 5}} << 3.0
            << std::sqrt(2.5) << 60.0;
        QTest::newRow("falling, uneven times")
            << std::vector<Sample>{{0, 10}, {60'000, 8}, {180'000, 4}} << 22.0 / 3
            << std::sqrt((std::pow(10 - 22.0 / 3, 2) + std::pow(8 - 22.0 / 3, 2) +
                          std::pow(4 - 22.0 / 3, 2)) /
                         2)
            << -2.0;
        QTest::newRow("one sample") << std::vector<Sample>{{5, 7}} << 7.0 << 0.0 << 0.0;
        QTest::newRow("all at one time")
            << std::vector<Sample>{{5, 1}, {5, 3}} << 2.0 << std::sqrt(2.0) << 0.0;
    }
    void stats() {
        QFETCH(std::vector<Sample>, samples);
        QFETCH(double, mean);
        QFETCH(double, deviation);
        QFETCH(double, slope);
        const auto s = StatsOf(samples);
        QVERIFY(s);
        QCOMPARE(s->count, int(samples.size()));
        QVERIFY(qAbs(s->mean - mean) < 1e-9);
        QVERIFY(qAbs(s->deviation - deviation) < 1e-9);
        QVERIFY2(qAbs(s->slopePerMinute - slope) < 1e-9,
                 qPrintable(QString::number(s->slopePerMinute)));
    }

    // Tolerance 2 % of 1000: the quarter band is 5.
    void stability_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("mean");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<double>("slope");
        QTest::addColumn<bool>("stable");
        QTest::newRow("steady") << 40 << 1000.0 << 1.0 << 0.0 << true;
        QTest::newRow("too few readings") << 4 << 1000.0 << 0.0 << 0.0 << false;
        QTest::newRow("spread at a quarter of the band") << 40 << 1000.0 << 5.0 << 0.0 << true;
        QTest::newRow("unstable: spread beyond") << 40 << 1000.0 << 5.01 << 0.0 << false;
        QTest::newRow("drift over 10 s at the limit") << 40 << 1000.0 << 0.0 << -30.0 << true;
        QTest::newRow("unstable: drift beyond") << 40 << 1000.0 << 0.0 << 31.0 << false;
        QTest::newRow("negative mean: its size") << 40 << -1000.0 << 1.0 << 0.0 << true;
    }
    void stability() {
        QFETCH(int, count);
        QFETCH(double, mean);
        QFETCH(double, deviation);
        QFETCH(double, slope);
        QFETCH(bool, stable);
        QCOMPARE(IsStable({count, mean, deviation, slope}, 2.0, 10.0), stable);
    }

    void texts_data() {
        QTest::addColumn<double>("mean");
        QTest::addColumn<QString>("error");
        QTest::newRow("5 % low") << 950.0 << "-5.00 %";
        QTest::newRow("ASCII minus, two decimals") << 951.3 << "-4.87 %";
        QTest::newRow("high") << 1020.0 << "2.00 %";
        QTest::newRow("rounded zero has no sign") << 999.99996 << "0.00 %";
    }
    void texts() {
        QFETCH(double, mean);
        QFETCH(QString, error);
        QCOMPARE(PercentText(ErrorPercent(mean, 1000)), error);
        QVERIFY(WithinTolerance(ErrorPercent(1020, 1000), 2));
        QVERIFY(!WithinTolerance(ErrorPercent(1020.1, 1000), 2));
        QCOMPARE(CoefficientText(10526), QStringLiteral("1.0526"));
    }

    // Hand-worked: U = 2 · √((U_ref / 2)² + (s / √n / ref)² + (res / 2√3 / ref)²), in %.
    void uncertainty_data() {
        QTest::addColumn<double>("referenceU");
        QTest::addColumn<double>("deviation");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<double>("reference");
        QTest::addColumn<double>("expanded");
        QTest::newRow("the reference alone") << 1.0 << 0.0 << 40 << 0.0 << 1000.0 << 1.0;
        QTest::newRow("the mean alone: 10 / √25 of 1000")
            << 0.0 << 10.0 << 25 << 0.0 << 1000.0 << 0.4;
        QTest::newRow("one step of 1 lx at 100 lx") << 0.0 << 0.0 << 10 << 1.0 << 100.0 << 0.57735;
        QTest::newRow("reference and mean: 2 · √(0.6² + 0.4²)")
            << 1.2 << 8.0 << 16 << 0.0 << 500.0 << 1.44222;
        QTest::newRow("one reading has no spread") << 1.0 << 0.0 << 1 << 0.0 << 1000.0 << 1.0;
    }
    void uncertainty() {
        QFETCH(double, referenceU);
        QFETCH(double, deviation);
        QFETCH(int, count);
        QFETCH(double, resolution);
        QFETCH(double, reference);
        QFETCH(double, expanded);
        Stats stats;
        stats.count = count;
        stats.deviation = deviation;
        QVERIFY(std::abs(ExpandedUncertaintyPercent(referenceU, stats, resolution, reference) -
                         expanded) < 1e-5);
    }

    void decision_data() {
        QTest::addColumn<double>("error");
        QTest::addColumn<double>("expanded");
        QTest::addColumn<bool>("conforms");
        QTest::newRow("well inside") << 0.5 << 1.0 << true;
        QTest::newRow("error plus U exactly the tolerance") << -1.0 << 1.0 << true;
        QTest::newRow("error plus U just beyond") << -1.01 << 1.0 << false;
        QTest::newRow("within tolerance, not with U") << 1.9 << 0.2 << false;
        QTest::newRow("beyond tolerance") << 2.5 << 0.0 << false;
    }
    void decision() {
        QFETCH(double, error);
        QFETCH(double, expanded);
        QFETCH(bool, conforms);
        QCOMPARE(Conforms(error, expanded, 2.0), conforms);
    }

    void certificateNumbers_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("next"); // empty: refused
        QTest::newRow("counts up") << "LC-2026-0001"
                                   << "LC-2026-0002";
        QTest::newRow("carries, width kept") << "LC-2026-0099"
                                             << "LC-2026-0100";
        QTest::newRow("grows when all nines") << "A-99"
                                              << "A-100";
        QTest::newRow("Chinese prefix") << "证书7"
                                        << "证书8";
        QTest::newRow("no digit at the end") << "2026-A"
                                             << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("full-width digits are no count") << "Ｎ１"
                                                        << "";
    }
    void certificateNumbers() {
        QFETCH(QString, number);
        QFETCH(QString, next);
        QCOMPARE(NextCertificateNumber(number).value_or(QString()), next);
    }

    // A new log gets the byte-order mark and the header once; a field with a separator is
    // quoted; a file that is not this log is refused and left as it was.
    void log() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        Record r;
        r.started = QDateTime::currentDateTime();
        r.operatorName = QStringLiteral("王, \"小\"");
        r.writes.push_back({r.started, QStringLiteral("量程缩放系数 1.0526"), false});
        QVERIFY(!AppendToLog(path, r));
        QVERIFY(!AppendToLog(path, r));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith(LogStart()));
        QCOMPARE(bytes.count("\xEF\xBB\xBF"), 1);
        QCOMPARE(bytes.count("\r\n"), 3);
        QCOMPARE(bytes.count('\n'), 3);
        QVERIFY(bytes.contains(QStringLiteral(",\"王, \"\"小\"\"\",").toUtf8()));
        QVERIFY(bytes.contains(QStringLiteral("最后写入：量程缩放系数 1.0526（未确认）").toUtf8()));
        // As many fields as the header: the row holds one separator more, the quoted one.
        QCOMPARE(LogRow(r).count(','), LogStart().count(',') + 1);

        const QString foreign = dir.filePath(QStringLiteral("other.csv"));
        QFile other(foreign);
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("a,b\r\n") == 5);
        other.close();
        QVERIFY(AppendToLog(foreign, r));
        QVERIFY(other.open(QIODevice::ReadOnly));
        QCOMPARE(other.readAll(), QByteArray("a,b\r\n"));
    }

    // A log begun before a line's columns gets them, empty, its rows otherwise byte for byte
    // (a quoted line break ends no row); a near miss of it is still refused. A line's rows
    // come back by label, oldest first, past rows that do not fit.
    void lineLog() {
        QTemporaryDir dir;
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
        };
        const auto read = [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QString path = dir.filePath(QStringLiteral("log.csv"));
        const QByteArray oldStart = LogStart().split(',').mid(0, 26).join(',') + "\r\n";
        const QByteArray oldRow =
            "2025-01-02T03:04:05.000+08:00,\"a\r\nb, \"\"c\"\"\"" + QByteArray(24, ',');
        QVERIFY(write(path, oldStart + oldRow + "\r\n"));

        LineSetup setup;
        setup.started = QDateTime(QDate(2026, 3, 1), QTime(9, 0));
        const Point off{{40, 950, 1, 0}, -5, 0.3, false}, on{{40, 1001, 1, 0}, 0.1, 0.3, true};
        ModuleRecord a, b;
        a.label = QStringLiteral("A-1");
        a.levels = {{1000, off, on}, {2000, on, {}}};
        a.certificateNumber = QStringLiteral("LC-1");
        b.label = QStringLiteral(" 王,\"2\" ");
        b.levels = {{500, off, {}}};
        b.certificateNumber = QStringLiteral("LC-2");
        QVERIFY(!AppendLineToLog(path, setup, {a, b}));
        const QByteArray empty(LogStart().count(',') - oldStart.count(','), ',');
        QCOMPARE(read(path), LogStart() + oldRow + empty + "\r\n" + LogRows(setup, a).join() +
                                 LogRows(setup, b).join());

        setup.started = setup.started.addDays(1);
        b.certificateNumber = QStringLiteral("LC-3");
        QVERIFY(!AppendLineToLog(path, setup, {b}));
        QVERIFY(write(path, QStringLiteral("x,王,\"2\"\r\n\"王,\"\"2\"\"").toUtf8()));
        const auto history = std::get<0>(ReadHistory(path, QStringLiteral("王,\"2\"")));
        QCOMPARE(history.size(), 2u);
        QVERIFY(history[0].time.startsWith(QStringLiteral("2026-03-01T09:00:00.000")));
        QCOMPARE(history[0].certificate + history[1].certificate, QStringLiteral("LC-2LC-3"));
        QCOMPARE(history[1].reference, QStringLiteral("500"));
        QCOMPARE(history[1].foundError, QStringLiteral("-5.00"));
        QCOMPARE(history[1].leftError, QString());
        QCOMPARE(history[1].result, QStringLiteral("不合格"));
        const auto first = std::get<0>(ReadHistory(path, QStringLiteral("A-1")));
        QCOMPARE(first.size(), 2u);
        QCOMPARE(first[0].leftError, QStringLiteral("0.10"));
        QCOMPARE(first[1].reference, QStringLiteral("2000"));
        QVERIFY(std::get<0>(ReadHistory(dir.filePath(QStringLiteral("none.csv")), {})).empty());

        const QString foreign = dir.filePath(QStringLiteral("other.csv"));
        QVERIFY(write(foreign, oldStart.mid(3) + oldRow + "\r\n"));
        QVERIFY(AppendLineToLog(foreign, setup, {a}));
        QCOMPARE(read(foreign), oldStart.mid(3) + oldRow + "\r\n");
        const QString notes = dir.filePath(QStringLiteral("notes.csv"));
        QVERIFY(write(notes, "a,b\r\n"));
        QVERIFY(std::holds_alternative<QString>(ReadHistory(notes, QStringLiteral("A-1"))));
    }
};

QTEST_GUILESS_MAIN(TstCalibration)
#include "tst_calibration.moc"
