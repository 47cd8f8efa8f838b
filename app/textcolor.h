#pragma once
// A label's or a box's text colour, set through its palette.

#include <QPalette>
#include <QWidget>

inline void SetTextColor(QWidget *widget, const QColor &color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}
