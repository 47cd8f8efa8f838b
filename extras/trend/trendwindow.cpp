#include "trendwindow.h"

#include "app/frmMain.h"
#include "extras/toolwindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

// At 20 readings a second, drawing each one would cost more than the polling itself; a
// frame a second still shows the reading settle.
constexpr int kRefreshMs = 1000;

} // namespace

// The chart with the write markers drawn over it: a vertical line at each write in the
// visible span, labelled with what was written.
class TrendChartView : public QChartView {
public:
    using QChartView::QChartView;
    std::vector<trend::Marker> markers;

protected:
    void drawForeground(QPainter *painter, const QRectF &rect) override {
        QChartView::drawForeground(painter, rect);
        if (markers.empty())
            return;
        const QRectF area = chart()->plotArea();
        const QList<QAbstractSeries *> all = chart()->series();
        if (all.isEmpty())
            return;
        painter->save();
        painter->setPen(QPen(QColor(200, 60, 0), 1, Qt::DashLine));
        const QFontMetrics metrics(painter->font());
        for (const trend::Marker &m : markers) {
            const qreal x = chart()->mapToPosition(QPointF(double(m.t), 0), all.first()).x();
            if (x < area.left() || x > area.right())
                continue;
            painter->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            // The label runs down beside the line, so that close writes stay readable.
            painter->save();
            painter->translate(x - 3, area.top() + 4);
            painter->rotate(90);
            painter->drawText(QPointF(0, 0),
                              metrics.elidedText(m.text, Qt::ElideRight, int(area.height()) - 8));
            painter->restore();
        }
        painter->restore();
    }
};

TrendWindow::TrendWindow(frmMain &window) : QWidget(&window, Qt::Window), window_(window) {
    toolwindow::Prepare(*this, QStringLiteral("TrendWindow"), QStringLiteral("趋势图"));
    resize(720, 520);

    span_ = new QComboBox(this);
    span_->addItems({QStringLiteral("最近 1 分钟"), QStringLiteral("最近 10 分钟"),
                     QStringLiteral("最近 1 小时"), QStringLiteral("全部")});
    span_->setAccessibleName(QStringLiteral("时间跨度"));
    auto *spanLabel = new QLabel(QStringLiteral("时间跨度(&S):"), this);
    spanLabel->setBuddy(span_);
    export_ = toolwindow::Button(this, QStringLiteral("导出图片…"));
    close_ = toolwindow::Button(this, QStringLiteral("关闭"));

    series_ = new QLineSeries;
    series_->setPen(QPen(QColor(0, 90, 180), 1.5));
    chart_ = new QChart;
    chart_->addSeries(series_);
    chart_->legend()->hide();
    chart_->setMargins(QMargins(4, 4, 4, 4));
    axisX_ = new QDateTimeAxis;
    axisX_->setFormat(QStringLiteral("hh:mm:ss"));
    axisX_->setTickCount(6);
    axisY_ = new QValueAxis;
    axisY_->setLabelFormat(QStringLiteral("%g"));
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    view_ = new TrendChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing, false); // a thin line, drawn often
    view_->setFocusPolicy(Qt::TabFocus);
    view_->setAccessibleName(QStringLiteral("趋势曲线"));

    auto *top = new QHBoxLayout;
    top->addWidget(spanLabel);
    top->addWidget(span_);
    top->addStretch();
    top->addWidget(export_);
    top->addWidget(close_);

    auto *stats = new QGridLayout;
    const std::pair<QLineEdit **, const char16_t *> boxes[] = {
        {&min_, u"最小值"}, {&max_, u"最大值"}, {&mean_, u"平均值"}, {&last_, u"最新值"}};
    int column = 0;
    for (auto [box, name] : boxes) {
        const auto [label, made] = toolwindow::LabelledBox(this, QString::fromUtf16(name), true);
        stats->addWidget(label, 0, column++);
        stats->addWidget(*box = made, 0, column++);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addLayout(stats);
    ShowStats(std::nullopt);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        if (dirty_)
            Refresh();
    });
    connect(span_, &QComboBox::currentIndexChanged, this, &TrendWindow::Refresh);
    connect(export_, &QPushButton::clicked, this, &TrendWindow::ChooseExportFile);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    connect(&window, &frmMain::ReadingDecoded, this, &TrendWindow::AddReading);
    connect(&window, &frmMain::WriteConfirmed, this, &TrendWindow::AddMarker);
}

