// comm.set parsing, reading and the atomic rewrite; the line settings text and baud-rate
// list entries; and where a port number maps to on this system.

#include "app/runtime.h"
#include "serial/commset.h"
#include "serial/portdevice.h"
#include "serial/portsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_WIN
#include <string>
#include <windows.h>
#endif

namespace {

// Expected field values outside the int16 range: the field must be empty, or is not looked at.
constexpr int kNone = -100000;
constexpr int kAny = -100001;

using Status = CommSetContent::Status;

// The program's own rounding, as start-up passes it.
constexpr Rounding kRound = rt::RoundedTo<std::int16_t>;

QString CommSetPath(const QTemporaryDir &dir) {
    return dir.filePath(QString::fromLatin1(kCommSetName));
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void CompareField(std::optional<std::int16_t> got, int expected) {
    if (expected == kAny)
        return;
    QCOMPARE(got ? static_cast<int>(*got) : kNone, expected);
}

} // namespace

class TstCommSet : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("rate");
        const auto row = [](const char *name, const QByteArray &content, bool valid, int port,
                            int rate) { QTest::newRow(name) << content << valid << port << rate; };
        row("crlf line", "4,9600\r\n", true, 4, 9600);
        row("no line end", "4,9600", true, 4, 9600);
        row("lf line end", "4,9600\n", true, 4, 9600);
        row("blanks around fields", " 4 , 9600 \r\n", true, 4, 9600);
        row("rate zero", "2,0", true, 2, 0);
        row("port 3 at 2400", "3,2400", true, 3, 2400);
        row("highest port", "16,19200", true, 16, 19200);
        row("highest rate", "1,32767", true, 1, 32767);
        row("port 16.5 rounds to even 16", "16.5,9600", true, 16, 9600);
        row("rate -0.4 rounds to 0", "2,-0.4", true, 2, 0);
        row("second line is ignored", "4,9600\r\n5,4800\r\n", true, 4, 9600);
        row("empty", "", false, kNone, kNone);
        row("no comma", "4", false, kAny, kNone);
        row("no rate", "4,", false, 4, kNone);
        row("no port", ",9600", false, kNone, 9600);
        row("letters", "abc,def", false, kNone, kNone);
        row("port 0", "0,9600", false, 0, 9600);
        row("port 0.5 rounds to even 0", "0.5,9600", false, 0, 9600);
        row("port 17 is kept for the message", "17,9600", false, 17, 9600);
        row("negative port", "-1,9600", false, -1, 9600);
        row("negative rate", "4,-9600", false, 4, -9600);
        row("rate beyond int16", "4,40000", false, 4, kNone);
        row("port beyond int16", "99999,9600", false, kNone, 9600);
        row("binary garbage with nuls", QByteArray::fromHex("0034002cff390036000d0a"), false, kNone,
            kNone);
        row("semicolon separator", "4;9600", false, kAny, kAny);
        row("three fields", "4,9600,1", false, 4, kNone);
        row("invalid first line, valid second", "x,1\r\n4,9600\r\n", false, kNone, 1);
    }
    void parse() {
        QFETCH(QByteArray, content);
        QFETCH(bool, valid);
        QFETCH(int, port);
        QFETCH(int, rate);
        const CommSetContent c = ParseCommSet(content, kRound);
        QCOMPARE(c.status, valid ? Status::Valid : Status::Invalid);
        CompareField(c.port, port);
        CompareField(c.rate, rate);
    }

    void readWithoutAFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const CommSetContent c = ReadCommSet(dir.path(), kRound);
        QCOMPARE(c.status, Status::Missing);
        QVERIFY(!c.port && !c.rate);
        // A directory in its place may count as missing or invalid, but never as settings.
        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(kCommSetName)));
        QVERIFY(ReadCommSet(dir.path(), kRound).status != Status::Valid);
    }

    void readHugeFile() {
        // Only the head of a stray large file is looked at, so start-up does not hang on it.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray junk(10 * 1024 * 1024, 'A');
        for (const QByteArray &head : {QByteArray(), QByteArray("4,9600\r\n")}) {
            QVERIFY(WriteFile(CommSetPath(dir), head + junk));
            const CommSetContent c = ReadCommSet(dir.path(), kRound);
            QCOMPARE(c.status, head.isEmpty() ? Status::Invalid : Status::Valid);
            QVERIFY(head.isEmpty() || (c.port == 4 && c.rate == 9600));
        }
    }

    void readFirstLineCutShort() {
        // Only the head is read; a line that runs past it is not a line of settings.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(WriteFile(CommSetPath(dir), QByteArray(4091, ' ') + "4,9600\r\n"));
        QCOMPARE(ReadCommSet(dir.path(), kRound).status, Status::Invalid);
    }

    void text() {
        QCOMPARE(CommSetText(4, 9600), QByteArray("\x34\x2C\x39\x36\x30\x30\x0D\x0A"));
        QCOMPARE(CommSetText(1, 19200), QByteArray("1,19200\r\n"));
    }

    void writeReplacesTheOldFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(WriteFile(CommSetPath(dir), "16,19200\r\nsome older and much longer text\r\n"));
        QVERIFY(WriteCommSet(dir.path(), 7, 4800));
        QCOMPARE(ReadFile(CommSetPath(dir)), QByteArray("7,4800\r\n")); // no stale tail
        const CommSetContent c = ReadCommSet(dir.path(), kRound);
        QVERIFY(c.status == Status::Valid && c.port == 7 && c.rate == 4800);
        // The temporary file was renamed, not left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QString::fromLatin1(kCommSetName)});
    }

    void writeFails() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A settings directory that cannot be created: a file stands in its way.
        QVERIFY(WriteFile(dir.filePath(QStringLiteral("file")), "x"));
        QVERIFY(!WriteCommSet(dir.filePath(QStringLiteral("file/config")), 4, 9600));
        QVERIFY(!WriteCommSet(QString(), 4, 9600)); // none at all: not the working directory

        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(kCommSetName)));
        QVERIFY(WriteFile(CommSetPath(dir) + QStringLiteral("/inside"), "x"));
        QVERIFY(!WriteCommSet(dir.path(), 4, 9600));
        QVERIFY(QFileInfo(CommSetPath(dir)).isDir());
        QVERIFY(QFileInfo::exists(CommSetPath(dir) + QStringLiteral("/inside")));
    }

    void baudRateFromText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rate");
        QTest::newRow("plain") << QStringLiteral("19200") << 19200;
        QTest::newRow("blanks around") << QStringLiteral(" 9600 ") << 9600;
        QTest::newRow("fraction rounds") << QStringLiteral("9600.4") << 9600;
        QTest::newRow("zero") << QStringLiteral("0") << kNone;
        QTest::newRow("negative") << QStringLiteral("-4800") << kNone;
        QTest::newRow("beyond int16") << QStringLiteral("38400") << kNone;
        QTest::newRow("letters") << QStringLiteral("abc") << kNone;
        QTest::newRow("empty") << QString() << kNone;
    }
    void baudRateFromText() {
        QFETCH(QString, text);
        QFETCH(int, rate);
        CompareField(BaudRateFromText(text), rate);
    }

    // Run from a build tree, everything stays beside the program; installed, the user's own
    // directory is written (created on the first save) and the administrator's default in
    // the system's configuration directory is only read, until the user has a comm.set of
    // their own.
    void settingsPlace() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString program = root.filePath(QStringLiteral("bin"));
        const QString config = root.filePath(QStringLiteral("home/.config"));
        const QStringList system = {root.filePath(QStringLiteral("etc/xdg")),
                                    root.filePath(QStringLiteral("usr/etc/xdg"))};
        const QString admin = system[1] + QStringLiteral("/sensor-companion");
        QVERIFY(QDir().mkpath(program));
        QVERIFY(QDir().mkpath(admin));

        const SettingsPlace tree = DecideSettingsPlace(program, false, config, system);
        QCOMPARE(tree.own, program);
        QVERIFY(tree.fallback.isEmpty());

        // The system directory that holds our folder is the default, not the program's.
        const SettingsPlace installed = DecideSettingsPlace(program, true, config, system);
        QCOMPARE(installed.own, config + QStringLiteral("/sensor-companion"));
        QCOMPARE(installed.fallback, admin);
        QCOMPARE(ReadCommSet(installed, kRound).status, Status::Missing);
        QVERIFY(WriteFile(program + QStringLiteral("/comm.set"), "3,9600\r\n"));
        QCOMPARE(ReadCommSet(installed, kRound).status, Status::Missing);

        QVERIFY(WriteFile(admin + QStringLiteral("/comm.set"), "2,4800\r\n"));
        CommSetContent c = ReadCommSet(installed, kRound);
        QVERIFY(c.status == Status::Valid && c.port == 2 && c.rate == 4800);

        QVERIFY(WriteCommSet(installed.own, 5, 9600));
        c = ReadCommSet(installed, kRound);
        QVERIFY(c.status == Status::Valid && c.port == 5 && c.rate == 9600);
        QCOMPARE(ReadFile(admin + QStringLiteral("/comm.set")), QByteArray("2,4800\r\n"));

        // No configuration directory at all: nothing to write, the default still read.
        const SettingsPlace homeless = DecideSettingsPlace(program, true, QString(), system);
        QVERIFY(homeless.own.isEmpty());
        QCOMPARE(ReadCommSet(homeless, kRound).port, std::optional<std::int16_t>(2));
    }

