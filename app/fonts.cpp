#include "fonts.h"

#include <QStringList>

namespace fonts {
namespace {

QFont Make(const QStringList &families, double pointSize, int weight = QFont::Normal) {
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(pointSize);
    font.setWeight(static_cast<QFont::Weight>(weight));
    return font;
}

const QStringList kSans{"Noto Sans CJK SC", "Microsoft YaHei", "PingFang SC", "sans-serif"};
const QStringList kSerif{"宋体", "SimSun", "Noto Serif CJK SC", "Songti SC", "serif"};

} // namespace

QFont Standard() {
    return Make(kSans, 9);
}

QFont Song(double pointSize, bool bold) {
    return Make(kSerif, pointSize, bold ? QFont::Bold : QFont::Normal);
}

QFont Titling(double pointSize) {
    return Make(QStringList{"Perpetua Titling MT"} + kSerif, pointSize, QFont::Light);
}

QFont Unit(double pointSize) {
    return Make(QStringList{"Plantagenet Cherokee", "DejaVu Serif"} + kSerif, pointSize);
}

QFont HalfWidthBlanks() {
    return Make({"Noto Sans Mono CJK SC", "宋体", "SimSun", "monospace"}, 9);
}

} // namespace fonts
