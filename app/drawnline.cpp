#include "drawnline.h"

#include <QPainter>
#include <QRect>

DrawnLine::DrawnLine(QPoint from, QPoint to, QWidget *parent)
    : QWidget(parent), from_(from), to_(to) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setGeometry(QRect(from_, to_).normalized().adjusted(0, 0, 1, 1));
}

void DrawnLine::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1.0));
    p.drawLine(from_ - pos(), to_ - pos());
}
