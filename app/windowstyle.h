#pragma once
// The window's look: Fusion on every platform, with the panel of a text box drawn once per
// size and state and then copied. Fusion strokes that panel's rounded, antialiased outline
// on every repaint, and the large value box repaints with each reading: that stroke was
// the biggest single cost of a poll.

#include <QProxyStyle>

class WindowStyle : public QProxyStyle {
public:
    WindowStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};
