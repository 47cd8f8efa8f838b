// The frame codec and the decoding rules, as plain values. The CRC is also checked
// against libmodbus, an independent implementation, over a pseudo-terminal: libmodbus
// appends its CRC to random frames and the test compares it with ours.

#include "modbus/decoding.h"
#include "modbus/frame.h"
#include "operations/parameterencoding.h"
#include "pty.h"

#include <QRandomGenerator>
#include <QtTest>

#include <modbus.h>

#include <vector>

namespace {

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

std::vector<std::uint8_t> Bytes(const QByteArray &bytes) {
    return {bytes.begin(), bytes.end()};
}

} // namespace

using OptText = std::optional<QString>;
Q_DECLARE_METATYPE(OptText)

class TstModbus : public QObject {
    Q_OBJECT

private slots:
    // Each row: the six bytes covered and the two CRC bytes as they go on the wire.
    void crcGoldenVectors_data() {
        QTest::addColumn<QByteArray>("frame");
        const char *frames[] = {
            "01 03 00 00 00 01 84 0A", "01 03 00 00 00 02 C4 0B", "02 03 00 00 00 02 C4 38",
            "01 03 00 00 00 04 44 09", "01 03 00 04 00 01 C5 CB", "01 03 00 05 00 01 94 0B",
            "01 03 00 06 00 01 64 0B", "01 06 0A 04 27 10 D1 EF", "01 06 0A 05 FF 9C DB 8A",
            "FA 25 02 00 00 01 99 FE", "01 06 0B 00 00 02 0A 2F", "00 00 00 00 00 00 00 1B",
            "FF FF FF FF FF FF 01 94",
        };
        for (const char *frame : frames)
            QTest::newRow(frame) << Hex(frame);
    }
    void crcGoldenVectors() {
        QFETCH(QByteArray, frame);
        const std::vector<std::uint8_t> bytes = Bytes(frame);
        const std::uint16_t crc = modbus::Crc16Value(std::span(bytes).first(6));
        QCOMPARE(crc & 0xFF, int(bytes[6]));
        QCOMPARE(crc >> 8, int(bytes[7]));
    }

    void crcOfNothingIsTheInitialValue() {
        QCOMPARE(modbus::Crc16Value({}), std::uint16_t(0xFFFF));
    }

    void crcAgreesWithLibmodbus() {
        Pty pty;
        QVERIFY(pty.isValid());
        const QByteArray device = pty.slaveName().toLocal8Bit();
        modbus_t *ctx = modbus_new_rtu(device.constData(), 115200, 'N', 8, 1);
        QVERIFY(ctx);
        const auto release = qScopeGuard([ctx] {
            modbus_close(ctx);
            modbus_free(ctx);
        });
        QCOMPARE(modbus_connect(ctx), 0);

        QRandomGenerator random(20261208);
        for (int n = 0; n < 3000; ++n) {
            // Request frames are 6 bytes before their CRC; other lengths guard the loop.
            const int length = n % 3 == 0 ? random.bounded(2, 40) : 6;
            std::vector<std::uint8_t> frame(static_cast<size_t>(length));
            for (auto &byte : frame)
                byte = static_cast<std::uint8_t>(random.bounded(256));
            QCOMPARE(modbus_send_raw_request(ctx, frame.data(), length), length + 2);
            const QByteArray sent = pty.receive(length + 2);
            QCOMPARE(sent.size(), qsizetype(length + 2));

            const std::uint16_t crc = modbus::Crc16Value(frame);
            const auto lo = static_cast<std::uint8_t>(sent[length]);
            const auto hi = static_cast<std::uint8_t>(sent[length + 1]);
            if (lo != (crc & 0xFF) || hi != (crc >> 8))
                QFAIL(qPrintable(QStringLiteral("CRC differs for%1")
                                     .arg(modbus::ReplyText(QByteArray(
                                         reinterpret_cast<const char *>(frame.data()), length)))));
        }
    }

    void requestAndReplyTexts() {
        const modbus::RequestFrame frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
        QCOMPARE(modbus::RequestText(frame), QStringLiteral("01 03 00 00 00 01 84 0A "));
        QCOMPARE(modbus::RequestText(modbus::RequestFrame{}).size(), qsizetype(24));

        QCOMPARE(modbus::ReplyText(Hex("01 03 02 00 64 B9 AF")),
                 QStringLiteral(" 01 03 02 00 64 B9 AF"));
        QCOMPARE(modbus::ReplyText(QByteArray(100, '\xA5')).size(), qsizetype(300));
        QCOMPARE(modbus::ReplyText({}), QString());
    }

