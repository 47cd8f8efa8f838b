// A line module's certificate: the body laid out by QTextDocument on the part of an A4 page
// between a header and a footer, and each page painted by hand so that every one carries the
// certificate number and "page X of Y", which QTextDocument::print cannot add.

#include "linerecord.h"
#include "pdfface.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

namespace calibration {
namespace {

const QString kDash = QStringLiteral("—");
const QString kDateTime = QStringLiteral("yyyy-MM-dd HH:mm:ss");
const QString kDate = QStringLiteral("yyyy-MM-dd");

// What a person typed, safe inside HTML; a dash when nothing was.
QString Typed(const QString &text) {
    return text.trimmed().isEmpty() ? kDash : text.toHtmlEscaped();
}

// A number as it was entered: no trailing zeros, C locale.
QString Plain(double value) {
    return QLocale::c().toString(value, 'g', 10);
}

QString Mean(double value) {
    return QLocale::c().toString(value, 'f', 3);
}

// A row of a two-column table; the value is HTML already.
QString Field(const char16_t *name, const QString &value) {
    return QStringLiteral("<tr><td width=32%>") + QString::fromUtf16(name) +
           QStringLiteral("</td><td>") + value + QStringLiteral("</td></tr>");
}

template <std::size_t N> QString Fields(const std::pair<const char16_t *, QString> (&rows)[N]) {
    QString html = QStringLiteral("<table width=100% cellspacing=0 cellpadding=3>");
    for (const auto &[name, value] : rows)
        html += Field(name, value);
    return html + QStringLiteral("</table>");
}

QString Cells(const QStringList &cells, const char *tag) {
    QString html = QStringLiteral("<tr>");
    for (const QString &cell : cells)
        html += QStringLiteral("<%1 align=center>%2</%1>").arg(QLatin1String(tag), cell);
    return html + QStringLiteral("</tr>");
}

// A ruled table whose heading row is repeated on every page it runs onto.
QString Ruled(const QStringList &heading, const QString &rows) {
    return QStringLiteral("<table width=100% border=1 cellspacing=0 cellpadding=4 "
                          "style=\"border-collapse:collapse\"><thead>") +
           Cells(heading, "th") + QStringLiteral("</thead>") + rows + QStringLiteral("</table>");
}

QString Item(const LineSetup &setup, const ModuleRecord &module) {
    const std::pair<const char16_t *, QString> rows[] = {
        {u"标签 / 序列号", Typed(module.label)},
        {u"设备地址", QString::number(module.address)},
        {u"串口", Typed(setup.port)},
        {u"波特率", Typed(setup.rate)},
        {u"程序版本", Typed(setup.version)},
        {u"校准日期时间", Typed(setup.started.toString(kDateTime))},
        {u"操作员", Typed(setup.operatorName)}};
    return QStringLiteral("<h3>1 被校对象</h3>") + Fields(rows);
}

QString Method(const LineSetup &setup) {
    return QStringLiteral(
               "<h3>2 校准方法</h3><p>在同一稳定照度下与参考仪器比较。在每个校准点，操作员输入"
               "参考仪器的读数，随后与同一总线上的其他模块轮流读取本模块的寄存器 0，测量时间 %1 s，"
               "误差 =（平均值 − 参考值）/ 参考值。在调整点，量程缩放系数设为 原系数 × 参考值 / "
               "平均值，读回确认后再次测量，得到调整后的结果。照度单位为 lx。</p>")
        .arg(setup.seconds);
}

QString Reference(const LineSetup &setup) {
    const QString due = setup.instrumentDue.isValid() ? setup.instrumentDue.toString(kDate) : kDash;
    const std::pair<const char16_t *, QString> rows[] = {
        {u"名称", Typed(setup.instrument)},
        {u"证书编号", Typed(setup.instrumentCertificate)},
        {u"有效期至", due},
        {u"扩展不确定度", Plain(setup.referenceUPercent) + QStringLiteral(" %（k = 2）")}};
    QString html = QStringLiteral("<h3>3 参考仪器</h3>") + Fields(rows);
    if (Overdue(setup, setup.started.date()))
        html += QStringLiteral("<p><b>参考仪器已超过有效期（%1），%2。</b></p>")
                    .arg(due, setup.overdueConfirmed ? QStringLiteral("操作员确认后继续使用")
                                                     : QStringLiteral("操作员未确认继续使用"));
    return html;
}

QString Conditions(const LineSetup &setup) {
    const auto typed = [](const QString &value, const char16_t *unit) {
        return value.trimmed().isEmpty()
                   ? QStringLiteral("未记录")
                   : value.trimmed().toHtmlEscaped() + QString::fromUtf16(unit);
    };
    const std::pair<const char16_t *, QString> rows[] = {
        {u"温度", typed(setup.temperature, u" ℃")}, {u"相对湿度", typed(setup.humidity, u" %")}};
    return QStringLiteral("<h3>4 环境条件</h3>") + Fields(rows);
}

// A figure of a point that may not have been measured.
template <typename F> QString Of(const std::optional<Point> &point, F figure) {
    return point ? figure(*point) : kDash;
}

QString LevelRow(const ModuleRecord &module, const Level &level) {
    const auto mean = [](const Point &p) { return Mean(p.stats.mean); };
    const auto error = [](const Point &p) { return PercentText(p.errorPercent); };
    const std::optional<Point> &final = JudgedPoint(module, level);
    return Cells({Plain(level.reference), Of(level.asFound, mean), Of(level.asFound, error),
                  Of(level.asLeft, mean), Of(level.asLeft, error),
                  Of(final, [](const Point &p) { return QString::number(p.stats.count); }),
                  Of(final, [](const Point &p) { return PercentText(p.uncertaintyPercent); }),
                  Of(final,
                     [](const Point &p) {
                         return p.conforms ? QStringLiteral("合格") : QStringLiteral("不合格");
                     })},
                 "td");
}

QString Results(const ModuleRecord &module) {
    QString rows;
    for (const Level &level : module.levels)
        rows += LevelRow(module, level);
    QString html = QStringLiteral("<h3>5 校准结果</h3>");
    if (module.levels.empty())
        html += QStringLiteral("<p>没有测量结果。</p>");
    else
        html += Ruled({QStringLiteral("参考值 (lx)"), QStringLiteral("调整前平均值 (lx)"),
                       QStringLiteral("调整前误差"), QStringLiteral("调整后平均值 (lx)"),
                       QStringLiteral("调整后误差"), QStringLiteral("读数个数"),
                       QStringLiteral("扩展不确定度 U (k=2)"), QStringLiteral("判定")},
                      rows) +
                QStringLiteral("<p>读数个数、U 与判定均针对最终测量点：有调整后测量时为调整后，"
                               "否则为调整前；系数已改变的模块只按调整后的测量判定。</p>");
    const auto coefficient = [](const std::optional<std::uint16_t> &value) {
        return value ? CoefficientText(*value) : kDash;
    };
    const std::optional<double> linearity = Linearity(module);
    const std::pair<const char16_t *, QString> figures[] = {
        {u"量程缩放系数（调整前）", coefficient(module.foundCoefficient)},
        {u"量程缩放系数（调整后）", coefficient(module.leftCoefficient)},
        {u"偏移量", module.foundOffset ? QString::number(*module.foundOffset) : kDash},
        {u"线性（各点最大 |误差|）",
         module.levels.size() >= 2 && linearity ? PercentText(*linearity) : kDash}};
    return html + Fields(figures);
}

QString Uncertainty(const LineSetup &setup) {
    return QStringLiteral(
               "<h3>6 测量不确定度</h3><p>扩展不确定度 U 由以下分量按方和根合成，包含因子 "
               "k = 2，对应的包含概率约为 95 %：参考仪器证书给出的扩展不确定度（%1 %，k = 2，"
               "取其一半为标准不确定度）；读数平均值的标准偏差（标准差 / √n）；模块的分辨力 "
               "%2 lx（矩形分布，分辨力 / (2√3)）。U 以参考值的百分数表示。</p>")
        .arg(Plain(setup.referenceUPercent), Plain(setup.resolution));
}

QString DecisionRule(const LineSetup &setup) {
    return QStringLiteral(
               "<h3>7 判定规则</h3><p>当 |误差| + U ≤ 允许误差（±%1 %）时判为合格，否则判为"
               "不合格（保护带等于 U）。</p>")
        .arg(Plain(setup.tolerance));
}

QString Writes(const ModuleRecord &module) {
    if (module.writes.empty())
        return QStringLiteral("<p>写入记录：未写入任何内容。</p>");
    QString rows;
    for (const Write &w : module.writes)
        rows += Cells({Typed(w.time.toString(kDateTime)), Typed(w.what),
                       w.confirmed ? QStringLiteral("已确认") : QStringLiteral("未确认")},
                      "td");
    return QStringLiteral("<p>写入记录：</p>") +
           Ruled({QStringLiteral("时间"), QStringLiteral("写入内容"), QStringLiteral("模块回复")},
                 rows);
}

QString Conclusion(const ModuleRecord &module) {
    QString html = QStringLiteral("<h3>8 结论</h3><p style=\"font-size:12pt\"><b>") +
                   (Passed(module) ? QStringLiteral("合格") : QStringLiteral("不合格")) +
                   QStringLiteral("</b></p>");
    if (!module.state.trimmed().isEmpty())
        html += QStringLiteral("<p>") + module.state.toHtmlEscaped() + QStringLiteral("</p>");
    return html + Writes(module) +
           QStringLiteral("<p>本证书的结果仅对所校准的模块有效。未经批准，不得部分复制本证书。"
                          "</p><p></p>");
}

// The last table of the document: a row for each who signs.
QString Signatures() {
    QString html = QStringLiteral("<table width=100% cellspacing=0 cellpadding=10>");
    for (const char16_t *role : {u"校准员", u"核验员", u"批准人"})
        html += QStringLiteral("<tr><td width=16%>") + QString::fromUtf16(role) +
                QStringLiteral("</td><td>签名：____________________</td>"
                               "<td>日期：________________</td></tr>");
    return html + QStringLiteral("</table>");
}

QString Html(const LineSetup &setup, const ModuleRecord &module) {
    return QStringLiteral("<h2 align=center>校准证书</h2><p align=center>证书编号：") +
           Typed(module.certificateNumber) + QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;签发日期：") +
           QDate::currentDate().toString(kDate) + QStringLiteral("</p>") + Item(setup, module) +
           Method(setup) + Reference(setup) + Conditions(setup) + Results(module) +
           Uncertainty(setup) + DecisionRule(setup) + Conclusion(module) + Signatures();
}

// A signature block split over two pages could be signed on neither: it starts a page of
// its own when it would not fit where it falls.
void KeepSignaturesTogether(QTextDocument &document) {
    const QList<QTextFrame *> frames = document.rootFrame()->childFrames();
    auto *table = frames.isEmpty() ? nullptr : qobject_cast<QTextTable *>(frames.last());
    if (!table)
        return;
    const qreal page = document.pageSize().height();
    const QRectF box = document.documentLayout()->frameBoundingRect(table);
    if (int(box.top() / page) == int((box.bottom() - 1) / page))
        return;
    QTextTableFormat format = table->format();
    format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    table->setFormat(format);
}

} // namespace

std::optional<QString> WriteLineCertificate(const QString &path, const LineSetup &setup,
                                            const ModuleRecord &module) {
    QPdfWriter writer(path);
    writer.setTitle(QStringLiteral("校准证书 ") + module.certificateNumber);
    writer.setCreator(QStringLiteral("sensor-companion ") + setup.version);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(20, 15, 20, 15), QPageLayout::Millimeter);
    writer.setResolution(300);

