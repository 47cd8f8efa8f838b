// The real window with its real serial control: the elements and their initial state,
// start-up from comm.set, the port list and the save button. Ports are pseudo-terminals
// linked as COMn in a temporary program directory.

#include "app/appinfo.h"
#include "app/frmMain.h"
#include "pty.h"
#include "serial/mscomm.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

#include <sys/stat.h>

#include <map>
#include <memory>
#include <vector>

namespace {

QString TextOf(const QWidget *w) {
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *box = qobject_cast<const QLineEdit *>(w))
        return box->text();
    if (auto *button = qobject_cast<const QPushButton *>(w))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(w))
        return frame->title();
    if (auto *list = qobject_cast<const QComboBox *>(w))
        return list->currentText();
    return QStringLiteral("<no text>");
}

// What a real message box showed before it was closed.
struct BoxSeen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Closes the next message box as soon as it is up; it never stays open on a failure.
void CloseNextBox(BoxSeen &seen) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        poll->stop();
        poll->deleteLater();
        box->accept();
    });
    poll->start(5);
}

QString StartupFailure(int port) {
    return QStringLiteral("请检查串口端口,串口端口%1无法打开!").arg(port);
}

} // namespace

class TstStartup : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::map<int, std::unique_ptr<Pty>> ports_;
    std::unique_ptr<frmMain> w_;
    std::vector<Message> shown_;

    QString path(const char *name) const { return dir_->filePath(QLatin1String(name)); }

    void writeCommSet(const QByteArray &content) const {
        QFile file(path("comm.set"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray commSet() const {
        QFile file(path("comm.set"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void plug(int port) {
        auto pty = std::make_unique<Pty>();
        QVERIFY(pty->isValid());
        QVERIFY(pty->linkAs(dir_->path(), port));
        ports_[port] = std::move(pty);
    }
    // A port the program cannot open: COMn points nowhere.
    void deadPort(int port) const {
        QVERIFY(
            QFile::link(path("nothing-here"), dir_->filePath(QStringLiteral("COM%1").arg(port))));
    }
    frmMain &window() {
        w_ = std::make_unique<frmMain>(dir_->path());
        w_->messages().setPresenter([this](const Message &m) { shown_.push_back(m); });
        return *w_;
    }
    frmMain &start() {
        frmMain &w = window();
        w.Form_Load();
        return w;
    }
    void expectOnlyMessage(const QString &text, const QString &title, MsgIcon icon) {
        QCOMPARE(shown_.size(), size_t(1));
        QCOMPARE(shown_[0].text, text);
        QCOMPARE(shown_[0].title, title);
        QCOMPARE(shown_[0].icon, icon);
    }
    void typeInto(DropDownList *list, const QString &text) const {
        list->lineEdit()->selectAll();
        QTest::keyClicks(list->lineEdit(), text);
    }

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        shown_.clear();
    }
    void cleanup() {
        w_.reset();
        ports_.clear();
        dir_.reset();
    }

    void windowElementsAndTexts_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const std::pair<const char *, const char *> rows[] = {
            {"Frame10", "MODBUS设置"},
            {"Frame2", "观察窗"},
            {"Frame5", "串口设置"},
            {"Frame6", "运行状态指示"},
            {"Frame7", "参数"},
            {"Frame12", "设备地址修改操作"},
            {"Frame11", "数据查询操作"},
            {"Frame1", "二次开发命令观察窗口"},
            {"Label8(0)", "设备地址"},
            {"Label8(3)", "功 能 码"},
            {"Label8(1)", "超始地址"},
            {"Label8(2)", "数据长度"},
            {"txtFunID", "3"},
            {"txtStartID", "0"},
            {"txtDataLength", "2"},
            {"lblDanWei(2)", "光 照 度"},
            {"txtValue(0)", "0"},
            {"lblDanWei(0)", "ppm"},
            {"lblDanWei(1)", "温     度"},
            {"lblDanWei(3)", "℃"},
            {"lblDanWei(5)", "湿     度"},
            {"lblDanWei(4)", ""},
            {"lblDanWei(7)", "气     压"},
            {"lblDanWei(10)", ""},
            {"Label8(4)", "定时时长(ms)"},
            {"txtTimerSet", "1000"},
            {"comDoOnce", "单次"},
            {"cmdOneM", "循环"},
            {"cmdStopOnce", "停止"},
            {"Label1", "发送命令:"},
            {"txtCommand", ""},
            {"Label7", "接收命令:"},
            {"Label3", "串口号"},
            {"Combo1", "COM4"},
            {"Label5(2)", "波特率"},
            {"Combo2", "19200"},
            {"cmdCom", "保存设置"},
            {"lblErrCounter", "0"},
            {"lblCounter", "0"},
            {"lblsetValue(0)", "量程缩放系数"},
            {"txtsetValue(0)", "1.0000"},
            {"cmdREAD(0)", "读出"},
            {"cmdSet(0)", "写入"},
            {"Label2(1)", "值范围为：0.2000-5.0000"},
            {"lblsetValue(1)", "偏移量"},
            {"txtsetValue(1)", "0.00"},
            {"cmdREAD(1)", "读出"},
            {"cmdSet(1)", "设置"},
            {"Label2(3)", "值范围为：0-5000，默认为0"},
            {"lblsetValue(2)", "前级放大倍数"},
            {"txtsetValue(2)", "1"},
            {"cmdREAD(2)", "读出"},
            {"cmdSet(2)", "设置"},
            {"Label2(6)", "值范围为：1,2,4,8,默认值为1，量程=20万/放大倍数"},
            {"Label2(7)", "将地址       改为"},
            {"txtSetID(0)", "1"},
            {"txtSetID(1)", "1"},
            {"Label2(13)", "地址值范围为：1-35"},
            {"cmdChangeID", "执行"},
            {"cmdReadAdd", "读地址"},
        };
        for (const auto &[name, text] : rows)
            QTest::newRow(name) << QString::fromUtf8(name) << QString::fromUtf8(text);
    }
    void windowElementsAndTexts() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        frmMain &w = start();
        const auto *element = w.findChild<QWidget *>(name);
        QVERIFY2(element, qPrintable(name));
        QCOMPARE(TextOf(element), text);
    }

    void windowAtStart() {
        frmMain &w = window();
        QCOMPARE(w.txtStationID->text(), QStringLiteral("2")); // design text until start-up
        w.Form_Load();
        QCOMPARE(w.txtStationID->text(), QStringLiteral("1"));
        // The client area keeps its size and its place under the menu bar; the window grows
        // by the menu bar alone.
        QCOMPARE(w.Client->size(), QSize(834, 653));
        QCOMPARE(w.Client->pos(), QPoint(0, w.MenuBar->height()));
        QCOMPARE(w.size(), QSize(834, 653 + w.MenuBar->height()));
        QVERIFY(w.MenuBar->height() > 0);
        QCOMPARE(w.windowTitle(), appinfo::Caption());
        QCOMPARE(w.palette().color(QPalette::Window), QColor(224, 224, 224));
        QCOMPARE(w.FrontLamp(), w.imgNotConnected);
        for (QLabel *lamp : {w.imgNotConnected, w.ImgYellow, w.imgConnected}) {
            QCOMPARE(lamp->size(), QSize(16, 16));
            QCOMPARE(lamp->geometry(), w.imgNotConnected->geometry());
            QCOMPARE(lamp->toolTip(), QStringLiteral("数据采集通讯状态指示"));
        }
        QCOMPARE(w.lblErrCounter->toolTip(), QStringLiteral("误码率"));
        QCOMPARE(w.lblCounter->toolTip(), QStringLiteral("测试统计"));
        QVERIFY(!w.Timer2->isActive());
        QVERIFY(!w.CommReady);
        QCOMPARE(w.CmdType, cmdtype::None);
        QCOMPARE(w.CommCount, 0);

        QCOMPARE(w.Combo1->count(), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(w.Combo1->itemText(i), QStringLiteral("COM%1").arg(i + 1));
        QCOMPARE(w.Combo2->count(), 4);
        QCOMPARE(w.Combo2->itemText(0), QStringLiteral("4800"));
        QCOMPARE(w.Combo2->itemText(3), QStringLiteral("19200"));

        for (const QWidget *input : w.findChildren<QWidget *>()) {
            if (qobject_cast<const QLineEdit *>(input) ||
                qobject_cast<const QPushButton *>(input) ||
                qobject_cast<const QComboBox *>(input)) {
                if (qobject_cast<const QComboBox *>(input->parentWidget()))
                    continue; // a list's own edit field
                QVERIFY2(!input->accessibleName().isEmpty(), qPrintable(input->objectName()));
            }
        }
    }

    void controlArraysKeepTheirIndexes() {
        frmMain &w = start();
        QCOMPARE(w.Label2.indexes(), (std::vector<int>{1, 3, 6, 7, 13}));
        QCOMPARE(w.lblDanWei.indexes(), (std::vector<int>{0, 1, 2, 3, 4, 5, 7, 10}));
        QCOMPARE(w.Label5.indexes(), (std::vector<int>{2}));
        QCOMPARE(w.txtValue.indexes(), (std::vector<int>{0, 1, 2, 3}));
        QVERIFY(w.Label2(2) == nullptr); // a missing element fails softly
        QVERIFY(w.txtValue(4) == nullptr);
        QVERIFY(w.txtValue(-1) == nullptr);
    }

    void onlyVisiblePartsAreSeen() {
        frmMain &w = start();
        for (int i : {0, 1}) {
            QVERIFY(w.txtsetValue(i)->isVisibleTo(&w));
            QVERIFY(w.cmdREAD(i)->isVisibleTo(&w));
        }
        for (QWidget *hidden : std::initializer_list<QWidget *>{
                 w.lblsetValue(2), w.txtsetValue(2), w.cmdREAD(2), w.cmdSet(2), w.Label2(6)})
            QVERIFY2(!hidden->isVisibleTo(&w), qPrintable(hidden->objectName()));

        const QRect visible = w.PictureShow->rect();
        QVERIFY(visible.contains(w.txtValue(0)->geometry()));
        QVERIFY(visible.contains(w.lblDanWei(2)->geometry()));
        QVERIFY(visible.contains(w.lblDanWei(0)->geometry()));
        for (int i : {1, 2, 3}) {
            QVERIFY(!visible.intersects(w.txtValue(i)->geometry()));
            QCOMPARE(w.txtValue(i)->focusPolicy(), Qt::NoFocus);
        }
        for (int i : {1, 3, 4, 5, 7, 10})
            QVERIFY(!visible.intersects(w.lblDanWei(i)->geometry()));

        // The current-address box sits inside the blanks of its sentence.
        const QRect sentence = w.Label2(7)->geometry();
        const QRect box = w.txtSetID(0)->geometry();
        QVERIFY(box.left() > sentence.left() && box.right() < sentence.right());
        QVERIFY(w.txtSetID(1)->geometry().left() > sentence.right());
    }

    void savedSettingsOpenThePort_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("rateEntry");
        QTest::addColumn<QString>("rateText");
        QTest::newRow("4,9600") << QByteArray("4,9600\r\n") << 4 << "9600,N,8,1" << 1 << "9600";
        QTest::newRow("2,0 means 9600")
            << QByteArray("2,0\r\n") << 2 << "9600,N,8,1" << 1 << "9600";
        QTest::newRow("3,2400 not in the list")
            << QByteArray("3,2400\r\n") << 3 << "2400,N,8,1" << -1 << "19200";
        QTest::newRow("blanks, no line end")
            << QByteArray(" 16 , 19200 ") << 16 << "19200,N,8,1" << 3 << "19200";
    }
    void savedSettingsOpenThePort() {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QFETCH(QString, settings);
        QFETCH(int, rateEntry);
        QFETCH(QString, rateText);
        writeCommSet(content);
        plug(port);
        frmMain &w = start();
        QVERIFY(shown_.empty());
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->commPort(), port);
        QCOMPARE(w.MSComm1->settings(), settings);
        QCOMPARE(w.MSComm1->rThreshold(), 1);
        QCOMPARE(w.CommNum, port);
        QVERIFY(w.CommReady);
        QCOMPARE(w.Combo1->ListIndex(), port - 1);
        QCOMPARE(w.Combo1->currentText(), QStringLiteral("COM%1").arg(port));
        QCOMPARE(w.Combo2->ListIndex(), rateEntry);
        QCOMPARE(w.Combo2->currentText(), rateText);
        QCOMPARE(commSet(), content); // reading never rewrites it
    }

    void firstRunOpensNothing() {
        plug(7);
        frmMain &w = start();
        QVERIFY(shown_.empty());
        QVERIFY(!w.MSComm1->portOpen());
        QVERIFY(!w.CommReady);
        QCOMPARE(w.Combo1->currentText(), QStringLiteral("COM4"));
        QCOMPARE(w.Combo1->ListIndex(), -1);
        QCOMPARE(w.Combo2->currentText(), QStringLiteral("19200"));
        QCOMPARE(w.Combo2->ListIndex(), -1);

        w.Combo1->SelectEntry(6); // the user picks COM7
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(w.CommReady);
        QCOMPARE(commSet(), QByteArray("<missing>"));
    }

    void badFileLeavesAUsableWindow_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("named"); // the port number the message names
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("binary") << QByteArray("\x00\xff\x13,\x01\x02", 6) << 0;
        QTest::newRow("words") << QByteArray("port,rate\r\n") << 0;
        QTest::newRow("one number") << QByteArray("4\r\n") << 0;
        QTest::newRow("port 17") << QByteArray("17,9600\r\n") << 17;
        QTest::newRow("port 0") << QByteArray("0,9600\r\n") << 0;
        QTest::newRow("negative port") << QByteArray("-3,9600\r\n") << -3;
        QTest::newRow("negative rate") << QByteArray("4,-9600\r\n") << 4;
        QTest::newRow("rate beyond 16 bits") << QByteArray("4,40000\r\n") << 4;
        QTest::newRow("port beyond 16 bits") << QByteArray("99999,9600\r\n") << 0;
        QTest::newRow("10 MB") << QByteArray(10 * 1024 * 1024, '7') << 0;
    }
    void badFileLeavesAUsableWindow() {
        QFETCH(QByteArray, content);
        QFETCH(int, named);
        writeCommSet(content);
        plug(4);
        plug(7);
        frmMain &w = start();
        expectOnlyMessage(StartupFailure(named), QStringLiteral("VORT系统出错提示"), MsgIcon::None);
        QVERIFY(!w.CommReady);
        QVERIFY(!w.MSComm1->portOpen());
        QCOMPARE(w.Combo1->currentText(), QStringLiteral("COM4"));
        QCOMPARE(w.Combo1->ListIndex(), -1);
        QCOMPARE(w.Combo2->currentText(), QStringLiteral("19200"));
        QCOMPARE(w.Combo2->ListIndex(), -1);

        w.Combo1->SelectEntry(6);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->settings(), QStringLiteral("19200,N,8,1"));
        QVERIFY(w.CommReady);
    }

    void savedPortThatCannotOpen() {
        writeCommSet("5,9600\r\n");
        deadPort(5);
        frmMain &w = start();
        expectOnlyMessage(StartupFailure(5), QStringLiteral("VORT系统出错提示"), MsgIcon::None);
        QVERIFY(!w.CommReady);
        QVERIFY(!w.MSComm1->portOpen());
    }

    void choosingAPortUsesTheLoadedRate() {
        writeCommSet("4,9600\r\n");
        plug(4);
        plug(7);
        frmMain &w = start();
        w.Combo2->SelectEntry(3); // 19200 shown, but not saved
        w.Combo1->SelectEntry(6);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->commPort(), 7);
        QCOMPARE(w.CommNum, 7);
        QCOMPARE(w.MSComm1->settings(), QStringLiteral("9600,N,8,1"));
        QCOMPARE(commSet(), QByteArray("4,9600\r\n"));
        QVERIFY(shown_.empty());
    }

    void typedPortTextIsNoSelection() {
        writeCommSet("4,9600\r\n");
        plug(4);
        frmMain &w = start();
        typeInto(w.Combo1, QStringLiteral("COM5"));
        QCOMPARE(w.Combo1->ListIndex(), -1);
        QVERIFY(w.MSComm1->portOpen()); // typing runs no handler

        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        expectOnlyMessage(QStringLiteral("请选择端口"), appinfo::Title(), MsgIcon::None);
        QVERIFY(!w.MSComm1->portOpen());
        QCOMPARE(commSet(), QByteArray("4,9600\r\n"));
    }

    void saveWritesTheFileExactly() {
        plug(1);
        frmMain &w = start();
        w.Combo1->SelectEntry(0);
        w.Combo2->SelectEntry(3);
        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        expectOnlyMessage(QStringLiteral("串口设置保存成功"), QStringLiteral("系统提示"),
                          MsgIcon::None);
        QCOMPARE(commSet(), QByteArray("1,19200\r\n"));
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->settings(), QStringLiteral("19200,N,8,1"));
        QCOMPARE(w.MSComm1->rThreshold(), 1);
        QVERIFY(w.CommReady);
        QCOMPARE(QDir(dir_->path()).entryList({QStringLiteral("comm.set*")}, QDir::Files),
                 QStringList{QStringLiteral("comm.set")});
    }

    // With no rate entry chosen the saved rate is the one the list shows.
    void saveWithoutRateEntry_data() {
        QTest::addColumn<QString>("typed"); // empty: the list's own text is left alone
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("list text untouched") << QString() << QByteArray("3,19200\r\n");
        QTest::newRow("typed 9600") << QStringLiteral("9600") << QByteArray("3,9600\r\n");
        QTest::newRow("typed 1200") << QStringLiteral("1200") << QByteArray("3,1200\r\n");
    }
    void saveWithoutRateEntry() {
        QFETCH(QString, typed);
        QFETCH(QByteArray, saved);
        writeCommSet("3,2400\r\n");
        plug(3);
        frmMain &w = start();
        if (!typed.isEmpty())
            typeInto(w.Combo2, typed);
        QCOMPARE(w.Combo2->ListIndex(), -1);
        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        QCOMPARE(commSet(), saved);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->settings(),
                 QString::fromLatin1(saved.mid(2, saved.size() - 4)) + QStringLiteral(",N,8,1"));
    }

    void saveRefusesARateThatIsNoNumber_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("letters") << QStringLiteral("fast");
        QTest::newRow("beyond 16 bits") << QStringLiteral("38400");
        QTest::newRow("zero") << QStringLiteral("0");
        QTest::newRow("negative") << QStringLiteral("-9600");
    }
    void saveRefusesARateThatIsNoNumber() {
        QFETCH(QString, typed);
        writeCommSet("4,9600\r\n");
        plug(4);
        frmMain &w = start();
        typeInto(w.Combo2, typed);
        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        expectOnlyMessage(QStringLiteral("请选择波特率"), appinfo::Title(), MsgIcon::None);
        QCOMPARE(commSet(), QByteArray("4,9600\r\n"));
        QVERIFY(!w.MSComm1->portOpen());
        QCOMPARE(w.CommRate, 9600);
    }

    void saveOfAPortThatDoesNotExist() {
        deadPort(2);
        frmMain &w = start();
        w.Combo1->SelectEntry(1);
        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        QCOMPARE(shown_.back().text, QStringLiteral("串口设置保存成功"));
        QCOMPARE(commSet(), QByteArray("2,19200\r\n"));
        QVERIFY(!w.MSComm1->portOpen());
        QVERIFY(w.CommReady);
    }

    void aFailedSaveIsReported() {
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("comm.set"))); // cannot be replaced
        plug(1);
        frmMain &w = start();
        shown_.clear(); // the start-up message about the unreadable file
        w.Combo1->SelectEntry(0);
        QTest::mouseClick(w.cmdCom, Qt::LeftButton);
        QCOMPARE(shown_.size(), size_t(1));
        QVERIFY(shown_[0].text != QStringLiteral("串口设置保存成功"));
        QCOMPARE(shown_[0].icon, MsgIcon::Warning);
        QVERIFY(QFileInfo(path("comm.set")).isDir());
        QVERIFY(w.MSComm1->portOpen()); // the port is opened all the same
    }

    void enterAfterTypedTextSelectsNothing() {
        writeCommSet("4,9600\r\n");
        plug(4);
        plug(1);
        frmMain &w = start();
        int clicks = 0;
        connect(w.Combo1, &DropDownList::Click, &w, [&] { ++clicks; });
        for (const QString &typed :
             {QStringLiteral("C"), QStringLiteral("com1"), QStringLiteral("COM1")}) {
            typeInto(w.Combo1, typed);
            QTest::keyClick(w.Combo1, Qt::Key_Return);
            emit w.Combo1->lineEdit()->editingFinished(); // what leaving the field does
            QCOMPARE(w.Combo1->ListIndex(), -1);
            QCOMPARE(w.Combo1->currentText(), typed); // nothing completed it either
        }
        QCOMPARE(clicks, 0);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->commPort(), 4);
    }

    void arrowKeysChooseAPort() {
        plug(1);
        plug(2);
        frmMain &w = start();
        QTest::keyClick(w.Combo1, Qt::Key_Down); // from no selection to the first entry
        QCOMPARE(w.Combo1->ListIndex(), 0);
        QVERIFY(w.MSComm1->portOpen());
        QCOMPARE(w.MSComm1->commPort(), 1);
        QTest::keyClick(w.Combo1, Qt::Key_Down);
        QCOMPARE(w.Combo1->ListIndex(), 1);
        QCOMPARE(w.MSComm1->commPort(), 2);
        QVERIFY(w.MSComm1->portOpen());
    }

    void wheelOverTheListChangesNothing() {
        writeCommSet("4,9600\r\n");
        plug(4);
        frmMain &w = start();
        const QPoint centre = w.Combo1->rect().center();
        QWheelEvent wheel(centre, w.Combo1->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.Combo1, &wheel);
        QCOMPARE(w.Combo1->ListIndex(), 3);
        QCOMPARE(w.MSComm1->commPort(), 4);
    }

    void aPipeInPlaceOfCommSetDoesNotBlock() {
        QCOMPARE(::mkfifo(QFile::encodeName(path("comm.set")).constData(), 0600), 0);
        frmMain &w = start();
        expectOnlyMessage(StartupFailure(0), QStringLiteral("VORT系统出错提示"), MsgIcon::None);
        QVERIFY(!w.MSComm1->portOpen());
    }

    void windowLooksAsDrawn() {
        frmMain &w = start();
        QVERIFY(!w.windowIcon().isNull());
        // The picture boxes share the window's grey.
        for (QWidget *box :
             {static_cast<QWidget *>(w.PictureShow), static_cast<QWidget *>(w.Picture2)}) {
            const QImage image = box->grab().toImage();
            QCOMPARE(image.pixelColor(image.width() - 6, 6), QColor(224, 224, 224));
        }
        const QImage lamp = w.imgNotConnected->grab().toImage();
        const QColor centre = lamp.pixelColor(9, 10);
        QVERIFY(centre.red() > 150 && centre.green() < 100 && centre.blue() < 100);
    }

    void serialEventsWaitForTheMessageBox() {
        writeCommSet("4,9600\r\n");
        plug(4);
        frmMain &w = start();
        int events = 0;
        int eventsWhileShown = -1;
        connect(w.MSComm1, &MSComm::OnComm, &w, [&] { ++events; });
        w.messages().setPresenter([&](const Message &) {
            QEventLoop modal; // what a real box does
            QTimer poll;
            connect(&poll, &QTimer::timeout, &modal, [&] {
                if (w.MSComm1->inBufferCount() < 2)
                    return;
                QCoreApplication::processEvents(); // anything posted would run now
                eventsWhileShown = events;
                modal.quit();
            });
            ports_[4]->send(QByteArray::fromHex("0103"));
            poll.start(5);
            modal.exec();
        });
        w.MsgBox(QStringLiteral("…"));
        QCOMPARE(eventsWhileShown, 0);
        QCOMPARE(w.MSComm1->inBufferCount(), 2);
        QTRY_COMPARE(events, 1);
    }

    void realMessageBoxHasOkOnly() {
        MessageBoxService service(appinfo::Title(), nullptr);
        BoxSeen seen;
        CloseNextBox(seen);
        service.show(QStringLiteral("所选的串行端口已被其他设备所使用!"), MsgIcon::Warning,
                     QStringLiteral("系统信息"));
        QCOMPARE(seen.title, QStringLiteral("系统信息"));
        QCOMPARE(seen.text, QStringLiteral("所选的串行端口已被其他设备所使用!"));
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        CloseNextBox(seen);
        service.show(QStringLiteral("请选择端口"));
        QCOMPARE(seen.title, appinfo::Title());
        QCOMPARE(seen.icon, QMessageBox::NoIcon);
    }

    // Tab and Shift+Tab go round the whole window and come back where they began; no
    // element keeps the focus, the multi-line reply box included.
    void keyboardGoesRoundTheWindow() {
        frmMain &w = start();
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const auto modifier : {Qt::NoModifier, Qt::ShiftModifier}) {
            w.txtStationID->setFocus();
            QStringList visited;
            do {
                QWidget *before = QApplication::focusWidget();
                QTest::keyClick(before, Qt::Key_Tab, modifier);
                QVERIFY2(QApplication::focusWidget() != before,
                         qPrintable(before->objectName() + QStringLiteral(" keeps the focus")));
                visited << QApplication::focusWidget()->objectName();
            } while (QApplication::focusWidget() != w.txtStationID && visited.size() < 50);
            QCOMPARE(QApplication::focusWidget(), w.txtStationID);
            QVERIFY2(visited.contains(QStringLiteral("txtState")), qPrintable(visited.join(u' ')));
        }
    }

    // Enter and Escape close a message box, and the focus is back on the button pressed.
    void messageBoxClosesFromTheKeyboard() {
        frmMain &w = start(); // no port: "单次" has a message to show
        w.messages().setPresenter({});
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
            w.comDoOnce->setFocus();
            bool closed = false;
            QTimer press;
            connect(&press, &QTimer::timeout, [&] {
                if (QWidget *box = QApplication::activeModalWidget()) {
                    QTest::keyClick(box, key);
                    closed = !box->isVisible();
                    press.stop();
                }
            });
            press.start(5);
            QTest::keyClick(w.comDoOnce, Qt::Key_Space);
            QVERIFY(closed);
            QTRY_COMPARE(QApplication::focusWidget(), w.comDoOnce);
        }
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
