#pragma once
// Texts and text colours of the window's elements. The observation boxes change on every
// poll, so their texts are set without the work that only matters for text a user types.

#include <QPalette>
#include <QString>
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;

// A label's or a box's text colour, set through its palette.
inline void SetTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

// The same text again is not set: it would be laid out anew for nothing (and reset the
// cursor of someone reading it).
void SetText(QLineEdit *box, const QString &text);

// Replaces the text as setPlainText does, the view back at the start, without rebuilding
// the box's formats and cursor state around it.
void SetText(QPlainTextEdit *box, const QString &text);
