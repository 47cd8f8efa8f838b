// The sensor commands and the receiver in the real window with its real serial control.
// The module is played by the test on the other side of a pseudo-terminal linked as COM4:
// the test reads the request bytes the program wrote and writes the replies it gets.

#include "serial/mscomm.h"
#include "windowharness.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <limits>

namespace {
const QString kPortClosed = QStringLiteral("打开串口出错，请确定串口是否已被占用");
// A pending-operation code no command uses, to see that a command leaves CmdType alone.
constexpr std::int16_t kNoSuchCmd = 9;
} // namespace

class TstOperations : public QObject {
    Q_OBJECT

    WindowHarness h_;

    frmMain &start(bool plugged = true) { return h_.start(plugged); }
    void fill(const QStringList &fields) const { h_.fill(fields); }
    bool lineQuiet() const { return h_.lineQuiet(); }
    void reply(const char *hex) const { h_.reply(hex); }
    Pty &module() const { return *h_.module; }

    // once, read0-2, set0-2, readAdd, change: the button a technician clicks.
    void click(const QString &command) const {
        QPushButton *button = nullptr;
        if (command == u"once")
            button = h_.w->comDoOnce;
        else if (command.startsWith(u"read") && command.size() == 5)
            button = h_.w->cmdREAD(command.back().digitValue());
        else if (command.startsWith(u"set"))
            button = h_.w->cmdSet(command.back().digitValue());
        else if (command == u"readAdd")
            button = h_.w->cmdReadAdd;
        else if (command == u"change")
            button = h_.w->cmdChangeID;
        if (!button)
            qFatal("no command %s", qPrintable(command));
        button->click();
    }
private slots:
    void cleanup() { h_.reset(); }

