#include "programicon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

// Drawn on an image, not a pixmap, so the icon files of the packages can be rendered
// without a display.
QImage ProgramIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
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
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addPixmap(QPixmap::fromImage(ProgramIconImage(size)));
    return icon;
}