    QPainter painter;
    if (!painter.begin(&writer))
        return QStringLiteral("无法创建文件");

    const QString face = PdfFace();
    QFont small(face);
    small.setPointSizeF(9);
    const qreal line = QFontMetricsF(small, &writer).height();
    const QRectF page(0, 0, writer.width(), writer.height());
    // The header's and the footer's line each, and as much again to keep off the body.
    const QRectF body = page.adjusted(0, 2.5 * line, 0, -2.5 * line);

    QTextDocument document;
    // Laid out for the writer, so that points and pixels are the writer's, not the screen's.
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    QFont font(face);
    font.setPointSizeF(10);
    document.setDefaultFont(font);
    document.setHtml(Html(setup, module));
    document.setPageSize(body.size());
    KeepSignaturesTogether(document);
    const int pages = document.pageCount();

    const QString number = QStringLiteral("证书编号：") +
                           (module.certificateNumber.isEmpty() ? kDash : module.certificateNumber);
    QPen rule(Qt::black);
    rule.setWidthF(writer.resolution() / 254.0); // a tenth of a millimetre
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !writer.newPage()) {
            painter.end();
            return QStringLiteral("无法写入文件");
        }
        painter.save();
        painter.translate(body.left(), body.top() - i * body.height());
        document.drawContents(&painter, QRectF(0, i * body.height(), body.width(), body.height()));
        painter.restore();

        painter.setFont(small);
        painter.setPen(Qt::black);
        const QFontMetricsF metrics(small, &writer);
        const QRectF head(0, 0, page.width(), line);
        painter.drawText(head, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(number, Qt::ElideMiddle, page.width() * 0.7));
        painter.drawText(head, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("校准证书"));
        const QRectF foot(0, page.height() - line, page.width(), line);
        painter.drawText(foot, Qt::AlignCenter,
                         QStringLiteral("第 %1 页，共 %2 页").arg(i + 1).arg(pages));
        painter.setPen(rule);
        painter.drawLine(QPointF(0, 1.4 * line), QPointF(page.width(), 1.4 * line));
        painter.drawLine(QPointF(0, page.height() - 1.4 * line),
                         QPointF(page.width(), page.height() - 1.4 * line));
    }
    if (!painter.end())
        return QStringLiteral("无法写入文件");
    // The writer reports no error of its own: a file that did not come is the failure.
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly) || written.read(4) != "%PDF")
        return QStringLiteral("无法写入文件");
    return std::nullopt;
}

} // namespace calibration
