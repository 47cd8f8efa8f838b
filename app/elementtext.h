#pragma once
// Texts and text colours of the window's elements. The observation boxes change on every
// poll, so their texts are set without the work that only matters for text a user types.

#include <QColor>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QWidget;

// A label's or a box's text colour, set through its palette. Every reply sets the value
// boxes' colour again, almost always to the one they have: that costs a palette comparison
// instead of a new palette.
void SetTextColor(QWidget *widget, const QColor &color);

// The same text again is not set: it would be laid out anew for nothing (and reset the
// cursor of someone reading it).
void SetText(QLineEdit *box, const QString &text);

// Replaces the text as setPlainText does, the view back at the start, without rebuilding
// the box's formats and cursor state around it.
void SetText(QPlainTextEdit *box, const QString &text);
