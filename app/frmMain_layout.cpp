// The window's elements: kinds, texts, initial states and fixed positions. Positions are
// in twips relative to the container, 15 twips to the pixel.

#include "appinfo.h"
#include "drawnline.h"
#include "elementtext.h"
#include "fonts.h"
#include "frmMain.h"
#include "lamps.h"
#include "serial/mscomm.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int kTwipsPerPixel = 15;

int Px(int twips) {
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}
QRect Tw(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

QString Indexed(const char *name, int index) {
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}

template <typename W> W *Placed(W *widget, const QString &name, const QRect &rect) {
    widget->setObjectName(name);
    widget->setGeometry(rect);
    return widget;
}

QGroupBox *Frame(QWidget *parent, const char *name, const QString &caption, QRect rect) {
    return Placed(new QGroupBox(caption, parent), QLatin1String(name), rect);
}

QLabel *Label(QWidget *parent, const QString &name, const QString &text, QRect rect,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto *label = Placed(new QLabel(text, parent), name, rect);
    label->setAlignment(align);
    return label;
}

QLineEdit *TextBox(QWidget *parent, const QString &name, const QString &text, QRect rect,
                   const QString &accessibleName, bool centred = true) {
    auto *box = Placed(new QLineEdit(text, parent), name, rect);
    if (centred)
        box->setAlignment(Qt::AlignCenter);
    box->setAccessibleName(accessibleName);
    return box;
}

QPushButton *Button(QWidget *parent, const QString &name, const QString &caption, QRect rect,
                    const QString &accessibleName = {}) {
    auto *button = Placed(new QPushButton(caption, parent), name, rect);
    button->setAccessibleName(accessibleName.isEmpty() ? caption : accessibleName);
    return button;
}

// Fills its rectangle with the window's grey before it paints, the same colour as what lies
// beneath it. Besides giving the picture boxes their grey (the frames' style sheet does not
// pass it on), this spares what lies beneath a repaint whenever the element changes: the
// counters and the lamps change on every poll, and repainting the frames behind them was
// most of what a poll cost.
template <typename W> W *Opaque(W *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, kWindowGrey);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    return widget;
}

QFrame *PictureBox(QWidget *parent, const char *name, QRect rect, bool bordered) {
    auto *box = Opaque(Placed(new QFrame(parent), QLatin1String(name), rect));
    if (bordered)
        box->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    return box;
}

const QColor kRed(255, 0, 0);

} // namespace

void frmMain::buildLayout() {
    buildModbusFields();
    buildObservation();
    buildPortSettings();
    buildStatus();
    buildParameters();
    buildAddressChange();
    buildQueryControls();
    buildCommandWatch();
    Label4 = Label(Client, QStringLiteral("Label4"), appinfo::Footer(), Tw(120, 9480, 12375, 255));
}

// "MODBUS设置": the four fields of every request, each after its caption.
void frmMain::buildModbusFields() {
    Frame10 = Frame(Client, "Frame10", QStringLiteral("MODBUS设置"), Tw(120, 120, 6015, 735));
    struct Field {
        int caption;
        const char *captionText, *name, *text, *accessibleName;
        QLineEdit *frmMain::*box;
    };
    const Field fields[] = {
        {0, "设备地址", "txtStationID", "2", "设备地址", &frmMain::txtStationID},
        {3, "功 能 码", "txtFunID", "3", "功能码", &frmMain::txtFunID},
        {1, "超始地址", "txtStartID", "0", "超始地址", &frmMain::txtStartID},
        {2, "数据长度", "txtDataLength", "2", "数据长度", &frmMain::txtDataLength},
    };
    int left = 120;
    for (const Field &f : fields) {
        Label8.add(f.caption,
                   Label(Frame10, Indexed("Label8", f.caption), QString::fromUtf8(f.captionText),
                         Tw(left, 330, 840, 255), Qt::AlignCenter));
        this->*f.box = TextBox(Frame10, QLatin1String(f.name), QLatin1String(f.text),
                               Tw(left + 840, 285, 495, 330), QString::fromUtf8(f.accessibleName));
        left += 1455;
    }
}

