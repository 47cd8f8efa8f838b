#include "overviewwindow.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "app/runtime.h"
#include "extras/toolwindow.h"
#include "knownmodules.h"
#include "serial/mscomm.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

namespace {

constexpr int kRefreshMs = 250;
const QColor kMissingColour(255, 190, 190);

} // namespace

OverviewWindow::OverviewWindow(frmMain &window)
    : BusToolWindow(window, QStringLiteral("OverviewWindow"), QStringLiteral("总线总览"),
                    QStringLiteral("开始(&S)"),
                    QStringLiteral("按循环时间轮流读各模块的寄存器 0。"),
                    QStringLiteral("总览状态")) {
    QLabel *addressLabel;
    std::tie(addressLabel, addressBox) =
        toolwindow::LabelledBox(this, QStringLiteral("地址(&A)"), false);
    addressBox->setPlaceholderText(QStringLiteral("如 3,5,7-9"));
    addressBox->setText(bus::AddressesText(bus::KnownModules::Of(window).Sorted()));
    table = toolwindow::Table(this, QStringLiteral("各模块"), bus::HealthColumns());
    // Room for ten modules without scrolling.
    table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                            10 * table->verticalHeader()->defaultSectionSize() +
                            2 * table->frameWidth());
    resetButton = toolwindow::Button(this, QStringLiteral("重置统计(&R)"));
    copyButton = toolwindow::Button(this, QStringLiteral("复制(&C)"));

    auto *layout = new QGridLayout(this);
    layout->addWidget(addressLabel, 0, 0);
    layout->addWidget(addressBox, 0, 1, 1, 4);
    layout->addWidget(status, 1, 0, 1, 5);
    layout->addWidget(table, 2, 0, 1, 5);
    layout->addWidget(startButton, 3, 1);
    layout->addWidget(resetButton, 3, 2);
    layout->addWidget(copyButton, 3, 3);
    layout->addWidget(closeButton, 3, 4);
    layout->setRowStretch(2, 1);
    setMinimumWidth(860);

    round_.setSingleShot(true);
    round_.setTimerType(Qt::PreciseTimer);
    refresh_.setInterval(kRefreshMs);
    toolwindow::TabOrder(
        {addressBox, status, table, startButton, resetButton, copyButton, closeButton});
    connect(startButton, &QPushButton::clicked, this, &OverviewWindow::StartOrStop);
    connect(resetButton, &QPushButton::clicked, this, [this] {
        for (bus::ModuleHealth &health : health_)
            health.Reset();
        Refresh();
    });
    connect(copyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(bus::HealthText(health_)); });
    connect(&round_, &QTimer::timeout, this, &OverviewWindow::NextRound);
    connect(&refresh_, &QTimer::timeout, this, &OverviewWindow::Refresh);
}

OverviewWindow *OverviewWindow::Open(frmMain &window) {
    auto *shown = toolwindow::ShowOne<OverviewWindow>(
        window, [&window] { return new OverviewWindow(window); });
    shown->startButton->setFocus();
    return shown;
}

void OverviewWindow::StartOrStop() {
    if (!line_)
        Start();
    else if (line_->Busy())
        stopping_ = true; // the request out gets its answer counted first
    else
        End(QStringLiteral("已停止。"));
}

void OverviewWindow::Start() {
    const auto parsed = bus::ParseAddresses(addressBox->text());
    // The window's own range starts at 50 ms; 0 asks for rounds back to back.
    std::optional<std::int32_t> interval = window_.PollInterval();
    if (const auto number = rt::ToNumber(window_.txtTimerSet->text()); number && *number == 0)
        interval = 0;
    QString refusal;
    if (const auto *why = std::get_if<QString>(&parsed))
        refusal = *why;
    else if (!interval)
        refusal = QStringLiteral("主窗口的定时时长应为 0（尽快）或 50-60000 毫秒");
    else if (const auto held = window_.Lease->Take(this, QStringLiteral("总线总览"),
                                                   LineLease::Need::Device, this))
        refusal = *held;
    if (!refusal.isEmpty()) {
        window_.MsgBox(refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    line_ = OpenOwnLine(WindowRate());
    if (!line_)
        return;
    connect(line_.get(), &bus::BusLine::Answered, this, &OverviewWindow::Take);
    connect(line_.get(), &bus::BusLine::Lost, this, &OverviewWindow::End);
    connect(line_.get(), &bus::BusLine::Opened, this, &OverviewWindow::NextRound);
    interval_ = *interval;
    health_.clear();
    for (int address : std::get<QList<int>>(parsed))
        health_.push_back(bus::ModuleHealth{address});
    shownMissing_.assign(health_.size(), false);
    table->setRowCount(0);
    rounds_ = 0;
    addressBox->setEnabled(false);
    ShowRunning(true);
    status->setText(QStringLiteral("正在轮询 %1 个模块，波特率 %2，%3")
                        .arg(health_.size())
                        .arg(line_->Rate())
                        .arg(interval_ ? QStringLiteral("每轮 %1 ms").arg(interval_)
                                       : QStringLiteral("尽快轮询")));
    Refresh();
    refresh_.start();
    if (line_->Ready())
        NextRound();
}

void OverviewWindow::End(const QString &why) {
    if (!line_)
        return;
    round_.stop();
    refresh_.stop();
    stopping_ = false;
    GiveLineBack(line_);
    addressBox->setEnabled(true);
    ShowRunning(false);
    status->setText(why);
    Refresh();
}

void OverviewWindow::NextRound() {
    roundStarted_.start();
    next_ = 0;
    AskNext();
}

void OverviewWindow::AskNext() {
    if (!line_)
        return;
    if (next_ < health_.size()) {
        line_->Ask(static_cast<std::uint8_t>(health_[next_].address),
                   bus::BusLine::Patience::FirstReply);
        return;
    }
    ++rounds_;
    const qint64 left = interval_ - roundStarted_.elapsed();
    round_.start(static_cast<int>(std::max<qint64>(0, left)));
}

void OverviewWindow::Take(const bus::Answer &answer) {
    if (next_ >= health_.size())
        return;
    health_[next_].Count(answer);
    if (answer.judged.heard == bus::Heard::Reply)
        emit ReadingTaken(bus::ReadingOf(answer));
    ++next_;
    if (stopping_)
        End(QStringLiteral("已停止。"));
    else
        AskNext();
}

void OverviewWindow::Refresh() {
    for (std::size_t row = 0; row < health_.size(); ++row) {
        const int at = static_cast<int>(row);
        toolwindow::SetRow(table, at, bus::HealthRow(health_[row]));
        const bool missing = health_[row].Missing();
        if (missing == shownMissing_[row])
            continue;
        shownMissing_[row] = missing;
        for (int column = 0; column < table->columnCount(); ++column)
            table->item(at, column)->setBackground(missing ? QBrush(kMissingColour) : QBrush());
    }
}
