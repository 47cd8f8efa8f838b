#include "lamps.h"

#include <QPainter>
#include <QRadialGradient>

QPixmap LampPixmap(LampColor color) {
    QColor body;
    switch (color) {
    case LampColor::Red:
        body = QColor(220, 30, 30);
        break;
    case LampColor::Yellow:
        body = QColor(240, 200, 20);
        break;
    case LampColor::Green:
        body = QColor(30, 180, 50);
        break;
    }

    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // A disc lit from the upper left, with a small white highlight.
    QRadialGradient shade(QPointF(6.0, 6.0), 9.0);
    shade.setColorAt(0.0, body.lighter(140));
    shade.setColorAt(1.0, body.darker(130));
    p.setPen(QPen(body.darker(170), 1.0));
    p.setBrush(shade);
    p.drawEllipse(QRectF(1.0, 1.0, 14.0, 14.0));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(QRectF(4.0, 3.5, 4.0, 3.0));
    return pixmap;
}