void TrendWindow::AddReading(const modbus::Reading &reading) {
    if (!store_.Add(reading.time, modbus::ShownValue(reading)))
        return;
    decimals_ = modbus::ShownDecimals(reading); // the statistics keep the window's decimals
    dirty_ = true;
}

void TrendWindow::AddMarker(const modbus::WriteChange &change) {
    store_.AddMarker(change.time, modbus::WriteText(change));
    dirty_ = true;
}

void TrendWindow::Refresh() {
    dirty_ = false;
    const qint64 length = kSpans[std::clamp(span_->currentIndex(), 0, 3)];
    if (store_.Empty()) {
        // No reading yet: the axis shows the span that is about to fill.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        axisX_->setRange(QDateTime::fromMSecsSinceEpoch(now - (length ? length : 60'000)),
                         QDateTime::fromMSecsSinceEpoch(now));
        series_->clear();
        ShowStats(std::nullopt);
        return;
    }
    // The span ends at the newest reading, so a stopped poll leaves the chart as it was.
    const qint64 to = store_.Newest();
    const qint64 from = length ? to - length : store_.Oldest();
    const int columns = std::max(16, int(chart_->plotArea().width()));
    series_->replace(store_.Envelope(from, to, columns));
    axisX_->setFormat(to - from > 86'400'000 ? QStringLiteral("MM-dd hh:mm")
                                             : QStringLiteral("hh:mm:ss"));
    axisX_->setRange(QDateTime::fromMSecsSinceEpoch(from),
                     QDateTime::fromMSecsSinceEpoch(std::max(to, from + 1000)));

    const std::optional<trend::Stats> stats = store_.StatsOf(from, to);
    if (stats) {
        // A flat line sits in the middle of a small band rather than on the frame.
        const double pad = stats->max > stats->min ? (stats->max - stats->min) * 0.05
                                                   : std::max(1.0, std::abs(stats->max) * 0.01);
        axisY_->setRange(stats->min - pad, stats->max + pad);
        axisY_->applyNiceNumbers();
    }
    ShowStats(stats);

    view_->markers = store_.MarkersIn(from, to);
    QStringList described;
    for (const trend::Marker &m : view_->markers)
        described << QDateTime::fromMSecsSinceEpoch(m.t).toString(QStringLiteral("hh:mm:ss ")) +
                         m.text;
    const QString description = described.join(QStringLiteral("; "));
    if (view_->accessibleDescription() != description)
        view_->setAccessibleDescription(description);
    view_->viewport()->update();
}

void TrendWindow::ShowStats(const std::optional<trend::Stats> &stats) {
    const QLocale c = QLocale::c();
    using toolwindow::ShowText;
    if (!stats) {
        for (QLineEdit *box : {min_, max_, mean_, last_})
            ShowText(box, QStringLiteral("—"));
        return;
    }
    ShowText(min_, c.toString(stats->min, 'f', decimals_));
    ShowText(max_, c.toString(stats->max, 'f', decimals_));
    ShowText(mean_, c.toString(stats->mean, 'f', decimals_ + 2));
    ShowText(last_, c.toString(stats->last, 'f', decimals_));
}

bool TrendWindow::ExportPng(const QString &path) {
    Refresh();
    return view_->grab().save(path, "PNG");
}

void TrendWindow::ChooseExportFile() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString name =
        QStringLiteral("trend-%1.png")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("导出图片…"), QDir(folder).filePath(name),
                                     QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!ExportPng(path))
        window_.MsgBox(QStringLiteral("无法保存图片: %1").arg(QDir::toNativeSeparators(path)),
                       MsgIcon::Warning);
}

void TrendWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    Refresh();
    refreshTimer_->start();
}

void TrendWindow::hideEvent(QHideEvent *event) {
    refreshTimer_->stop(); // it keeps collecting; it draws only while it is seen
    QWidget::hideEvent(event);
}

// Closing it hides it; it goes on collecting, so opening it again shows what came since.
TrendWindow *TrendWindow::Open(frmMain &window) {
    return toolwindow::ShowOne<TrendWindow>(window, [&window] {
        auto *trend = new TrendWindow(window);
        const QRect frame = window.frameGeometry();
        QRect place(frame.topRight() + QPoint(1, 0), trend->size());
        if (const QScreen *s = window.screen()) {
            const QRect room = s->availableGeometry();
            if (place.right() > room.right())
                place.moveRight(room.right());
            place.moveTop(std::clamp(place.top(), room.top(),
                                     std::max(room.top(), room.bottom() - place.height())));
        }
        trend->move(place.topLeft());
        return trend;
    });
}