#ifdef Q_OS_WIN
    // Installed is anywhere under a Program Files folder, however the path is spelt: a
    // program started by its short (8.3) name gets its directory in that spelling.
    void runsInstalledUnderProgramFiles() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString programFiles = root.filePath(QStringLiteral("Program Files"));
        const QString program = programFiles + QStringLiteral("/sensor-companion");
        const QString beside = root.filePath(QStringLiteral("Program Files Old/sensor-companion"));
        QVERIFY(QDir().mkpath(program) && QDir().mkpath(beside));

        const QList<QByteArray> names{"ProgramW6432", "ProgramFiles", "ProgramFiles(x86)"};
        QList<QByteArray> saved;
        for (const QByteArray &name : names)
            saved.append(qgetenv(name.constData()));
        const auto restore = qScopeGuard([&] {
            for (qsizetype i = 0; i < names.size(); ++i)
                qputenv(names[i].constData(), saved[i]);
        });
        for (const QByteArray &name : names)
            qunsetenv(name.constData());
        qputenv("ProgramFiles", QDir::toNativeSeparators(programFiles).toLocal8Bit());

        std::wstring shortName(MAX_PATH, L'\0');
        const DWORD length = GetShortPathNameW(program.toStdWString().c_str(), shortName.data(),
                                               static_cast<DWORD>(shortName.size()));
        QVERIFY(length > 0 && length < shortName.size());
        shortName.resize(length);

        QVERIFY(RunsInstalled(program));
        QVERIFY(RunsInstalled(QDir::toNativeSeparators(program.toUpper())));
        QVERIFY(RunsInstalled(QString::fromStdWString(shortName)));
        QVERIFY(!RunsInstalled(beside));
        QVERIFY(!RunsInstalled(root.path()));
    }
