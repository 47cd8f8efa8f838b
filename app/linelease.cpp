#include "linelease.h"

#include "frmMain.h"
#include "serial/mscomm.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>

LineLease::LineLease(frmMain &window)
    : QObject(&window), window_(window), status_(new QLabel(window.MenuBar)) {
    status_->setObjectName(QStringLiteral("LineHolder"));
    status_->setContentsMargins(0, 0, 8, 0);
    status_->hide();
    window.MenuBar->setCornerWidget(status_, Qt::TopRightCorner);
    connect(window.MSComm1, &MSComm::PortOpenChanged, this, [this](bool open) {
        if (!open && holder_ && need_ == Need::Port) {
            portOpen_ = false; // a lost device is not opened again behind the technician
            End(Ending::Revoked, QStringLiteral("串口已关闭或连接已断开"));
        }
    });
}

LineLease::~LineLease() {
    End(Ending::Exit);
}

std::optional<QString> LineLease::Refusal(const QObject *holder) const {
    if (!holder_ || holder_ == holder)
        return std::nullopt;
    return QStringLiteral("%1正在使用串口，请先结束%1").arg(name_);
}

std::optional<QString> LineLease::Take(QObject *holder, const QString &name, Need need,
                                       QWidget *toolWindow) {
    if (auto refusal = Refusal(holder))
        return refusal;
    if (holder_)
        return std::nullopt; // already its own
    frmMain &w = window_;
    holder_ = holder;
    name_ = name;
    need_ = need;
    keepPort_ = false;
    holderGone_ = connect(holder, &QObject::destroyed, this, [this] { End(Ending::GivenBack); });
    toolWindow_ = toolWindow;
    if (toolWindow)
        toolWindow->installEventFilter(this);

    polling_ = w.Timer2->isActive();
    interval_ = w.Timer2->interval();
    w.Timer2->stop();
    for (QWidget *control : std::initializer_list<QWidget *>{
             w.Frame5, w.Frame10, w.Frame7, w.Frame12, w.comDoOnce, w.cmdOneM, w.cmdStopOnce}) {
        enabled_.emplace_back(control, control->isEnabled());
        control->setEnabled(false);
    }
    // A network port still connecting counts as open: it is to connect again afterwards.
    portOpen_ = w.MSComm1->portOpen() || w.MSComm1->portConnecting();
    lamp_ = w.FrontLamp();
    if (need == Need::Device) {
        w.MSComm1->setPortOpen(false);
        w.ShowLamp(w.imgNotConnected);
    }
    status_->setText(QStringLiteral("串口由“%1”使用中").arg(name));
    status_->setAccessibleName(status_->text());
    status_->show();
    return std::nullopt;
}

void LineLease::GiveBack(const QObject *holder) {
    if (HeldBy(holder))
        End(Ending::GivenBack);
}

void LineLease::KeepPort() {
    keepPort_ = true;
}

bool LineLease::eventFilter(QObject *watched, QEvent *event) {
    // Closing hides the window; a window minimised is hidden by the system, not closed.
    if (watched == toolWindow_ && event->type() == QEvent::Hide && !event->spontaneous())
        End(Ending::Revoked, QStringLiteral("窗口已关闭"));
    return QObject::eventFilter(watched, event);
}

void LineLease::End(Ending how, const QString &reason) {
    if (!holder_)
        return;
    QObject *holder = std::exchange(holder_, nullptr);
    disconnect(holderGone_);
    if (toolWindow_)
        toolWindow_->removeEventFilter(this);
    toolWindow_.clear();
    frmMain &w = window_;
    w.Timer2->stop(); // the tool's own polling ends with its lease
    for (auto &[control, enabled] : enabled_)
        if (control)
            control->setEnabled(enabled);
    enabled_.clear();
    if (how == Ending::Exit)
        return; // the window is going: nothing is opened or started for it any more
    status_->hide();
    if (!keepPort_ && portOpen_ && !w.MSComm1->portOpen() && !w.MSComm1->portConnecting()) {
        w.MSComm1->setPortOpen(true);
        w.OpenOnComm();
    }
    if (!keepPort_ && lamp_ && w.MSComm1->portOpen())
        w.ShowLamp(lamp_);
    if (polling_) {
        w.Timer2->setInterval(interval_);
        w.Timer2->start();
    }
    if (how == Ending::Revoked)
        emit Revoked(holder, reason);
}
