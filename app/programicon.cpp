#include "programicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace {

QPixmap Tile(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 160));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    QPainterPath trace;
    for (int x = 0; x <= 22; ++x) {
        const QPointF point(5 + x, 16 - 7 * std::sin(x * 3.14159 / 7.0));
        x == 0 ? trace.moveTo(point) : trace.lineTo(point);
    }
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trace);
    return pixmap;
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addPixmap(Tile(size));
    return icon;
}
