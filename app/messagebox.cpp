#include "messagebox.h"

#include <QMessageBox>

#include <utility>

MessageBoxService::MessageBoxService(QString applicationTitle, QWidget *parent)
    : applicationTitle_(std::move(applicationTitle)), parent_(parent) {}

void MessageBoxService::show(const QString &text, MsgIcon icon, const QString &title) {
    const Message message{text, title.isEmpty() ? applicationTitle_ : title, icon};
    ++showing_;
    if (presenter_)
        presenter_(message);
    else
        showModal(message);
    --showing_;
}

void MessageBoxService::showModal(const Message &message) const {
    QMessageBox box(message.icon == MsgIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    message.title, message.text, QMessageBox::Ok, parent_);
    box.exec();
}
