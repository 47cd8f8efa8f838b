#include "bustoolwindow.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/toolwindow.h"
#include "serial/mscomm.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

BusToolWindow::BusToolWindow(frmMain &window, const QString &objectName, const QString &title,
                             const QString &startText, const QString &statusText,
                             const QString &statusDescription)
    : QWidget(&window, Qt::Window), window_(window), startText_(startText) {
    toolwindow::Prepare(*this, objectName, title);
    status = toolwindow::StatusLine(this, statusText, statusDescription);
    startButton = toolwindow::Button(this, startText);
    closeButton = toolwindow::Button(this, QStringLiteral("关闭"));
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(window.Lease, &LineLease::Revoked, this, [this](QObject *holder, const QString &why) {
        if (holder == this)
            End(why);
    });
}

void BusToolWindow::ShowRunning(bool running) {
    toolwindow::SetButtonText(startButton, running ? QStringLiteral("停止(&S)") : startText_);
}

std::int32_t BusToolWindow::WindowRate() const {
    return window_.MSComm1->settings().section(u',', 0, 0).toInt();
}

std::unique_ptr<bus::BusLine> BusToolWindow::OpenOwnLine(std::int32_t rate) {
    QString failure;
    auto line = bus::BusLine::OpenOwn(window_.Place(), window_.MSComm1->commPort(), rate, &failure);
    if (!line) {
        window_.Lease->GiveBack(this);
        status->setText(failure);
    }
    return line;
}

void BusToolWindow::GiveLineBack(std::unique_ptr<bus::BusLine> &line) {
    line->Close();
    bus::BusLine *closed = line.release();
    closed->setParent(this); // deleted with the window should the program end first
    closed->deleteLater();
    window_.Lease->GiveBack(this);
}

void BusToolWindow::closeEvent(QCloseEvent *event) {
    End(QStringLiteral("已停止。"));
    event->accept();
}
