#pragma once
// A straight line drawn on its container, from one point to another in the container's
// coordinates; it takes no input.

#include <QPoint>
#include <QWidget>

class DrawnLine : public QWidget {
public:
    DrawnLine(QPoint from, QPoint to, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint from_;
    QPoint to_;
};
