// Recording against the sensor simulator: the file reads back, with Python's csv module
// and with pandas, to exactly the replies the simulator logged, a confirmed write among
// them; a program killed while recording leaves whole rows only; a write that fails stops
// the recording with one message while polling goes on.

#include "app/appinfo.h"
#include "app/frmMain.h"
#include "extras/record/recordtool.h"
#include "serial/mscomm.h"
#include "windowonsim.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <csignal>
#include <memory>
#include <vector>

namespace {

struct Csv {
    QString error; // what readcsv.py found wrong; empty when both readers agree
    QStringList header;
    std::vector<QStringList> rows;
};

// The file as Python's csv module and pandas read it.
Csv ReadBack(const QString &path) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(READCSV_PATH), path});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit)
        return {QStringLiteral("readcsv.py did not finish"), {}, {}};
    if (python.exitCode() != 0)
        return {QString::fromUtf8(python.readAllStandardError()), {}, {}};
    const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    Csv csv;
    csv.header = read.value(u"header").toVariant().toStringList();
    for (const QJsonValue row : read.value(u"rows").toArray())
        csv.rows.push_back(row.toVariant().toStringList());
    return csv;
}

QString HexText(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// The row, without its time, that a frame the simulator sent must have left: a reading
// for a reply to the query 01 03 00 00, a mark for a write's echo.
QStringList ExpectedRow(const QByteArray &sent, const QString &mark) {
    QStringList row(13);
    if (sent.size() > 1 && sent[1] == 0x06) {
        row[12] = mark;
        return row;
    }
    const auto byte = [&](int i) { return int(std::uint8_t(sent[i])); };
    row[0] = QStringLiteral("1");
    row[1] = QStringLiteral("3");
    row[2] = QStringLiteral("0");
    row[3] = QString::number(256 * byte(3) + byte(4));
    for (int r = 0; r < byte(2) / 2; ++r)
        row[4 + r] = QString::number(256 * byte(3 + 2 * r) + byte(4 + 2 * r));
    row[11] = HexText(sent);
    return row;
}

const QRegularExpression
    kTime(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)"));

} // namespace

class TstRecording : public WindowOnSimulator {
    Q_OBJECT

    size_t replies() const { return sim_->log(QStringLiteral("tx")).size(); }
    QAction *recordAction() const {
        for (QAction *action : tools_->Menu()->actions())
            if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_R))
                return action;
        return nullptr;
    }

