#pragma once
// The face the certificates are written in.

#include <QFontDatabase>
#include <QString>
#include <QStringList>

namespace calibration {

// Qt embeds only fonts with TrueType outlines; the CFF outlines of the common CJK faces
// would end up unembedded, so a TrueType face with Chinese glyphs is asked for first. Empty
// when none is installed: Qt's own fallback then.
inline QString PdfFace() {
    static const char16_t *const faces[] = {u"WenQuanYi Zen Hei", u"AR PL UMing CN",
                                            u"AR PL UKai CN",     u"SimSun",
                                            u"Microsoft YaHei",   u"Noto Sans CJK SC"};
    const QStringList families = QFontDatabase::families();
    for (const char16_t *face : faces)
        if (families.contains(QString::fromUtf16(face)))
            return QString::fromUtf16(face);
    return {};
}

} // namespace calibration