// "观察窗": only channel 0 lies in the visible part of the picture box; channels 1 to 3 sit
// below it and are never seen.
void frmMain::buildObservation() {
    Frame2 = Frame(Client, "Frame2", QStringLiteral("观察窗"), Tw(120, 1080, 6135, 4935));
    PictureShow = PictureBox(Frame2, "PictureShow", Tw(120, 240, 5895, 4575), true);
    struct Channel {
        int box, caption, unit;
        const char *captionText, *unitText;
        int top;
    };
    const Channel channels[] = {
        {0, 2, 0, "光 照 度", "ppm", 840},
        {1, 1, 3, "温     度", "℃", 4800},
        {2, 5, 4, "湿     度", "", 5760},
        {3, 7, 10, "气     压", "", 6720},
    };
    for (const Channel &c : channels) {
        const bool visible = c.box == 0;
        const int boxTop = visible ? 1680 : c.top;
        auto *caption = Label(
            PictureShow, Indexed("lblDanWei", c.caption), QString::fromUtf8(c.captionText),
            visible ? Tw(1560, c.top, 2895, 600) : Tw(120, c.top, 1335, 600), Qt::AlignCenter);
        caption->setFont(fonts::Titling(18));
        SetTextColor(caption, Qt::black);
        lblDanWei.add(c.caption, caption);

        auto *value = TextBox(PictureShow, Indexed("txtValue", c.box), QStringLiteral("0"),
                              Tw(1560, boxTop, 2895, 780), QString::fromUtf8(c.captionText));
        value->setFont(fonts::Song(36));
        if (!visible)
            value->setFocusPolicy(Qt::NoFocus); // Tab must not wander out of sight
        txtValue.add(c.box, value);

        auto *unit = Label(PictureShow, Indexed("lblDanWei", c.unit), QString::fromUtf8(c.unitText),
                           Tw(4560, boxTop + 180, 1095, 420));
        unit->setFont(fonts::Unit(18));
        SetTextColor(unit, kRed);
        lblDanWei.add(c.unit, unit);
    }
}

