#include "elementtext.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextDocument>

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
