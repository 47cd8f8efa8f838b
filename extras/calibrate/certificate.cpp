// The certificate: one A4 page drawn by Qt's own PDF writer from an HTML table.

#include "calibrationrecord.h"

#include <QFile>
#include <QFontDatabase>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

namespace calibration {
namespace {

// Qt embeds only fonts with TrueType outlines; the CFF outlines of the common CJK faces
// would end up unembedded, so a TrueType face with Chinese glyphs is asked for first.
const char16_t *const kPdfFaces[] = {u"WenQuanYi Zen Hei", u"AR PL UMing CN",
                                     u"AR PL UKai CN",     u"SimSun",
                                     u"Microsoft YaHei",   u"Noto Sans CJK SC"};

QString PdfFace() {
    const QStringList families = QFontDatabase::families();
    for (const char16_t *face : kPdfFaces)
        if (families.contains(QString::fromUtf16(face)))
            return QString::fromUtf16(face);
    return {};
}

QString Escaped(const QString &text) {
    return text.toHtmlEscaped();
}

QString Cell(const QString &text) {
    return QStringLiteral("<td>") + Escaped(text) + QStringLiteral("</td>");
}

QString Row(const QString &name, const QString &value) {
    return QStringLiteral("<tr><th align=left>") + Escaped(name) + QStringLiteral("</th>") +
           Cell(value) + QStringLiteral("</tr>");
}

QString Figure(const std::optional<double> &value, int decimals) {
    return value ? QLocale::c().toString(*value, 'f', decimals) : QStringLiteral("—");
}

QString MeasuredRows(const Record &r) {
    const auto coefficient = [](const Measured &m) {
        return m.coefficient ? CoefficientText(*m.coefficient) : QStringLiteral("—");
    };
    const auto offset = [](const Measured &m) {
        return m.offset ? QString::number(*m.offset) : QStringLiteral("—");
    };
    const auto stat = [](const Measured &m, double Stats::*field) {
        return m.stats ? std::optional<double>(*m.stats.*field) : std::nullopt;
    };
    const auto error = [](const Measured &m) {
        return m.errorPercent ? PercentText(*m.errorPercent) : QStringLiteral("—");
    };
    QString html = QStringLiteral("<tr><th></th><th>调整前</th><th>调整后</th></tr>");
    const auto line = [&html](const QString &name, const QString &found, const QString &left) {
        html += QStringLiteral("<tr><th align=left>") + Escaped(name) + QStringLiteral("</th>") +
                Cell(found) + Cell(left) + QStringLiteral("</tr>");
    };
    line(QStringLiteral("量程缩放系数"), coefficient(r.asFound), coefficient(r.asLeft));
    line(QStringLiteral("偏移量"), offset(r.asFound), offset(r.asLeft));
    line(QStringLiteral("平均值"), Figure(stat(r.asFound, &Stats::mean), 3),
         Figure(stat(r.asLeft, &Stats::mean), 3));
    line(QStringLiteral("标准差"), Figure(stat(r.asFound, &Stats::deviation), 3),
         Figure(stat(r.asLeft, &Stats::deviation), 3));
    line(QStringLiteral("误差"), error(r.asFound), error(r.asLeft));
    return html;
}

} // namespace

std::optional<QString> WriteCertificate(const QString &path, const Record &r) {
    QPdfWriter writer(path);
    writer.setTitle(QStringLiteral("校准证书"));
    writer.setCreator(QStringLiteral("sensor-companion ") + r.version);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    writer.setResolution(300);

    const auto count = [](const Measured &m) { return m.stats ? m.stats->count : 0; };
    QString html = QStringLiteral("<h2 align=center>校准证书</h2><table cellpadding=3>");
    html +=
        Row(QStringLiteral("日期时间"), r.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    html += Row(QStringLiteral("程序版本"), r.version);
    html += Row(QStringLiteral("串口"), r.port);
    html += Row(QStringLiteral("波特率"), r.rate);
    html += Row(QStringLiteral("设备地址"), r.device);
    html += Row(QStringLiteral("操作员"), r.operatorName);
    html += Row(QStringLiteral("参考仪器"), r.instrument);
    html += Row(QStringLiteral("参考仪器证书编号"), r.certificate);
    html += Row(QStringLiteral("参考值"), QLocale::c().toString(r.reference, 'g', 10));
    html += Row(QStringLiteral("允许误差"),
                QLocale::c().toString(r.tolerance, 'g', 10) + QStringLiteral(" %"));
    html += Row(QStringLiteral("测量时间"), QString::number(r.seconds) + QStringLiteral(" s"));
    html += Row(QStringLiteral("读数个数"),
                QStringLiteral("调整前 %1，调整后 %2").arg(count(r.asFound)).arg(count(r.asLeft)));
    html += QStringLiteral("</table><br><table border=1 cellspacing=0 cellpadding=4>");
    html += MeasuredRows(r);
    html += QStringLiteral("</table><h3>结果：") +
            (r.passed ? QStringLiteral("合格") : QStringLiteral("不合格")) +
            QStringLiteral("</h3><p>") + Escaped(r.status) + QStringLiteral("</p>");
    html += QStringLiteral("<p><b>写入记录</b></p><ul>");
    if (r.writes.empty())
        html += QStringLiteral("<li>未写入任何内容</li>");
    for (const Write &w : r.writes)
        html +=
            QStringLiteral("<li>") +
            Escaped(w.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + w.what +
                    (w.confirmed ? QStringLiteral("（已确认）") : QStringLiteral("（未确认）"))) +
            QStringLiteral("</li>");
    html += QStringLiteral("</ul>");

    QTextDocument document;
    QFont font(PdfFace());
    font.setPointSizeF(10.5);
    document.setDefaultFont(font);
    document.setHtml(html);
    document.print(&writer);
    // The writer reports no error of its own: a file that did not come is the failure.
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly) || written.read(4) != "%PDF")
        return QStringLiteral("无法写入文件");
    return std::nullopt;
}

} // namespace calibration