#endif

#ifdef Q_OS_UNIX
    void portDevice() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(PortDevice(4, dir.path()), QStringLiteral("/dev/ttyS3"));
        QCOMPARE(PortDevice(1, dir.path()), QStringLiteral("/dev/ttyS0"));

        const QString target = dir.filePath(QStringLiteral("adapter"));
        const QString link = dir.filePath(QStringLiteral("COM4"));
        QVERIFY(WriteFile(target, ""));
        QVERIFY(QFile::link(target, link));
        QCOMPARE(PortDevice(4, dir.path()), QFileInfo(target).canonicalFilePath());
        QCOMPARE(PortDevice(5, dir.path()), QStringLiteral("/dev/ttyS4"));

        // An unplugged adapter leaves the link dangling; it must not fall back to ttyS3.
        QVERIFY(QFile::remove(target));
        QCOMPARE(PortDevice(4, dir.path()), QFileInfo(link).absoluteFilePath());

        // The user's own link comes before the administrator's.
        QTemporaryDir own;
        QVERIFY(own.isValid());
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), own.filePath(QStringLiteral("COM4"))));
        QCOMPARE(PortDevice(4, SettingsPlace(own.path(), dir.path())), QStringLiteral("/dev/null"));
        QCOMPARE(PortDevice(4, SettingsPlace(QString(), dir.path())),
                 QFileInfo(link).absoluteFilePath());
    }
#endif
};

QTEST_GUILESS_MAIN(TstCommSet)
#include "tst_commset.moc"
