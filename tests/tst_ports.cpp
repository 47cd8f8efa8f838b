// The link command: each refusal leaves every file as it was, and a link names the device
// by its stable name, so it survives re-plugging.

#include "extras/search/portaccess.h"
#include "serial/portdevice.h"
#include "serial/portlinks.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every entry under root with what it is, links with where they lead.
QStringList Snapshot(const QString &root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries.append(info.filePath() + u' ' +
                       (info.isSymLink() ? info.symLinkTarget()
                                         : QString::number(info.isDir() ? -1 : info.size())));
    }
    entries.sort();
    return entries;
}

bool MakeFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

} // namespace

class TstPorts : public QObject {
    Q_OBJECT

private slots:
    void refusals_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("device"); // relative to the test's folder unless absolute
        QTest::addColumn<QString>("own");    // the settings directory, likewise; "-" for none

        const QString dev = QStringLiteral("/dev/null");
        const QString own = QStringLiteral("config");
        QTest::newRow("port 0") << "link"
                                << "0" << dev << own;
        QTest::newRow("port 17") << "link"
                                 << "17" << dev << own;
        QTest::newRow("COM17") << "link"
                               << "COM17" << dev << own;
        QTest::newRow("negative") << "link"
                                  << "-4" << dev << own;
        QTest::newRow("not a number") << "link"
                                      << "four" << dev << own;
        QTest::newRow("empty number") << "link"
                                      << "" << dev << own;
        QTest::newRow("no such device") << "link"
                                        << "4"
                                        << "ttyUSB9" << own;
        QTest::newRow("directory as device") << "link"
                                             << "4"
                                             << "config" << own;
        QTest::newRow("file as device") << "link"
                                        << "4"
                                        << "config/COM5" << own;
        QTest::newRow("directory blocked by a file") << "link"
                                                     << "4" << dev << "config/COM5/x";
        QTest::newRow("no settings directory") << "link"
                                               << "4" << dev << "-";
        QTest::newRow("COM5 is not a link") << "link"
                                            << "5" << dev << own;
        QTest::newRow("unlink port 0") << "unlink"
                                       << "0"
                                       << "" << own;
        QTest::newRow("unlink nothing there") << "unlink"
                                              << "4"
                                              << "" << own;
        QTest::newRow("unlink a file") << "unlink"
                                       << "5"
                                       << "" << own;
        QTest::newRow("unlink the default") << "unlink"
                                            << "6"
                                            << "" << own;
    }

    void refusals() {
        QFETCH(QString, command);
        QFETCH(QString, number);
        QFETCH(QString, device);
        QFETCH(QString, own);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto at = [&root](const QString &p) {
            return QFileInfo(p).isAbsolute() || p.isEmpty() ? p : root.filePath(p);
        };
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("config")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("program")));
        QVERIFY(MakeFile(root.filePath(QStringLiteral("config/COM5"))));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"),
                            root.filePath(QStringLiteral("program/COM6"))));
        const SettingsPlace place(own == QStringLiteral("-") ? QString() : at(own),
                                  root.filePath(QStringLiteral("program")));
        const QStringList before = Snapshot(root.path());

        const PortCommandResult result = command == QStringLiteral("link")
                                             ? LinkPort(number, at(device), place)
                                             : UnlinkPort(number, place);
        QVERIFY(!result.done);
        QVERIFY(!result.message.isEmpty());
        QCOMPARE(Snapshot(root.path()), before);
    }

    void linkByStableName() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString byId = root.filePath(QStringLiteral("by-id"));
        const QString stable = byId + QStringLiteral("/usb-Bridge_Adapter_0001-if00-port0");
        QVERIFY(QDir().mkpath(byId));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), stable));
        // The first link creates the settings directory.
        const SettingsPlace place(root.filePath(QStringLiteral("home/.config/sensor-companion")));

        QVERIFY(LinkPort(QStringLiteral("com4"), QStringLiteral("/dev/null"), place, byId).done);
        QCOMPARE(QFileInfo(PortLink(4, place.own)).symLinkTarget(), stable);
        QCOMPARE(PortDevice(4, place), QStringLiteral("/dev/null"));
        QCOMPARE(PortTargetOf(4, place).device, stable); // what the tooltip shows

        // Linked again, to a device without a stable name: replaced, by its own path.
        const PortCommandResult again =
            LinkPort(QStringLiteral("4"), QStringLiteral("/dev/zero"), place, byId);
        QVERIFY(again.done);
        QVERIFY(again.message.contains(stable));
        QCOMPARE(QFileInfo(PortLink(4, place.own)).symLinkTarget(), QStringLiteral("/dev/zero"));

        QVERIFY(UnlinkPort(QStringLiteral("4"), place).done);
        QVERIFY(PortLink(4, place.own).isEmpty());
    }

    // A lock names its process in its first line. One that still runs keeps the device; one
    // that has ended only blocks users who may not remove its file (tried by hand as nobody).
    void lockRefusal_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("refusal"); // %1: the running process's id

        QTest::newRow("running process")
            << QByteArray("%1\nsensor-companion\nhost\n") << "process %1 (sensor-companion) of";
        QTest::newRow("own ended process") << QByteArray("999999999\nsensor-companion\n") << "";
        QTest::newRow("not a process id") << QByteArray("garbage\n") << "";
        QTest::newRow("empty lock") << QByteArray() << "";
    }

    void lockRefusal() {
        QFETCH(QByteArray, content);
        QFETCH(QString, refusal);
        QProcess running;
        running.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(running.waitForStarted());
        const QString pid = QString::number(running.processId());
        QTemporaryDir locks;
        QVERIFY(locks.isValid());
        QFile lock(locks.filePath(QStringLiteral("LCK..null")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(content.replace("%1", pid.toLatin1()));
        lock.close();

        const QString why = LockRefusal(QStringLiteral("/dev/null"), {locks.path()});
        running.terminate();
        running.waitForFinished();
        if (refusal.isEmpty())
            QCOMPARE(why, QString());
        else
            QVERIFY2(why.contains(refusal.arg(pid)), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TstPorts)
#include "tst_ports.moc"
