#include "windowstyle.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QPainter>
#include <QPixmapCache>
#include <QStyleFactory>
#include <QStyleOption>

namespace {

// Fusion leaves the panel of a box inside a list or spin box to the list or spin box.
bool PanelDrawnByParent(const QWidget *widget) {
    const QWidget *parent = widget ? widget->parentWidget() : nullptr;
    return qobject_cast<const QComboBox *>(parent) ||
           qobject_cast<const QAbstractSpinBox *>(parent);
}

// Everything the panel's pixels depend on.
QString PanelKey(const QStyleOptionFrame &frame, qreal ratio) {
    const QPalette &palette = frame.palette;
    return QStringLiteral("sc-panel:%1x%2@%3:%4:%5:%6:%7:%8")
        .arg(frame.rect.width())
        .arg(frame.rect.height())
        .arg(ratio)
        .arg(frame.lineWidth)
        .arg(int(frame.state & (QStyle::State_Enabled | QStyle::State_HasFocus)))
        .arg(palette.base().color().rgba())
        .arg(palette.window().color().rgba())
        .arg(palette.highlight().color().rgba());
}

} // namespace

WindowStyle::WindowStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void WindowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                QPainter *painter, const QWidget *widget) const {
    const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option);
    if (element != PE_PanelLineEdit || !frame || PanelDrawnByParent(widget) ||
        frame->palette.base().style() != Qt::SolidPattern) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const qreal ratio = painter->device()->devicePixelRatio();
    const QString key = PanelKey(*frame, ratio);
    QPixmap panel;
    if (!QPixmapCache::find(key, &panel)) {
        panel = QPixmap(frame->rect.size() * ratio);
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QStyleOptionFrame at(*frame);
        at.rect.moveTopLeft(QPoint(0, 0));
        QPainter p(&panel);
        QProxyStyle::drawPrimitive(element, &at, &p, widget);
        p.end();
        QPixmapCache::insert(key, panel);
    }
    painter->drawPixmap(frame->rect.topLeft(), panel);
}
