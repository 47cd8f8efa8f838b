// The search against the simulator at each of its rates, behind devices that answer
// nothing, are held by another program or are gone; and the port command's find, run as a
// program.

#include "extras/search/modulesearch.h"
#include "extras/search/searchreasons.h"
#include "serial/mscomm.h"
#include "tests/e2e/simulator.h"
#include "tests/pty.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

using Outcome = SearchAttempt::Outcome;

const QByteArray kReadAddress = QByteArray::fromHex("FA250200000199FE");

SearchResult Run(const QList<SearchCandidate> &candidates) {
    ModuleSearch search(candidates);
    QSignalSpy done(&search, &ModuleSearch::Finished);
    search.Start();
    if (!done.wait(20000))
        qFatal("the search did not end");
    return done.first().first().value<SearchResult>();
}

QList<Outcome> Outcomes(const SearchResult &result) {
    QList<Outcome> outcomes;
    for (const SearchAttempt &a : result.tried)
        outcomes.append(a.outcome);
    return outcomes;
}

// Anyone may open the device again: the search left no lock and no open port behind.
bool Free(const QString &device) {
    MSComm comm{SettingsPlace()};
    return comm.setDevicePath(device) && comm.setPortOpen(true);
}

} // namespace

Q_DECLARE_METATYPE(SearchResult)

