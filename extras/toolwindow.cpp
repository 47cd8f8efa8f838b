#include "toolwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>

namespace toolwindow {

void Prepare(QWidget &window, const QString &objectName, const QString &title) {
    window.setObjectName(objectName);
    window.setWindowTitle(title);
    window.setAccessibleName(title);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, &window, &QWidget::close);
}

QPushButton *Button(QWidget *parent, const QString &text) {
    auto *button = new QPushButton(text, parent);
    button->setAccessibleName(QString(text).remove(u'&'));
    return button;
}

std::pair<QLabel *, QLineEdit *> LabelledBox(QWidget *parent, const QString &caption,
                                             bool readOnly) {
    auto *box = new QLineEdit(parent);
    static const QRegularExpression mnemonic(QStringLiteral(R"(\(&.\))"));
    box->setAccessibleName(QString(caption).remove(mnemonic));
    box->setReadOnly(readOnly);
    auto *label = new QLabel(caption + u':', parent);
    label->setBuddy(box);
    return {label, box};
}

void ShowText(QLineEdit *box, const QString &text) {
    if (box->text() != text)
        box->setText(text);
}

} // namespace toolwindow