private slots:
    void cleanup() { reset(); }

    // Two recordings into one file around a parameter write, and a file that is not a
    // recording, which is refused and left as it was.
    void readsBackAsTheSimulatorSent() {
        frmMain &w = start();
        const QString file = dir_->filePath(QStringLiteral("rec.csv"));
        QVERIFY(tools_->Recording().Start(file));
        QVERIFY(w.windowTitle().endsWith(QStringLiteral("● 记录中: rec.csv")));
        QCOMPARE(recordAction()->text(), QStringLiteral("停止记录"));
        poll(50, 1000);
        w.txtsetValue(0)->setText(QStringLiteral("1.05"));
        w.cmdSet(0)->click();
        QTRY_VERIFY(!w.txtState->toPlainText().isEmpty());
        poll(50, 500);
        recordAction()->trigger();
        QVERIFY(!tools_->Recording().Recording());
        QCOMPARE(w.windowTitle(), appinfo::Caption());
        QCOMPARE(recordAction()->text(), QStringLiteral("开始记录…"));

        QVERIFY(tools_->Recording().Start(file)); // appended, without a second header
        poll(50, 500);
        tools_->Recording().Stop();

        const QString foreign = dir_->filePath(QStringLiteral("notes.csv"));
        QFile notes(foreign);
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("a,b\r\n1,2\r\n") == 10);
        notes.close();
        QVERIFY(!tools_->Recording().Start(foreign));
        QCOMPARE(shown_.size(), size_t(1));
        QVERIFY(shown_[0].text.contains(QDir::toNativeSeparators(foreign)));
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QCOMPARE(notes.readAll(), QByteArray("a,b\r\n1,2\r\n"));

        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(bytes.count("\r\n"), bytes.count('\n'));

        const Csv csv = ReadBack(file);
        QVERIFY2(csv.error.isEmpty(), qPrintable(csv.error));
        QCOMPARE(csv.header.size(), 14);
        const auto sent = sim_->log(QStringLiteral("tx"));
        QVERIFY(sent.size() >= 20);
        QCOMPARE(csv.rows.size(), sent.size());
        int marks = 0;
        for (size_t i = 0; i < sent.size(); ++i) {
            const QStringList &row = csv.rows[i];
            QVERIFY2(kTime.match(row[0]).hasMatch(), qPrintable(row[0]));
            if (i > 0)
                QVERIFY(csv.rows[i - 1][0] <= row[0]);
            QCOMPARE(row.mid(1),
                     ExpectedRow(sent[i].bytes, QStringLiteral("参数写入 量程缩放系数 1.0500")));
            marks += !row[13].isEmpty();
        }
        QCOMPARE(marks, 1);
    }

    // SIGKILL while polling at 50 ms: every reply the program took is a whole row.
    void killedWhileRecordingLeavesWholeRows() {
        startSimulator();
        const QString file = dir_->filePath(QStringLiteral("rec.csv"));
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(RECORD_CHILD_PATH), {dir_->path(), file});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readLine(), QByteArray("recording\n"));
        QTRY_VERIFY_WITH_TIMEOUT(replies() >= 40, 10000);

        // The port's lock file, which a killed program cannot remove itself.
        const QString device = QFileInfo(dir_->filePath(QStringLiteral("COM4"))).symLinkTarget();
        const QString lock = QStringLiteral("/run/lock/LCK..") +
                             device.mid(QStringLiteral("/dev/").size()).replace(u'/', u'_');
        const qint64 pid = child.processId();
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        QFile lockFile(lock);
        if (lockFile.open(QIODevice::ReadOnly) && lockFile.readLine().trimmed().toLongLong() == pid)
            QVERIFY(lockFile.remove());
        QVERIFY(!QFile::exists(lock));

        const auto sent = sim_->log(QStringLiteral("tx"));
        const Csv csv = ReadBack(file);
        QVERIFY2(csv.error.isEmpty(), qPrintable(csv.error));
        // The last reply may still have been on its way when the program died.
        QVERIFY2(csv.rows.size() == sent.size() || csv.rows.size() + 1 == sent.size(),
                 qPrintable(
                     QStringLiteral("%1 rows, %2 replies").arg(csv.rows.size()).arg(sent.size())));
        for (size_t i = 0; i < csv.rows.size(); ++i)
            QCOMPARE(csv.rows[i].mid(1), ExpectedRow(sent[i].bytes, {}));
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly) && raw.readAll().endsWith("\r\n"));
    }

    void writeFailureStopsTheRecording_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        // The header cannot be written: refused at the start.
        QTest::newRow("disk full") << "full"
                                   << "No space left on device";
        // A row half written: cut off again, the rows before it stay.
        QTest::newRow("file size limit") << "limit"
                                         << "File too large";
        // The file's folder removed, as a pulled USB stick takes it: POSIX writes on.
        QTest::newRow("folder removed") << "removed"
                                        << "文件已被删除或移走";
    }
    void writeFailureStopsTheRecording() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        frmMain &w = start();
        w.txtTimerSet->setText(QStringLiteral("50"));
        w.cmdOneM->click();
        QTRY_VERIFY(replies() >= 3);

        const QString folder = dir_->filePath(QStringLiteral("stick"));
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QStringLiteral("/rec.csv");
        constexpr rlim_t kLimit = 3000;
        rlimit normal{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &normal) == 0);
        const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &normal); });
        if (fault == u"full") {
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), file));
        } else if (fault == u"limit") {
            std::signal(SIGXFSZ, SIG_IGN); // the write fails instead of ending the process
            rlimit limited = normal;
            limited.rlim_cur = kLimit;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &limited) == 0);
        }
        tools_->Recording().Start(file);
        if (fault == u"removed") {
            QTRY_VERIFY(QFileInfo(file).size() > 500);
            QVERIFY(QDir(folder).removeRecursively());
        }
        QTRY_COMPARE_WITH_TIMEOUT(shown_.size(), size_t(1), 10000);
        setrlimit(RLIMIT_FSIZE, &normal);
        QVERIFY2(shown_[0].text.contains(QDir::toNativeSeparators(file)) &&
                     shown_[0].text.contains(reason),
                 qPrintable(shown_[0].text));
        QVERIFY(!tools_->Recording().Recording());
        QCOMPARE(w.windowTitle(), appinfo::Caption());

        const size_t before = replies();
        QTRY_VERIFY(replies() >= before + 5);
        w.cmdStopOnce->click();
        QCOMPARE(shown_.size(), size_t(1));
        if (fault != u"limit")
            return;
        QVERIFY(QFileInfo(file).size() <= qint64(kLimit));
        const Csv csv = ReadBack(file);
        QVERIFY2(csv.error.isEmpty(), qPrintable(csv.error));
        QVERIFY(csv.rows.size() >= 10);
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly) && raw.readAll().endsWith("\r\n"));
    }
};

QTEST_MAIN(TstRecording)
#include "tst_recording.moc"
