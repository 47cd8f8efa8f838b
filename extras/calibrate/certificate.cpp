// The certificate: one A4 page drawn by Qt's own PDF writer from an HTML table.

#include "calibrationrecord.h"
#include "pdfface.h"

#include <QFile>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <functional>

namespace calibration {
namespace {

// A row: its name, then a cell a value.
QString Row(const QString &name, const QStringList &values) {
    QString html =
        QStringLiteral("<tr><th align=left>") + name.toHtmlEscaped() + QStringLiteral("</th>");
    for (const QString &value : values)
        html += QStringLiteral("<td>") + value.toHtmlEscaped() + QStringLiteral("</td>");
    return html + QStringLiteral("</tr>");
}

// What is known, as `text` gives it, or a dash.
template <typename T, typename F> QString Shown(const std::optional<T> &value, F text) {
    return value ? text(*value) : QStringLiteral("—");
}

QString MeasuredRows(const Record &r) {
    const auto number = [](double value) { return QLocale::c().toString(value, 'f', 3); };
    const std::pair<const char16_t *, std::function<QString(const Measured &)>> rows[] = {
        {u"量程缩放系数", [](const Measured &m) { return Shown(m.coefficient, CoefficientText); }},
        {u"偏移量",
         [](const Measured &m) {
             return Shown(m.offset, [](std::uint16_t v) { return QString::number(v); });
         }},
        {u"平均值",
         [&](const Measured &m) {
             return Shown(m.stats, [&](const Stats &s) { return number(s.mean); });
         }},
        {u"标准差",
         [&](const Measured &m) {
             return Shown(m.stats, [&](const Stats &s) { return number(s.deviation); });
         }},
        {u"误差", [](const Measured &m) { return Shown(m.errorPercent, PercentText); }}};
    QString html = QStringLiteral("<tr><th></th><th>调整前</th><th>调整后</th></tr>");
    for (const auto &[name, text] : rows)
        html += Row(QString::fromUtf16(name), {text(r.asFound), text(r.asLeft)});
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
    const QLocale c = QLocale::c();
    const std::pair<const char16_t *, QString> about[] = {
        {u"日期时间", r.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))},
        {u"程序版本", r.version},
        {u"串口", r.port},
        {u"波特率", r.rate},
        {u"设备地址", r.device},
        {u"操作员", r.operatorName},
        {u"参考仪器", r.instrument},
        {u"参考仪器证书编号", r.certificate},
        {u"参考值", c.toString(r.reference, 'g', 10)},
        {u"允许误差", c.toString(r.tolerance, 'g', 10) + QStringLiteral(" %")},
        {u"测量时间", QString::number(r.seconds) + QStringLiteral(" s")},
        {u"读数个数",
         QStringLiteral("调整前 %1，调整后 %2").arg(count(r.asFound)).arg(count(r.asLeft))}};
    for (const auto &[name, value] : about)
        html += Row(QString::fromUtf16(name), {value});
    html += QStringLiteral("</table><br><table border=1 cellspacing=0 cellpadding=4>");
    html += MeasuredRows(r);
    html += QStringLiteral("</table><h3>结果：") +
            (r.passed ? QStringLiteral("合格") : QStringLiteral("不合格")) +
            QStringLiteral("</h3><p>") + r.status.toHtmlEscaped() + QStringLiteral("</p>");
    html += QStringLiteral("<p><b>写入记录</b></p><ul>");
    if (r.writes.empty())
        html += QStringLiteral("<li>未写入任何内容</li>");
    for (const Write &w : r.writes)
        html += QStringLiteral("<li>") +
                (w.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + w.what +
                 (w.confirmed ? QStringLiteral("（已确认）") : QStringLiteral("（未确认）")))
                    .toHtmlEscaped() +
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