    // Rows are named by the request the module must receive.
    void requestBytes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<int>("replyLen");
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("cmdType");
        auto row = [](const char *frame, const char *command, QStringList fields, int replyLen,
                      int threshold, int cmdType) {
            QTest::newRow(frame) << QString::fromLatin1(command) << fields << replyLen << threshold
                                 << cmdType;
        };
        // The one-shot query from its four fields.
        row("01 03 00 00 00 02 C4 0B", "once", {}, 9, 9, cmdtype::Query);
        row("02 03 00 00 00 02 C4 38", "once", {"txtStationID=2"}, 9, 9, cmdtype::Query);
        row("01 03 00 00 00 04 44 09", "once", {"txtDataLength=4"}, 13, 13, cmdtype::Query);
        row("01 03 00 00 00 01 84 0A", "once", {"txtDataLength=1"}, 7, 7, cmdtype::Query);
        row("01 03 00 00 00 07 04 08", "once", {"txtDataLength=7.9"}, 19, 19, cmdtype::Query);
        row("00 03 00 00 00 02 C5 DA", "once", {"txtStationID=300"}, 9, 9, cmdtype::Query);
        row("01 03 00 00 00 02 C4 0B", "once", {"txtStationID=1.9"}, 9, 9, cmdtype::Query);
        row("01 04 00 00 00 02 71 CB", "once", {"txtFunID=3.5"}, 9, 9, cmdtype::Query);
        row("01 02 00 00 00 02 F9 CB", "once", {"txtFunID=2.5"}, 9, 9, cmdtype::Query);
        row("01 03 00 00 00 02 C4 0B", "once", {"txtStartID=256"}, 9, 9, cmdtype::Query);
        // Parameter reads: register start + 4 + index, one register.
        row("01 03 00 04 00 01 C5 CB", "read0", {}, 7, 7, cmdtype::ParameterRead);
        row("01 03 00 05 00 01 94 0B", "read1", {}, 7, 7, cmdtype::ParameterRead);
        row("01 03 00 06 00 01 64 0B", "read2", {}, 7, 7, cmdtype::ParameterRead);
        row("01 03 00 0F 00 01 B4 09", "read1", {"txtStartID=10"}, 7, 7, cmdtype::ParameterRead);
        row("00 03 00 05 00 01 95 DA", "read1", {"txtStationID=abc"}, 7, 7, cmdtype::ParameterRead);
        row("01 00 00 05 00 01 D0 0B", "read1", {"txtFunID=256"}, 7, 7, cmdtype::ParameterRead);
        row("01 03 00 00 00 01 84 0A", "read1", {"txtStartID=251.5"}, 7, 7, cmdtype::ParameterRead);
        // Parameter writes: function 6 at 0x0A04 + index.
        row("01 06 0A 04 27 10 D1 EF", "set0", {"txtsetValue(0)=1.0000"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 04 07 D0 C8 7F", "set0", {"txtsetValue(0)=0.2"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 04 C3 50 9B 1F", "set0", {"txtsetValue(0)=5"}, 6, 6, cmdtype::ParameterWrite);
        row("01 06 0A 05 FF 9C DB 8A", "set1", {"txtsetValue(1)=-100"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 05 00 02 1B D2", "set1", {"txtsetValue(1)=2.5"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 05 00 04 9B D0", "set1", {"txtsetValue(1)=3.5"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 06 00 09 AA 15", "set2", {"txtsetValue(2)=9"}, 6, 6, cmdtype::ParameterWrite);
        row("01 06 0A 05 FF FF 9B A3", "set1", {"txtsetValue(1)=65535"}, 6, 6,
            cmdtype::ParameterWrite);
        row("01 06 0A 06 FF FF 6B A3", "set2", {"txtsetValue(2)=65535"}, 6, 6,
            cmdtype::ParameterWrite);
        row("00 06 0A 05 00 07 DA 00", "set1",
            {"txtsetValue(1)=7", "txtStationID=0", "txtStartID=10"}, 6, 6, cmdtype::ParameterWrite);
        // The device address.
        row("FA 25 02 00 00 01 99 FE", "readAdd",
            {"txtStationID=x", "txtFunID=x", "txtStartID=x", "txtSetID(0)=x"}, 7, 6,
            cmdtype::Address);
        row("01 06 0B 00 00 02 0A 2F", "change", {"txtSetID(0)=1", "txtSetID(1)=2"}, 6, 6,
            cmdtype::Address);
        row("C8 06 0B 00 00 05 5A 74", "change", {"txtSetID(0)=200", "txtSetID(1)=5"}, 6, 6,
            cmdtype::Address);
        row("02 06 0B 00 00 23 CA 04", "change", {"txtSetID(0)=2.9", "txtSetID(1)=35"}, 6, 6,
            cmdtype::Address);
    }
    void requestBytes() {
        QFETCH(QString, command);
        QFETCH(QStringList, fields);
        QFETCH(int, replyLen);
        QFETCH(int, threshold);
        QFETCH(int, cmdType);
        const QString frame = QString::fromLatin1(QTest::currentDataTag());

        frmMain &w = start();
        QVERIFY(w.MSComm1->portOpen());
        fill(fields);
        click(command);

        QCOMPARE(module().receive(8).toHex(' ').toUpper(), frame.toLatin1());
        QVERIFY(lineQuiet());
        QCOMPARE(w.txtCommand->text(), Shown(frame));
        QCOMPARE(w.CmdText, Shown(frame));
        QCOMPARE(int(w.ReplyLen), replyLen);
        QCOMPARE(int(w.MSComm1->rThreshold()), threshold);
        QCOMPARE(int(w.CmdType), cmdType);
        const bool portFirst = cmdType == cmdtype::Query || cmdType == cmdtype::ParameterRead;
        QCOMPARE(w.FrontLamp(), portFirst ? w.ImgYellow : w.imgConnected);
        QVERIFY(h_.shown.empty());
    }

    // A refused command shows one message and leaves everything else as it was.
    void refusals_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("message");
        auto row = [](const char *name, const char *command, QStringList fields,
                      const char *message) {
            QTest::newRow(name) << QString::fromLatin1(command) << fields
                                << QString::fromUtf8(message);
        };
        const char *lengthRange = "你输入的数据长度格式有误,正确的值应该为1-7!";
        row("once: empty address before bad length", "once", {"txtStationID=", "txtDataLength=9"},
            "你输入的设备地址格式有误!");
        row("once: function code", "once", {"txtFunID=three"}, "你输入的功能码格式有误!");
        row("once: length before start", "once", {"txtDataLength=a", "txtStartID=b"},
            "你输入的数据长度格式有误!");
        row("once: start before length range", "once", {"txtStartID=b", "txtDataLength=9"},
            "你输入的起始地址格式有误!");
        row("once: length 0", "once", {"txtDataLength=0"}, lengthRange);
        row("once: length -1", "once", {"txtDataLength=-1"}, lengthRange);
        row("once: length 0.5", "once", {"txtDataLength=0.5"}, lengthRange);
        row("once: length 8", "once", {"txtDataLength=8"}, lengthRange);
        row("once: hex is no number", "once", {"txtStationID=0x01"}, "你输入的设备地址格式有误!");
        row("set: 65536", "set1", {"txtsetValue(1)=65536"}, "你输入的值有误!");
        row("set: -65536", "set2", {"txtsetValue(2)=-65536"}, "你输入的值有误!");
        row("set: letters", "set1", {"txtsetValue(1)=ten"}, "你输入的值有误!");
        row("set: empty", "set0", {"txtsetValue(0)="}, "你输入的值有误!");
        row("set: coefficient 7 exceeds the register", "set0", {"txtsetValue(0)=7"},
            "你输入的值有误!");
        row("set: -0.5 rounds to 65536", "set1", {"txtsetValue(1)=-0.5"}, "你输入的值有误!");
        row("set: station letters", "set1", {"txtStationID=abc"}, "你输入的设备地址格式有误!");
        row("set: station 256", "set1", {"txtStationID=256"}, "你输入的设备地址格式有误!");
        row("set: station -1", "set0", {"txtStationID=-0.5"}, "你输入的设备地址格式有误!");
        row("set: value checked before station", "set1", {"txtsetValue(1)=x", "txtStationID=x"},
            "你输入的值有误!");
        const char *range = "请指定正确的设备地址，正确值范围为1-35";
        const char *rangeBang = "请指定正确的设备地址，正确值范围为1-35!";
        row("change: current letters first", "change", {"txtSetID(0)=a", "txtSetID(1)=b"},
            "你输入的原设备地址格式有误!");
        row("change: target letters", "change", {"txtSetID(1)=b"}, "你输入的目标设备地址格式有误!");
        row("change: current 0", "change", {"txtSetID(0)=0"}, range);
        row("change: target 0.5", "change", {"txtSetID(1)=0.5"}, range);
        row("change: target 36", "change", {"txtSetID(1)=36"}, rangeBang);
        row("change: current 0 and target 36", "change", {"txtSetID(0)=0", "txtSetID(1)=36"},
            range);
        row("change: current 256", "change", {"txtSetID(0)=256"}, range);
        row("change: current -1", "change", {"txtSetID(0)=-1"}, range);
        row("change: target -0.5", "change", {"txtSetID(1)=-0.5"}, range);
        row("change: current 1e300", "change", {"txtSetID(0)=1e300"}, range);
    }
    void refusals() {
        QFETCH(QString, command);
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        frmMain &w = start();
        w.CmdType = kNoSuchCmd;
        w.ReplyLen = 99;
        w.txtCommand->setText(QStringLiteral("previous"));
        w.txtState->setPlainText(QStringLiteral(" AA"));
        const QLabel *lamp = w.FrontLamp();
        fill(fields);
        click(command);

        QCOMPARE(h_.shown.size(), size_t(1));
        QCOMPARE(h_.shown[0].text, message);
        QCOMPARE(h_.shown[0].title, w.messages().applicationTitle());
        QCOMPARE(h_.shown[0].icon, MsgIcon::None);
        QVERIFY(lineQuiet());
        QCOMPARE(w.CmdType, kNoSuchCmd);
        QCOMPARE(int(w.ReplyLen), 99);
        QCOMPARE(w.txtCommand->text(), QStringLiteral("previous"));
        QCOMPARE(w.txtState->toPlainText(), QStringLiteral(" AA"));
        QCOMPARE(w.FrontLamp(), lamp);
    }

    // With no port open: the commands that test the port first report it and build
    // nothing; the others build and show the request, show red and send nothing.
    void portClosed_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("reported");
        QTest::addColumn<int>("cmdType");
        QTest::addColumn<QString>("txtCommand");
        QTest::newRow("once") << "once" << true << int(kNoSuchCmd) << "previous";
        QTest::newRow("read1") << "read1" << true << int(kNoSuchCmd) << "previous";
        QTest::newRow("set0") << "set0" << false << int(cmdtype::ParameterWrite)
                              << Shown("01 06 0A 04 27 10 D1 EF");
        QTest::newRow("readAdd") << "readAdd" << false << int(cmdtype::Address)
                                 << Shown("FA 25 02 00 00 01 99 FE");
        QTest::newRow("change") << "change" << false << int(cmdtype::Address)
                                << Shown("01 06 0B 00 00 02 0A 2F");
    }
    void portClosed() {
        QFETCH(QString, command);
        QFETCH(bool, reported);
        QFETCH(int, cmdType);
        QFETCH(QString, txtCommand);
        frmMain &w = start(false);
        QVERIFY(!w.MSComm1->portOpen());
        w.CommReady = true;
        w.CmdType = kNoSuchCmd;
        w.txtCommand->setText(QStringLiteral("previous"));
        w.txtState->setPlainText(QStringLiteral(" AA"));
        fill({"txtSetID(1)=2"});
        click(command);

        QCOMPARE(h_.shown.size(), size_t(reported ? 1 : 0));
        if (reported)
            QCOMPARE(h_.shown[0].text, kPortClosed);
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        QCOMPARE(w.CommReady, !reported);
        QCOMPARE(int(w.CmdType), cmdType);
        QCOMPARE(w.txtCommand->text(), txtCommand);
        QCOMPARE(w.txtState->toPlainText(), QString());
        if (command == u"read1")
            QCOMPARE(int(w.ParamIndex), 1); // set even though nothing was sent
    }

    void measuredValueShown() {
        frmMain &w = start();
        const int before = w.CommCount;
        click(QStringLiteral("once"));
        QCOMPARE(module().receive(8).size(), qsizetype(8));
        reply("02 03 04 01 F4 00 00 89 3D");
        QTRY_COMPARE(w.txtValue(0)->text(), QStringLiteral("500"));
        QCOMPARE(w.txtState->toPlainText(), QStringLiteral(" 02 03 04 01 F4 00 00 89 3D"));
        QCOMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(w.CommCount, before + 1);
        QCOMPARE(w.lblErrCounter->text(), QString::number(before + 1));
        for (int c = 1; c < 4; ++c)
            QCOMPARE(w.txtValue(c)->text(), QStringLiteral("0"));
    }

    void wrongCrcAndOtherAddressDecodedAlike() {
        frmMain &w = start();
        click(QStringLiteral("once"));
        module().receive(8);
        reply("07 03 04 00 2A 00 00 00 00");
        QTRY_COMPARE(w.txtValue(0)->text(), QStringLiteral("42"));
    }

    void sevenRegistersFillFourBoxes() {
        frmMain &w = start();
        fill({"txtDataLength=7"});
        click(QStringLiteral("once"));
        module().receive(8);
        reply("01 03 0E 00 0A 00 00 09 E6 00 00 13 88 00 00 FF FF 00 00 00 00");
        QTRY_COMPARE(w.txtValue(3)->text(), QStringLiteral("655.35"));
        QCOMPARE(w.txtValue(0)->text(), QStringLiteral("10"));
        QCOMPARE(w.txtValue(1)->text(), QStringLiteral("25.34"));
        QCOMPARE(w.txtValue(2)->text(), QStringLiteral("0.5000"));
    }

    // The colour follows the pair counter: start 2 writes channels 2 and 3 but blackens 0
    // and 1.
    void colourFollowsThePairCounter() {
        frmMain &w = start();
        for (int c = 0; c < 4; ++c) {
            QPalette red = w.txtValue(c)->palette();
            red.setColor(QPalette::Text, Qt::red);
            w.txtValue(c)->setPalette(red);
        }
        fill({"txtStartID=2", "txtDataLength=4"});
        click(QStringLiteral("once"));
        module().receive(8);
        reply("01 03 08 13 88 00 00 00 07 00 00 00 00");
        QTRY_COMPARE(w.txtValue(3)->text(), QStringLiteral("0.07"));
        QCOMPARE(w.txtValue(2)->text(), QStringLiteral("0.5000"));
        QCOMPARE(w.txtValue(0)->text(), QStringLiteral("0"));
        const QColor colours[] = {Qt::black, Qt::black, Qt::red, Qt::red};
        for (int c = 0; c < 4; ++c)
            QCOMPARE(w.txtValue(c)->palette().color(QPalette::Text), colours[c]);
    }

    // The event comes only when the threshold is reached: a reply in pieces is taken
    // whole, a short one raises nothing and is dropped by the next command.
    void splitAndShortReplies() {
        frmMain &w = start();
        click(QStringLiteral("once"));
        module().receive(8);
        reply("01 03 04 01");
        QTest::qWait(100);
        QCOMPARE(w.txtState->toPlainText(), QString());
        QCOMPARE(w.FrontLamp(), w.ImgYellow);
        reply("F4 00 00 BA 3D");
        QTRY_COMPARE(w.txtValue(0)->text(), QStringLiteral("500"));

        const int count = w.CommCount;
        click(QStringLiteral("once"));
        module().receive(8);
        reply("01 83 02 C0 F1"); // an exception reply: 5 bytes, threshold 9
        QTest::qWait(100);
        QCOMPARE(w.txtState->toPlainText(), QString());
        QCOMPARE(w.CommCount, count);
        QCOMPARE(w.FrontLamp(), w.ImgYellow);

        click(QStringLiteral("once"));
        module().receive(8);
        reply("01 03 04 00 07 00 00 00 00");
        QTRY_COMPARE(w.txtValue(0)->text(), QStringLiteral("7"));
        QCOMPARE(w.txtState->toPlainText(), QStringLiteral(" 01 03 04 00 07 00 00 00 00"));
    }

    // After a write (threshold 6) an 8-byte echo gives one event with 6 to 8 bytes, and
    // nothing is decoded.
    void writeEchoShownNotDecoded() {
        frmMain &w = start();
        w.txtValue(0)->setText(QStringLiteral("123"));
        w.txtsetValue(0)->setText(QStringLiteral("0.2"));
        click(QStringLiteral("set0"));
        module().receive(8);
        const int count = w.CommCount;
        reply("01 06 0A 04 07 D0 C8 7F");
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        QTest::qWait(100);
        QCOMPARE(w.CommCount, count + 1);
        const QString text = w.txtState->toPlainText();
        QVERIFY2(text.size() >= 18 && QStringLiteral(" 01 06 0A 04 07 D0 C8 7F").startsWith(text),
                 qPrintable(text));
        QCOMPARE(w.txtValue(0)->text(), QStringLiteral("123"));
        QCOMPARE(w.txtsetValue(0)->text(), QStringLiteral("0.2"));
    }

    void parameterReadsGoToTheirRow() {
        frmMain &w = start();
        click(QStringLiteral("read1"));
        module().receive(8);
        reply("01 03 02 FF FF B9 F4");
        QTRY_COMPARE(w.txtsetValue(1)->text(), QStringLiteral("65535"));

        click(QStringLiteral("read0"));
        module().receive(8);
        reply("01 03 02 27 10 A2 78");
        QTRY_COMPARE(w.txtsetValue(0)->text(), QStringLiteral("1.0000"));

        // A write leaves the pending row alone: its echo is not decoded into any row.
        click(QStringLiteral("read2"));
        module().receive(8);
        click(QStringLiteral("set0"));
        module().receive(8);
        QCOMPARE(int(w.ParamIndex), 2);
        reply("01 06 0A 04 27 10 D1 EF");
        QTRY_COMPARE(w.FrontLamp(), w.imgConnected);
        QCOMPARE(w.txtsetValue(2)->text(), QStringLiteral("1"));
        QCOMPARE(w.txtsetValue(0)->text(), QStringLiteral("1.0000"));
    }

    void addressReplyFillsBothAddressBoxes() {
        frmMain &w = start();
        click(QStringLiteral("readAdd"));
        module().receive(8);
        reply("FA 25 01 23 61 7E");
        QTRY_COMPARE(w.txtSetID(0)->text(), QStringLiteral("35"));
        QCOMPARE(w.txtStationID->text(), QStringLiteral("35"));
        QCOMPARE(w.txtSetID(1)->text(), QStringLiteral("1"));
    }

    // Before any request the threshold is 1: each reply replaces the text, nothing is
    // decoded.
    void unsolicitedBytesReplaceTheText() {
        frmMain &w = start();
        reply("AA");
        QTRY_COMPARE(w.txtState->toPlainText(), QStringLiteral(" AA"));
        QCOMPARE(w.FrontLamp(), w.imgConnected);
        reply("BB");
        QTRY_COMPARE(w.txtState->toPlainText(), QStringLiteral(" BB"));
        QCOMPARE(w.txtValue(0)->text(), QStringLiteral("0"));
    }

    // An event that is not a receive event only counts.
    void otherEventsOnlyCount() {
        frmMain &w = start();
        click(QStringLiteral("once"));
        module().receive(8);
        const int count = w.CommCount;
        module().unplug();
        QTRY_COMPARE(w.CommCount, count + 1);
        QCOMPARE(w.lblErrCounter->text(), QString::number(count + 1));
        QCOMPARE(w.FrontLamp(), w.ImgYellow);
        QCOMPARE(w.txtState->toPlainText(), QString());
    }

    void eventCounterStopsAtItsLargestValue() {
        frmMain &w = start();
        w.CommCount = std::numeric_limits<std::int32_t>::max() - 1;
        reply("01");
        QTRY_COMPARE(w.lblErrCounter->text(), QStringLiteral("2147483647"));
        reply("02");
        QTRY_COMPARE(w.txtState->toPlainText(), QStringLiteral(" 02"));
        QCOMPARE(w.CommCount, std::numeric_limits<std::int32_t>::max());
        QCOMPARE(w.lblErrCounter->text(), QStringLiteral("2147483647"));
    }
};

QTEST_MAIN(TstOperations)
#include "tst_operations.moc"
