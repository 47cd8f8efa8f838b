#include "elementtext.h"

#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTextDocument>

void SetTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    bool same = true;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const auto role : {QPalette::WindowText, QPalette::Text})
            same = same && palette.color(group, role) == color;
    }
    if (same)
        return;
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

void SetText(QLineEdit *box, const QString &text) {
    if (box->text() != text)
        box->setText(text);
}

void SetText(QPlainTextEdit *box, const QString &text) {
    box->document()->setPlainText(text);
    // setPlainText puts the caret back at the start; moving it costs as much as the rest, and
    // the caret is only seen while the box has the focus.
    if (box->hasFocus())
        box->moveCursor(QTextCursor::Start);
}
