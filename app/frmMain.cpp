#include "frmMain.h"

#include "appinfo.h"
#include "linelease.h"
#include "programicon.h"
#include "runtime.h"
#include "serial/mscomm.h"
#include "serial/portsettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace {
constexpr QSize kClientSize(834, 653); // 12510 x 9795 twips
} // namespace

frmMain::frmMain(SettingsPlace place, QWidget *parent)
    : QWidget(parent), place_(std::move(place)), messages_(appinfo::Title(), this) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(appinfo::Caption());
    setWindowIcon(ProgramIcon());
    // The menu bar sits above the elements, which keep their places in the client area; the
    // layout never adapts, so the window does not resize.
    MenuBar = new QMenuBar(this);
    MenuBar->setObjectName(QStringLiteral("MenuBar"));
    ToolsMenu = MenuBar->addMenu(QStringLiteral("工具(&T)"));
    ToolsMenu->setObjectName(QStringLiteral("ToolsMenu"));
    HelpMenu = MenuBar->addMenu(QStringLiteral("帮助(&H)"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    const int menuHeight = MenuBar->sizeHint().height();
    MenuBar->setGeometry(0, 0, kClientSize.width(), menuHeight);
    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    Client->setGeometry(QRect(QPoint(0, menuHeight), kClientSize));
    setFixedSize(kClientSize.width(), kClientSize.height() + menuHeight);
    // The tools offer their menu where the right-click lands; text boxes keep their own.
    setContextMenuPolicy(Qt::CustomContextMenu);
    QPalette background = palette();
    background.setColor(QPalette::Window, kWindowGrey);
    setPalette(background);
    setAutoFillBackground(true);
    // Frame captions sit in the frame's top line, as technicians know them from the
    // module's other tools.
    setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #a8a8a8; border-radius: 2px; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; }"));

    buildLayout();
    connectHandlers();
    Lease = new LineLease(*this);
}

// A tool holding the line at the end gives it back while the elements still exist.
frmMain::~frmMain() {
    delete Lease;
}

void frmMain::connectHandlers() {
    connect(Combo1, &DropDownList::Click, this, &frmMain::Combo1_Click);
    Combo1->SetEntryToolTips([this](int index) { return PortToolTip(index + 1, place_, MSComm1); });
    Combo2->SetEntryToolTips([this](int) { return RateToolTip(Combo1->ListIndex() + 1, place_); });
    // A network port's connect ends later, by itself; a failure is told once, with why.
    connect(MSComm1, &MSComm::ConnectFailed, this, [this] {
        ShowLamp(imgNotConnected);
        CommReady = false;
        MsgBox(ConnectFailureText(MSComm1->commPort(), *MSComm1));
    });
    connect(cmdCom, &QPushButton::clicked, this, &frmMain::cmdCom_Click);
    connect(MSComm1, &MSComm::OnComm, this, &frmMain::MSComm1_OnComm);
    // A reply is not decoded into a window the user is being asked about.
    messages_.setShowingChanged([this](bool showing) { MSComm1->setEventsHeld(showing); });

    connect(comDoOnce, &QPushButton::clicked, this, &frmMain::comDoOnce_Click);
    connect(cmdOneM, &QPushButton::clicked, this, &frmMain::cmdOneM_Click);
    connect(cmdStopOnce, &QPushButton::clicked, this, &frmMain::cmdStopOnce_Click);
    connect(Timer2, &QTimer::timeout, this, &frmMain::Timer2_Timer);

    // The button arrays' handler is told which element was clicked.
    for (const int i : cmdREAD.indexes()) {
        const auto index = static_cast<std::int16_t>(i);
        connect(cmdREAD(i), &QPushButton::clicked, this, [this, index] { cmdREAD_Click(index); });
    }
    for (const int i : cmdSet.indexes()) {
        const auto index = static_cast<std::int16_t>(i);
        connect(cmdSet(i), &QPushButton::clicked, this, [this, index] { cmdSet_Click(index); });
    }
    connect(cmdReadAdd, &QPushButton::clicked, this, &frmMain::cmdReadAdd_Click);
    connect(cmdChangeID, &QPushButton::clicked, this, &frmMain::cmdChangeID_Click);
}

void frmMain::Form_Load() {
    PictureShow->setVisible(true);
    const CommSetContent saved = ReadCommSet(place_, rt::RoundedTo<std::int16_t>);
    txtStationID->setText(QStringLiteral("1"));
    PortStartup(saved);
}

void frmMain::ShowLamp(QLabel *lamp) {
    lamp->raise();
}

QLabel *frmMain::FrontLamp() const {
    const QObjectList &stack = Picture2->children(); // raise() moves a child to the end
    for (auto it = stack.crbegin(); it != stack.crend(); ++it) {
        auto *image = qobject_cast<QLabel *>(*it);
        if (image == imgNotConnected || image == ImgYellow || image == imgConnected)
            return image;
    }
    return nullptr;
}

void frmMain::MsgBox(const QString &text, MsgIcon icon, const QString &title) {
    messages_.show(text, icon, title);
}
