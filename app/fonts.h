#pragma once
// Fonts of the window. Each asks for the face the layout was drawn with and falls back to
// faces that carry Chinese glyphs on Linux, Windows and macOS.

#include <QFont>

namespace fonts {

QFont Standard();                                // the toolkit's standard font
QFont Song(double pointSize, bool bold = false); // "宋体"
QFont Titling(double pointSize);                 // the channel captions
QFont Unit(double pointSize);                    // the unit labels
QFont HalfWidthBlanks();                         // a face whose blank is half an em

} // namespace fonts
