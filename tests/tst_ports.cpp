// The link command: each refusal leaves every file as it was, and a link names the device
// by its stable name, so it survives re-plugging.

#include "extras/search/portaccess.h"
#include "portlist.h"
#include "serial/portdevice.h"
#include "serial/portlinks.h"
#include "serial/tcpaddress.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
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
        QTest::newRow("address without port") << "link"
                                              << "4"
                                              << "tcp://host" << own;
        QTest::newRow("address over a file") << "link"
                                             << "5"
                                             << "tcp://host:4001" << own;
        QTest::newRow("address, no settings directory") << "link"
                                                        << "4"
                                                        << "tcp://host:4001"
                                                        << "-";
    }

    void refusals() {
        QFETCH(QString, command);
        QFETCH(QString, number);
        QFETCH(QString, device);
        QFETCH(QString, own);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto at = [&root](const QString &p) {
            return QFileInfo(p).isAbsolute() || p.isEmpty() || IsTcpText(p) ? p : root.filePath(p);
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

    void tcpAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: refused
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("why"); // part of the refusal
        QTest::newRow("IPv4") << "tcp://192.168.1.50:4001"
                              << "192.168.1.50" << 4001 << "";
        QTest::newRow("name, any case") << "TCP://Gateway-1.plant.example:502"
                                        << "Gateway-1.plant.example" << 502 << "";
        QTest::newRow("IPv6") << "tcp://[fe80::1]:4001"
                              << "fe80::1" << 4001 << "";
        QTest::newRow("highest port") << "tcp://h:65535"
                                      << "h" << 65535 << "";
        QTest::newRow("no port") << "tcp://host"
                                 << "" << 0 << "no port";
        QTest::newRow("empty port") << "tcp://host:"
                                    << "" << 0 << "no port";
        QTest::newRow("port 0") << "tcp://host:0"
                                << "" << 0 << "1 to 65535";
        QTest::newRow("port 65536") << "tcp://host:65536"
                                    << "" << 0 << "1 to 65535";
        QTest::newRow("signed port") << "tcp://host:+80"
                                     << "" << 0 << "1 to 65535";
        QTest::newRow("path after port") << "tcp://host:80/x"
                                         << "" << 0 << "1 to 65535";
        QTest::newRow("no host") << "tcp://:80"
                                 << "" << 0 << "no host";
        QTest::newRow("IPv6 unbracketed") << "tcp://fe80::1:80"
                                          << "" << 0 << "brackets";
        QTest::newRow("IPv6 unclosed") << "tcp://[fe80::1:80"
                                       << "" << 0 << "closing";
        QTest::newRow("IPv6 not") << "tcp://[host]:80"
                                  << "" << 0 << "not an IPv6";
        QTest::newRow("IPv4 out of range") << "tcp://300.1.1.1:80"
                                           << "" << 0 << "not an IPv4";
        QTest::newRow("space in host") << "tcp://a b:80"
                                       << "" << 0 << "not a host";
        QTest::newRow("other scheme") << "udp://h:80"
                                      << "" << 0 << "tcp://HOST:PORT";
    }
    void tcpAddress() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, why);
        QString refusal;
        const std::optional<TcpAddress> address = ParseTcpAddress(text, &refusal);
        QCOMPARE(address.has_value(), !host.isEmpty());
        if (!address) {
            QVERIFY2(refusal.contains(why), qPrintable(refusal));
            return;
        }
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
        QCOMPARE(ParseTcpAddress(address->Text()), address); // what a link file holds
    }

    // Which of a COMn link and a COMn-tcp.txt, in the user's folder or the administrator's,
    // decides what COMn is.
    void tcpPrecedence_data() {
        QTest::addColumn<QString>("own");      // "", "link", "tcp" or "both"
        QTest::addColumn<QString>("fallback"); // likewise
        QTest::addColumn<QString>("opens");
        const QString own = QStringLiteral("tcp://own:1");
        const QString admin = QStringLiteral("tcp://admin:2");
        QTest::newRow("own address") << "tcp"
                                     << "" << own;
        QTest::newRow("address before link, one folder") << "both"
                                                         << "" << own;
        QTest::newRow("own link before default address") << "link"
                                                         << "tcp"
                                                         << "/dev/null";
        QTest::newRow("own address before default link") << "tcp"
                                                         << "link" << own;
        QTest::newRow("default address") << ""
                                         << "tcp" << admin;
    }
    void tcpPrecedence() {
        QFETCH(QString, own);
        QFETCH(QString, fallback);
        QFETCH(QString, opens);
        QTemporaryDir root;
        const SettingsPlace place(root.filePath(QStringLiteral("own")),
                                  root.filePath(QStringLiteral("admin")));
        const auto make = [](const QString &dir, const QString &what, const char *address) {
            QDir().mkpath(dir);
            if (what == u"link" || what == u"both")
                QFile::link(QStringLiteral("/dev/null"), PortLinkPath(3, dir));
            QFile file(PortTcpPath(3, dir));
            if ((what == u"tcp" || what == u"both") && file.open(QIODevice::WriteOnly))
                file.write(address);
        };
        make(place.own, own, "tcp://own:1\r\n");
        make(place.fallback, fallback, " tcp://admin:2\n# a note\n");
        QCOMPARE(PortDevice(3, place), opens);
        QCOMPARE(PortTargetOf(3, place).tcp, IsTcpText(opens));
    }

    // Linking an address replaces the device link and the other way round, so that one of
    // them decides; unlink removes the address.
    void tcpLinkReplaces() {
        QTemporaryDir root;
        const SettingsPlace place(root.filePath(QStringLiteral("own")));
        QVERIFY(LinkPort(QStringLiteral("4"), QStringLiteral("/dev/null"), place).done);
        const PortCommandResult tcp =
            LinkPort(QStringLiteral("4"), QStringLiteral("tcp://[::1]:4001"), place);
        QVERIFY2(tcp.done, qPrintable(tcp.message));
        QVERIFY(tcp.message.contains(u"/dev/null"));
        QVERIFY(PortLink(4, place.own).isEmpty());
        QCOMPARE(PortDevice(4, place), QStringLiteral("tcp://[::1]:4001"));

        const PortCommandResult device =
            LinkPort(QStringLiteral("4"), QStringLiteral("/dev/null"), place);
        QVERIFY(device.done);
        QVERIFY(device.message.contains(u"tcp://[::1]:4001"));
        QVERIFY(!QFileInfo::exists(PortTcpPath(4, place.own)));

        QVERIFY(LinkPort(QStringLiteral("4"), QStringLiteral("tcp://localhost:502"), place).done);
        QVERIFY(UnlinkPort(QStringLiteral("4"), place).done);
        QCOMPARE(Snapshot(place.own), QStringList());
    }

    // The listing says of each network COMn whether a connection succeeds now.
    void tcpLinkListed() {
        QTemporaryDir root;
        const SettingsPlace place(root.path());
        QTcpServer listening;
        QVERIFY(listening.listen(QHostAddress::LocalHost));
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        const QString up = QStringLiteral("tcp://127.0.0.1:%1").arg(listening.serverPort());
        const QString down = QStringLiteral("tcp://127.0.0.1:%1").arg(closedPort);
        QVERIFY(LinkPort(QStringLiteral("2"), up, place).done);
        QVERIFY(LinkPort(QStringLiteral("3"), down, place).done);
        const QString text = LinkListText(place);
        QVERIFY2(text.contains(QStringLiteral("COM2 → %1  (connects now)").arg(up)),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("COM3 → %1  (does not connect now: connection "
                                              "refused)")
                                   .arg(down)),
                 qPrintable(text));
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
