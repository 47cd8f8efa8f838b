#include "messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <utility>

MessageBoxService::MessageBoxService(QString applicationTitle, QWidget *parent)
    : applicationTitle_(std::move(applicationTitle)), parent_(parent) {}

void MessageBoxService::show(const QString &text, MsgIcon icon, const QString &title) {
    const Message message{text, title.isEmpty() ? applicationTitle_ : title, icon};
    if (showing_++ == 0 && told_)
        told_(true);
    if (presenter_)
        presenter_(message);
    else
        showModal(message);
    if (--showing_ == 0 && told_)
        told_(false);
}

void MessageBoxService::showModal(const Message &message) const {
    QMessageBox box(message.icon == MsgIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    message.title, message.text, QMessageBox::Ok, parent_);
    // Enter (the default button) and Escape (the only button) close it. The focus goes back
    // where it was, which not every window manager (nor none at all) restores by itself.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    box.exec();
    if (focus) {
        focus->activateWindow();
        focus->setFocus(Qt::OtherFocusReason);
    }
}