class TstModuleSearch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SearchResult>(); }

    // A silent device first, then the module at its rate. With noise at the wrong rates
    // the bytes heard at 19200 must not be taken for a find.
    void findsTheModuleAtEachRate_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("noise");
        for (const int rate : {19200, 9600, 4800, 14400}) {
            QTest::addRow("%d", rate) << rate << false;
            QTest::addRow("%d, noise at the others", rate) << rate << true;
        }
    }
    void findsTheModuleAtEachRate() {
        QFETCH(int, rate);
        QFETCH(bool, noise);
        QTemporaryDir dir;
        QStringList options{QStringLiteral("--baud"), QString::number(rate),
                            QStringLiteral("--address"), QStringLiteral("7")};
        if (noise)
            options << QStringLiteral("--noise-at-wrong-rate");
        Simulator sim(dir.path(), 7, options);
        QVERIFY(sim.isReady());
        Pty silent;
        QVERIFY(silent.linkAs(dir.path(), 2));

        const SettingsPlace place(dir.path());
        const QList<SearchCandidate> candidates = SearchCandidates(place);
        QVERIFY(candidates.size() >= 2);
        QCOMPARE(candidates[0].port, 2); // the links first, in their order
        QCOMPARE(candidates[1].port, 7);
        const SearchResult result = Run(candidates.first(2));

        QVERIFY(result.found);
        QCOMPARE(result.where.port, 7);
        QCOMPARE(result.where.device, QFile::symLinkTarget(dir.filePath(QStringLiteral("COM7"))));
        QCOMPARE(result.rate, rate);
        QCOMPARE(result.address, 7);
        QCOMPARE(Outcomes(result), QList<Outcome>{Outcome::Silent});
        // Nothing but the read-address request, once a rate up to the module's.
        const auto requests = sim.log(QStringLiteral("rx"));
        QCOMPARE(qsizetype(requests.size()),
                 qsizetype(1 + std::ranges::find(kSearchRates, rate) - kSearchRates.begin()));
        for (const LoggedFrame &f : requests)
            QCOMPARE(f.bytes, kReadAddress);
        QCOMPARE(silent.receive(64, 50), kReadAddress.repeated(4));
        QVERIFY(Free(result.where.device));
    }

    // Nothing answers: each device is in the report with why, and each is closed again.
    void reportsEveryDeviceGivenUp() {
        QTemporaryDir dir;
        Pty held;
        Pty silent;
        MSComm holder{SettingsPlace()};
        QVERIFY(holder.setDevicePath(held.slaveName()) && holder.setPortOpen(true));
        const QString gone = dir.filePath(QStringLiteral("ttyUSB9"));
        // A loopback port that nobody listens on any more refuses the connection.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString refusing = QStringLiteral("tcp://127.0.0.1:%1").arg(closed.serverPort());
        closed.close();

        const SearchResult result =
            Run({{held.slaveName(), 3}, {silent.slaveName(), 0}, {gone, 0}, {refusing, 5}});

        QVERIFY(!result.found);
        QVERIFY(!result.cancelled);
        QCOMPARE(Outcomes(result), (QList<Outcome>{Outcome::InUse, Outcome::Silent,
                                                   Outcome::Missing, Outcome::Unreachable}));
        QCOMPARE(result.tried[0].candidate.port, 3);
        QVERIFY(NothingFoundReport(result, ReportLanguage::English)
                    .contains(QStringLiteral("COM5 (%1): no connection: refused").arg(refusing)));
        QVERIFY(NothingFoundReport(result, ReportLanguage::Chinese)
                    .contains(QStringLiteral("无法连接：连接被拒绝")));
        QVERIFY(held.receive(1, 50).isEmpty());
        QCOMPARE(silent.receive(64, 50), kReadAddress.repeated(4));
        QVERIFY(Free(silent.slaveName()));
        holder.setPortOpen(false);
        QVERIFY(Free(held.slaveName()));
    }

    // A device found without a COMn gets the lowest one that neither has a link nor a
    // device behind it; one with a COMn keeps it and nothing is linked.
    void portForTheFoundDevice_data() {
        QTest::addColumn<int>("linked"); // COM1..COMlinked already lead to /dev/zero
        QTest::addColumn<int>("own");    // the found device's own COMn, 0 for none
        QTest::addColumn<int>("expected");
        QTest::newRow("fifteen taken") << 15 << 0 << 16;
        QTest::newRow("all taken") << 16 << 0 << 0;
        QTest::newRow("its own") << 3 << 9 << 9;
    }
    void portForTheFoundDevice() {
        QFETCH(int, linked);
        QFETCH(int, own);
        QFETCH(int, expected);
        if (QFile::exists(QStringLiteral("/dev/ttyS15")))
            QSKIP("COM16 has a device of its own here");
        QTemporaryDir dir;
        for (int n = 1; n <= linked; ++n)
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"),
                                dir.filePath(QStringLiteral("COM%1").arg(n))));
        const SettingsPlace place(dir.path());
        const FoundPort found = PortForFound({QStringLiteral("/dev/null"), own}, place);
        QCOMPARE(found.port, expected);
        QCOMPARE(found.message.isEmpty(), own != 0);
        for (int n = linked + 1; n <= 16; ++n)
            QCOMPARE(QFile::symLinkTarget(dir.filePath(QStringLiteral("COM%1").arg(n))),
                     n == expected && own == 0 ? QStringLiteral("/dev/null") : QString());
    }

    // The same search from the command line: one line on stdout for scripts, the report on
    // stderr, the exit status, and with --use the saved setting.
    void portCommand_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("module"); // the simulator at 9600 as COM7, else a silent line
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stdoutPattern");
        QTest::addColumn<QString>("stderrPattern");
        QTest::addColumn<QByteArray>("commSet"); // empty: none written

        const QString line = QStringLiteral("^COM7\t/dev/pts/[0-9]+\t9600\t7\n$");
        QTest::newRow("found") << QStringList{"find"} << true << 0 << line
                               << QStringLiteral("COM7 \\(/dev/pts/[0-9]+\\) at 9600 baud")
                               << QByteArray();
        QTest::newRow("found, --use")
            << QStringList{"find", "--use"} << true << 0 << line
            << QStringLiteral("now says 7,9600") << QByteArray("7,9600\r\n");
        QTest::newRow("nothing answers")
            << QStringList{"find", "--use"} << false << 1 << QStringLiteral("^$")
            << QStringLiteral(
                   "No module answered.*COM7 \\(/dev/pts/[0-9]+\\): no valid answer.*A and B")
            << QByteArray();
        QTest::newRow("usage") << QStringList{"find", "--now"} << true << 2 << QStringLiteral("^$")
                               << QStringLiteral("usage:") << QByteArray();
    }
    void portCommand() {
        QFETCH(QStringList, args);
        QFETCH(bool, module);
        QFETCH(int, status);
        QFETCH(QString, stdoutPattern);
        QFETCH(QString, stderrPattern);
        QFETCH(QByteArray, commSet);
        // The command beside its own COMn links, away from the build tree's.
        QTemporaryDir dir;
        const QString command = dir.filePath(QStringLiteral("sensor-companion-ports"));
        QVERIFY(QFile::copy(QStringLiteral(PORTS_COMMAND_PATH), command));
        std::unique_ptr<Simulator> sim;
        Pty silent;
        if (module)
            sim = std::make_unique<Simulator>(dir.path(), 7,
                                              QStringList{"--baud", "9600", "--address", "7"});
        else
            QVERIFY(silent.linkAs(dir.path(), 7));

        QProcess find;
        find.start(command, args);
        QVERIFY(find.waitForFinished(30000));
        const QString out = QString::fromUtf8(find.readAllStandardOutput());
        const QString err = QString::fromUtf8(find.readAllStandardError());
        QCOMPARE(find.exitCode(), status);
        QVERIFY2(QRegularExpression(stdoutPattern).match(out).hasMatch(), qPrintable(out));
        QVERIFY2(QRegularExpression(stderrPattern, QRegularExpression::DotMatchesEverythingOption)
                     .match(err)
                     .hasMatch(),
                 qPrintable(err));
        QFile saved(dir.filePath(QStringLiteral("comm.set")));
        QCOMPARE(saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray(), commSet);
    }
};

QTEST_GUILESS_MAIN(TstModuleSearch)
#include "tst_modulesearch.moc"
