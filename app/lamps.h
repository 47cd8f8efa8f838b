#pragma once
// The three 16 x 16 status lamp images, drawn at run time.

#include <QPixmap>

enum class LampColor { Red, Yellow, Green };

QPixmap LampPixmap(LampColor color);
