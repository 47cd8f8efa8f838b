#pragma once
// The program's icon, drawn at run time: a sensor's reading trace on a rounded tile.

#include <QIcon>
#include <QImage>

QIcon ProgramIcon();

// One square size of it.
QImage ProgramIconImage(int size);