    // Rows: reply bytes, start address text, the texts of channels 0-3 ("-" keeps the
    // box's text) and which boxes turn black.
    void measuredValues_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("black");
        auto row = [](const char *name, const char *reply, const char *start, QStringList texts,
                      const char *black) {
            QTest::newRow(name) << Hex(reply) << QString::fromUtf8(start) << texts
                                << QString::fromLatin1(black);
        };
        row("02 03 04 01F4 0000, start 0", "02 03 04 01 F4 00 00 89 3D", "0",
            {"500", "-", "-", "-"}, "1000");
        row("start 1 counts as 0", "01 03 04 00 07 00 00 00 00", "1", {"7", "-", "-", "-"}, "1000");
        row("byte count 14: four values", "01 03 0E 00 0A 00 00 09 E6 00 00 13 88 00 00 FF FF 00",
            "0", {"10", "25.34", "0.5000", "655.35"}, "1111");
        row("start 2, count 8: channels 2 and 3", "01 03 08 13 88 00 00 00 07 00 00 00 00", "2",
            {"-", "-", "0.5000", "0.07"}, "1100");
        row("start 3, count 4: no box", "01 03 04 00 01 00 00 00 00", "3", {"-", "-", "-", "-"},
            "1000");
        row("negative start", "01 03 08 00 01 00 00 00 02 00 00 00 00", "-1", {"-", "-", "-", "-"},
            "1100");
        row("start not a number counts as 0", "01 03 04 00 2A 00 00 00 00", "abc",
            {"42", "-", "-", "-"}, "1000");
        row("start 1e300 is no box", "01 03 04 00 2A 00 00 00 00", "1e300", {"-", "-", "-", "-"},
            "1000");
        row("0xFFFF has no sign", "01 03 04 FF FF 00 00 00 00", "0", {"65535", "-", "-", "-"},
            "1000");
        row("wrong CRC decoded all the same", "01 03 04 01 F4 00 00 00 00", "0",
            {"500", "-", "-", "-"}, "1000");
        row("count promises more: holders keep the previous pair", "01 03 08 01 02 00 00 03", "0",
            {"258", "7.70", "-", "-"}, "1100");
        row("count promises more, first pair missing", "01 03 04", "0", {"0", "-", "-", "-"},
            "1000");
        row("byte count 0: nothing", "01 03 00 00 00", "0", {"-", "-", "-", "-"}, "0000");
        row("byte count 255: 64 pairs, 4 boxes", "01 03 FF 00 05", "0",
            {"5", "0.05", "0.0005", "0.05"}, "1111");
        row("fewer than 3 bytes: nothing", "01 03", "0", {"-", "-", "-", "-"}, "0000");
        row("nothing at all", "", "0", {"-", "-", "-", "-"}, "0000");
    }
    void measuredValues() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, start);
        QFETCH(QStringList, texts);
        QFETCH(QString, black);
        const modbus::MeasuredDisplay shown = modbus::DecodeMeasured(reply, start);
        for (int c = 0; c < modbus::kChannels; ++c) {
            QCOMPARE(shown.text[c].value_or(QStringLiteral("-")), texts[c]);
            QCOMPARE(shown.black[c], black[c] == u'1');
        }
    }

    void parameterAndAddress_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("paramIndex");
        QTest::addColumn<OptText>("parameter");
        QTest::addColumn<OptText>("address");
        auto row = [](const char *reply, int index, OptText parameter, OptText address) {
            QTest::newRow(qPrintable(QStringLiteral("%1 index %2").arg(reply).arg(index)))
                << Hex(reply) << index << parameter << address;
        };
        row("01 03 02 27 10 A2 78", 0, QStringLiteral("1.0000"), QStringLiteral("39"));
        row("01 03 02 07 D0 00 00", 0, QStringLiteral("0.2000"), QStringLiteral("7"));
        row("01 03 02 FF FF B9 F4", 1, QStringLiteral("65535"), QStringLiteral("255"));
        row("01 03 02 00 08 00 00", 2, QStringLiteral("8"), QStringLiteral("0"));
        row("01 03 02 00 08 00 00", 3, std::nullopt, QStringLiteral("0"));
        row("01 03 02 00 08 00 00", -1, std::nullopt, QStringLiteral("0"));
        row("FA 25 01 23 61 7E", 1, QStringLiteral("9057"), QStringLiteral("35"));
        row("01 03 02 12", 1, QStringLiteral("4608"), QStringLiteral("18"));
        row("01 03 02", 1, QStringLiteral("0"), std::nullopt);
        row("", 0, QStringLiteral("0.0000"), std::nullopt);
    }
    void parameterAndAddress() {
        QFETCH(QByteArray, reply);
        QFETCH(int, paramIndex);
        QFETCH(OptText, parameter);
        QFETCH(OptText, address);
        QCOMPARE(modbus::ParameterText(static_cast<std::int16_t>(paramIndex),
                                       modbus::ParameterRegister(reply)),
                 parameter);
        QCOMPARE(modbus::DecodeAddress(reply), address);
    }

    // The register value a calibration entry is written as; -1 where nothing may be sent.
    void parameterEncoding_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("value");
        const std::tuple<const char *, int, int> rows[] = {
            {"1.0000", 0, 10000}, {"0.2", 0, 0x07D0},  {"5", 0, 0xC350},      {"6.5535", 0, 65535},
            {"6.5536", 0, -1},    {"7", 0, -1},        {"-0.0001", 0, 65535}, {"-6.5535", 0, 1},
            {"-100", 1, 0xFF9C},  {"2.5", 1, 2},       {"3.5", 1, 4},         {"9", 2, 9},
            {"65535", 1, 65535},  {"65535", 2, 65535}, {"65536", 1, -1},      {"-65535", 1, 1},
            {"-65536", 1, -1},    {"-0.5", 1, -1},     {"-0.3", 1, -1},       {"-0.7", 1, 65535},
            {"-0", 1, 0},         {"1e300", 1, -1},    {"-1e300", 0, -1},     {"1e-30", 1, 0},
            {"", 1, -1},          {"abc", 1, -1},      {"0x10", 1, -1},       {" 12 ", 1, 12},
        };
        for (const auto &[entry, index, value] : rows)
            QTest::newRow(qPrintable(QStringLiteral("'%1' index %2").arg(entry).arg(index)))
                << QString::fromLatin1(entry) << index << value;
    }
    void parameterEncoding() {
        QFETCH(QString, entry);
        QFETCH(int, index);
        QFETCH(int, value);
        const auto encoded = operations::ParameterRegisterValue(entry, index);
        QCOMPARE(encoded ? int(*encoded) : -1, value);
    }
};

QTEST_GUILESS_MAIN(TstModbus)
#include "tst_modbus.moc"
