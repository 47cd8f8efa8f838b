// What the line calibration shows: each module's row, the history of the module whose label
// is typed, and a reference past its due date.

#include "linecalibrationwindow.h"

#include "extras/toolwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

using namespace calibration;

namespace {

QString Coefficient(const std::optional<std::uint16_t> &value) {
    return value ? CoefficientText(*value) : QString();
}

QString Reference(double value) {
    return QLocale::c().toString(value, 'g', 10);
}

// The module's row: its figures at the adjustment level (the first), and every level's error.
QStringList RowOf(const LineCalibration &flow, std::size_t index) {
    const ModuleRecord &m = flow.Modules()[index];
    const Level *first = m.levels.empty() ? nullptr : &m.levels.front();
    const auto percent = [](const std::optional<Point> &p) {
        return p ? PercentText(p->errorPercent) : QString();
    };
    QStringList levels;
    for (const Level &level : m.levels)
        if (level.Final())
            levels << QStringLiteral("%1: %2").arg(Reference(level.reference),
                                                   PercentText(level.Final()->errorPercent));
    const auto linearity = m.levels.size() > 1 ? Linearity(m) : std::nullopt;
    const bool judged = std::ranges::any_of(
        m.levels, [&m](const Level &l) { return JudgedPoint(m, l).has_value(); });
    return {QString::number(m.address),
            m.label,
            Coefficient(m.foundCoefficient),
            first ? percent(first->asFound) : QString(),
            flow.ProposalText(index),
            Coefficient(m.leftCoefficient),
            first ? percent(first->asLeft) : QString(),
            first && first->Final() ? PercentText(first->Final()->uncertaintyPercent) : QString(),
            levels.join(QStringLiteral("; ")),
            linearity ? PercentText(*linearity) : QString(),
            flow.Busy() ? QString::number(flow.ReadingsOf(index)) : QString(),
            judged ? (Passed(m) ? QStringLiteral("合格") : QStringLiteral("不合格")) : QString(),
            m.state};
}

} // namespace

QStringList LineCalibrationWindow::Columns() {
    return {
        QStringLiteral("地址"),       QStringLiteral("标签"),     QStringLiteral("原系数"),
        QStringLiteral("调整前误差"), QStringLiteral("新系数"),   QStringLiteral("调整后系数"),
        QStringLiteral("调整后误差"), QStringLiteral("U (k=2)"),  QStringLiteral("各检定点误差"),
        QStringLiteral("线性"),       QStringLiteral("本次读数"), QStringLiteral("结果"),
        QStringLiteral("状态")};
}

void LineCalibrationWindow::ShowOverdue() {
    const QDate due = QDate::fromString(dueBox->text().trimmed(), DateFormat());
    overdueLine->setText(due.isValid() && due < QDate::currentDate()
                             ? QStringLiteral("参考仪器已过有效期（%1），开始测量前将请您确认。")
                                   .arg(due.toString(DateFormat()))
                             : QString());
}

void LineCalibrationWindow::ShowFlow() {
    const auto &modules = flow_->Modules();
    for (std::size_t i = 0; i < modules.size(); ++i)
        toolwindow::SetRow(table, int(i), RowOf(*flow_, i));
    if (!flow_->Status().isEmpty())
        status->setText(flow_->Status());
    const bool busy = flow_->Busy() || line_; // a step runs, or waits for its line
    const bool open = flow_->Open();
    writeButton->setEnabled(!busy && flow_->CanWrite());
    levelButton->setEnabled(!busy && open);
    restoreButton->setEnabled(!busy && open && flow_->Adjusted());
    finishButton->setEnabled(!busy && open);
    for (QLineEdit *box : {addressBox, toleranceBox, secondsBox, uncertaintyBox, dueBox})
        box->setEnabled(!busy);
}

void LineCalibrationWindow::ShowHistory() {
    const QString label = labelBox->text().trimmed();
    if (label.isEmpty()) {
        history->clear();
        return;
    }
    const auto read = ReadHistory(flow_->LogPath(), label);
    if (const auto *why = std::get_if<QString>(&read)) {
        history->setPlainText(*why);
        return;
    }
    QStringList lines;
    for (const HistoryEntry &e : std::get<std::vector<HistoryEntry>>(read))
        lines << QStringLiteral("%1  证书 %2  参考值 %3  调整前 %4  调整后 %5  %6")
                     .arg(e.time, e.certificate.isEmpty() ? QStringLiteral("—") : e.certificate,
                          e.reference,
                          e.foundError.isEmpty() ? QStringLiteral("—") : e.foundError + u'%',
                          e.leftError.isEmpty() ? QStringLiteral("—") : e.leftError + u'%',
                          e.result);
    history->setPlainText(lines.isEmpty()
                              ? QStringLiteral("记录中没有标签为“%1”的校准。").arg(label)
                              : lines.join(u'\n'));
}