// "串口设置"
void frmMain::buildPortSettings() {
    Frame5 = Frame(Client, "Frame5", QStringLiteral("串口设置"), Tw(6360, 120, 5835, 900));
    Label3 =
        Label(Frame5, QStringLiteral("Label3"), QStringLiteral("串口号"), Tw(240, 420, 615, 255));
    QStringList ports;
    for (int n = kFirstPort; n <= kLastPort; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    Combo1 = Placed(new DropDownList(ports, QStringLiteral("COM4"), Frame5),
                    QStringLiteral("Combo1"), Tw(900, 360, 1455, 330));
    Combo1->setAccessibleName(QStringLiteral("串口号"));
    Label5.add(
        2, Label(Frame5, Indexed("Label5", 2), QStringLiteral("波特率"), Tw(2580, 420, 615, 255)));
    Combo2 = Placed(new DropDownList({QStringLiteral("4800"), QStringLiteral("9600"),
                                      QStringLiteral("14400"), QStringLiteral("19200")},
                                     QStringLiteral("19200"), Frame5),
                    QStringLiteral("Combo2"), Tw(3240, 360, 1215, 330));
    Combo2->setAccessibleName(QStringLiteral("波特率"));
    cmdCom = Button(Frame5, QStringLiteral("cmdCom"), QStringLiteral("保存设置"),
                    Tw(4620, 300, 1035, 435));
    MSComm1 = new MSComm(place_, this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
}

// "运行状态指示": three lamps stacked in one place, the red one in front.
void frmMain::buildStatus() {
    Frame6 = Frame(Client, "Frame6", QStringLiteral("运行状态指示"), Tw(6360, 1080, 5895, 615));
    Picture2 = PictureBox(Frame6, "Picture2", Tw(240, 255, 900, 255), false);
    const QRect lampRect((Picture2->width() - 16) / 2, (Picture2->height() - 16) / 2, 16, 16);
    auto lamp = [&](const char *name, LampColor color) {
        auto *image = Opaque(Placed(new QLabel(Picture2), QLatin1String(name), lampRect));
        image->setPixmap(LampPixmap(color));
        image->setToolTip(QStringLiteral("数据采集通讯状态指示"));
        return image;
    };
    imgConnected = lamp("imgConnected", LampColor::Green);
    ImgYellow = lamp("ImgYellow", LampColor::Yellow);
    imgNotConnected = lamp("imgNotConnected", LampColor::Red);
    imgNotConnected->raise();
    lblErrCounter = Opaque(Label(Frame6, QStringLiteral("lblErrCounter"), QStringLiteral("0"),
                                 Tw(1200, 285, 840, 255), Qt::AlignCenter));
    lblErrCounter->setToolTip(QStringLiteral("误码率"));
    Line1 = new DrawnLine(QPoint(Px(2160), Px(240)), QPoint(Px(2040), Px(480)), Frame6);
    Line1->setObjectName(QStringLiteral("Line1"));
    lblCounter = Opaque(Label(Frame6, QStringLiteral("lblCounter"), QStringLiteral("0"),
                              Tw(2280, 285, 840, 255), Qt::AlignCenter));
    lblCounter->setToolTip(QStringLiteral("测试统计"));
}

// "参数": one row per calibration parameter; the row of index 2 stays hidden.
void frmMain::buildParameters() {
    Frame7 = Frame(Client, "Frame7", QStringLiteral("参数"), Tw(6360, 1800, 5895, 2775));
    struct Row {
        int index, hint;
        const char *name, *entry, *write, *hintText;
    };
    const Row rows[] = {
        {0, 1, "量程缩放系数", "1.0000", "写入", "值范围为：0.2000-5.0000"},
        {1, 3, "偏移量", "0.00", "设置", "值范围为：0-5000，默认为0"},
        {2, 6, "前级放大倍数", "1", "设置", "值范围为：1,2,4,8,默认值为1，量程=20万/放大倍数"},
    };
    for (const Row &r : rows) {
        const int y = 360 + r.index * 810;
        const QString name = QString::fromUtf8(r.name);
        QWidget *row[] = {
            Label(Frame7, Indexed("lblsetValue", r.index), name, Tw(120, y + 45, 1335, 255)),
            TextBox(Frame7, Indexed("txtsetValue", r.index), QString::fromUtf8(r.entry),
                    Tw(1500, y, 1455, 330), name),
            Button(Frame7, Indexed("cmdREAD", r.index), QStringLiteral("读出"),
                   Tw(3120, y - 30, 1095, 390), name + QStringLiteral(" 读出")),
            Button(Frame7, Indexed("cmdSet", r.index), QString::fromUtf8(r.write),
                   Tw(4335, y - 30, 1095, 390), name + u' ' + QString::fromUtf8(r.write)),
            Label(Frame7, Indexed("Label2", r.hint), QString::fromUtf8(r.hintText),
                  Tw(1500, y + 390, 4275, 255)),
        };
        lblsetValue.add(r.index, static_cast<QLabel *>(row[0]));
        txtsetValue.add(r.index, static_cast<QLineEdit *>(row[1]));
        cmdREAD.add(r.index, static_cast<QPushButton *>(row[2]));
        cmdSet.add(r.index, static_cast<QPushButton *>(row[3]));
        Label2.add(r.hint, static_cast<QLabel *>(row[4]));
        SetTextColor(row[4], kRed);
        if (r.index == 2)
            for (QWidget *element : row)
                element->setVisible(false);
    }
}

// "设备地址修改操作": the current-address box sits in the blanks of the sentence.
void frmMain::buildAddressChange() {
    Frame12 =
        Frame(Client, "Frame12", QStringLiteral("设备地址修改操作"), Tw(6360, 4680, 5895, 1455));
    const QString sentence = QStringLiteral("将地址       改为");
    auto *changeLabel = Label(Frame12, Indexed("Label2", 7), sentence, Tw(240, 420, 3000, 255));
    changeLabel->setFont(fonts::HalfWidthBlanks());
    const QFontMetrics metrics(changeLabel->font());
    changeLabel->resize(metrics.horizontalAdvance(sentence) + 2, changeLabel->height());
    Label2.add(7, changeLabel);
    const int gapLeft = changeLabel->x() + metrics.horizontalAdvance(QStringLiteral("将地址"));
    const int gapWidth = metrics.horizontalAdvance(QStringLiteral("       "));
    txtSetID.add(0,
                 TextBox(Frame12, Indexed("txtSetID", 0), QStringLiteral("1"),
                         QRect(gapLeft, Px(375), gapWidth, Px(330)), QStringLiteral("当前地址")));
    txtSetID.add(1, TextBox(Frame12, Indexed("txtSetID", 1), QStringLiteral("1"),
                            QRect(changeLabel->geometry().right() + 4, Px(375), gapWidth, Px(330)),
                            QStringLiteral("新地址")));
    auto *addressHint = Label(Frame12, Indexed("Label2", 13), QStringLiteral("地址值范围为：1-35"),
                              Tw(240, 960, 3000, 255));
    SetTextColor(addressHint, kRed);
    Label2.add(13, addressHint);
    cmdChangeID = Button(Frame12, QStringLiteral("cmdChangeID"), QStringLiteral("执行"),
                         Tw(4620, 240, 1035, 435), QStringLiteral("执行地址修改"));
    cmdReadAdd = Button(Frame12, QStringLiteral("cmdReadAdd"), QStringLiteral("读地址"),
                        Tw(4620, 780, 1035, 435));
    cmdReadAdd->setToolTip(
        QStringLiteral("读出总线上模块的地址。不知道串口和波特率时，"
                       "在窗口上右击选“查找模块…”(Ctrl+F)，逐个串口和波特率查找。"));
}

// "数据查询操作"
void frmMain::buildQueryControls() {
    Frame11 = Frame(Client, "Frame11", QStringLiteral("数据查询操作"), Tw(120, 6360, 12135, 1215));
    Label8.add(4, Label(Frame11, Indexed("Label8", 4), QStringLiteral("定时时长(ms)"),
                        Tw(360, 540, 1335, 255)));
    txtTimerSet = TextBox(Frame11, QStringLiteral("txtTimerSet"), QStringLiteral("1000"),
                          Tw(1740, 480, 1335, 375), QStringLiteral("定时时长(ms)"), false);
    comDoOnce = Button(Frame11, QStringLiteral("comDoOnce"), QStringLiteral("单次"),
                       Tw(3600, 360, 1815, 615));
    cmdOneM = Button(Frame11, QStringLiteral("cmdOneM"), QStringLiteral("循环"),
                     Tw(5760, 360, 1815, 615));
    cmdStopOnce = Button(Frame11, QStringLiteral("cmdStopOnce"), QStringLiteral("停止"),
                         Tw(7920, 360, 1815, 615));
    for (QPushButton *button : {comDoOnce, cmdOneM, cmdStopOnce})
        button->setFont(fonts::Song(14.25, true));
    Timer2 = new QTimer(this); // idle: no interval until polling starts
    Timer2->setObjectName(QStringLiteral("Timer2"));
    // Ticks keep to the grid the start laid down (no drift); a late tick moves the next one
    // instead of releasing a burst of missed ones.
    Timer2->setTimerType(Qt::PreciseTimer);
}

// "二次开发命令观察窗口"
void frmMain::buildCommandWatch() {
    Frame1 =
        Frame(Client, "Frame1", QStringLiteral("二次开发命令观察窗口"), Tw(120, 7680, 12135, 1695));
    Label1 = Label(Frame1, QStringLiteral("Label1"), QStringLiteral("发送命令:"),
                   Tw(120, 315, 960, 255));
    txtCommand = TextBox(Frame1, QStringLiteral("txtCommand"), QString(), Tw(1080, 270, 4575, 330),
                         QStringLiteral("发送命令"), false);
    Label7 = Label(Frame1, QStringLiteral("Label7"), QStringLiteral("接收命令:"),
                   Tw(120, 735, 960, 255));
    txtState =
        Placed(new QPlainTextEdit(Frame1), QStringLiteral("txtState"), Tw(1080, 720, 10935, 855));
    txtState->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the box instead of being typed into it, so the keyboard is never trapped;
    // the text can still be selected and copied (Ctrl+A, Ctrl+C).
    txtState->setTabChangesFocus(true);
    txtState->setAccessibleName(QStringLiteral("接收命令"));
}
