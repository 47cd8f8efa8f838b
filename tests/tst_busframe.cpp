// How the bus tools judge what comes back after a read of register 0, each row named by the
// bytes heard; the addresses a technician types; and the 99th percentile of reply times.

#include "extras/bus/busframe.h"
#include "extras/bus/busstats.h"

#include <QtTest>

Q_DECLARE_METATYPE(bus::Heard)

class TstBusFrame : public QObject {
    Q_OBJECT
private slots:
    void judge_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("final");
        QTest::addColumn<bus::Heard>("heard");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("value");
        const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
        using H = bus::Heard;
        QTest::newRow("05 03 02 03 E8 49 3A: the reading 1000")
            << hex("050302 03E8 493A") << false << H::Reply << 5 << 1000;
        QTest::newRow("07 03 02 03 E8 30 FA: another module")
            << hex("070302 03E8 30FA") << false << H::WrongAddress << 7 << 0;
        QTest::newRow("05 03 02 03 E8 49 3B: bad CRC")
            << hex("050302 03E8 493B") << false << H::Garbled << 0 << 0;
        QTest::newRow("05 83 02 81 30: exception 2")
            << hex("058302 8130") << false << H::Exception << 5 << 2;
        QTest::newRow("05 03 02 03: part, more may come")
            << hex("05030203") << false << H::Incomplete << 0 << 0;
        QTest::newRow("05 03 02 03: part, wait over")
            << hex("05030203") << true << H::Short << 0 << 0;
        QTest::newRow("a reply and one byte more")
            << hex("050302 03E8 493A 00") << false << H::Garbled << 0 << 0;
        QTest::newRow("nothing, wait over") << QByteArray() << true << H::Silent << 0 << 0;
        QTest::newRow("05 06 ...: a write's echo")
            << hex("05060A04 2710 D06B") << true << H::Garbled << 0 << 0;
    }
    void judge() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, final);
        QFETCH(bus::Heard, heard);
        QFETCH(int, from);
        QFETCH(int, value);
        const bus::Judged judged = bus::Judge(5, bytes, final);
        QCOMPARE(judged.heard, heard);
        QCOMPARE(judged.from, from);
        QCOMPARE(int(judged.value), value);
    }

    // A write of 10526 (1.0526) to 0x0A04 of module 5 is answered by its echo.
    void judgeEcho_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bus::Heard>("heard");
        QTest::addColumn<int>("value");
        const auto hex = [](const char *text) { return QByteArray::fromHex(text); };
        using H = bus::Heard;
        QTest::newRow("05 06 0A 04 29 1E 55 CF: the echo")
            << hex("05060A04 291E 55CF") << H::Reply << 10526;
        QTest::newRow("05 06 0A 04 27 10 D0 6B: checks out, another value")
            << hex("05060A04 2710 D06B") << H::Garbled << 0;
        QTest::newRow("05 86 02 82 60: exception 2") << hex("058602 8260") << H::Exception << 2;
        QTest::newRow("05 06 0A 04 29 1E 55: part") << hex("05060A04 291E 55") << H::Short << 0;
    }
    void judgeEcho() {
        QFETCH(QByteArray, bytes);
        QFETCH(bus::Heard, heard);
        QFETCH(int, value);
        const bus::Judged judged = bus::JudgeEcho(bus::WriteRequest(5, 0x0A04, 10526), bytes, true);
        QCOMPARE(judged.heard, heard);
        QCOMPARE(int(judged.value), value);
    }

    void addresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // the list as text, or the message
        QTest::newRow("list and run") << "3, 5 7-9"
                                      << "3,5,7-9";
        QTest::newRow("each once, in order") << "9,3,3-4"
                                             << "9,3,4";
        QTest::newRow("Chinese comma") << "3，5"
                                       << "3,5";
        QTest::newRow("36") << "3,36"
                            << "地址 36 超出范围，地址为 1 到 35";
        QTest::newRow("0") << "0-2"
                           << "地址 0-2 超出范围，地址为 1 到 35";
        QTest::newRow("backwards") << "9-7"
                                   << "地址 9-7 超出范围，地址为 1 到 35";
        QTest::newRow("word") << "a"
                              << "“a”不是地址，请输入 1 到 35 的地址，如 3,5,7-9";
        QTest::newRow("empty") << " "
                               << "请输入要查看的地址，如 3,5,7-9";
    }
    void addresses() {
        QFETCH(QString, text);
        QFETCH(QString, parsed);
        const auto result = bus::ParseAddresses(text);
        if (const auto *list = std::get_if<QList<int>>(&result))
            QCOMPARE(bus::AddressesText(*list), parsed);
        else
            QCOMPARE(std::get<QString>(result), parsed);
    }

    // 100 replies of 1.0 to 10.9 ms and one of 2.5 s: the 99th is the 100th fastest, the
    // mean takes them all, and the slow one is kept in the last step.
    void percentileOfReplyTimes() {
        bus::ModuleHealth health(3);
        bus::Answer answer;
        answer.judged.heard = bus::Heard::Reply;
        for (int i = 0; i < 100; ++i) {
            answer.ms = 1.0 + i * 0.1 + 0.05;
            health.Count(answer);
        }
        answer.ms = 2500;
        health.Count(answer);
        QCOMPARE(health.replies, std::uint64_t(101));
        QCOMPARE(*health.PercentileMs(99), 11.0);
        QCOMPARE(*health.PercentileMs(100), 2000.0);
        QVERIFY(qAbs(*health.MeanMs() - (100 * 6.0 + 2500) / 101) < 1e-9);
        answer.judged.heard = bus::Heard::Silent;
        for (int round = 1; round <= 3; ++round) {
            QCOMPARE(health.Missing(), false);
            health.Count(answer);
        }
        QVERIFY(health.Missing());
    }
};

QTEST_APPLESS_MAIN(TstBusFrame)
#include "tst_busframe.moc"
