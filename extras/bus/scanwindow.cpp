#include "scanwindow.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/search/modulesearch.h"
#include "extras/toolwindow.h"
#include "knownmodules.h"
#include "serial/mscomm.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kAddresses = bus::kLastAddress - bus::kFirstAddress + 1;

} // namespace

ScanWindow::ScanWindow(frmMain &window)
    : BusToolWindow(window, QStringLiteral("ScanWindow"), QStringLiteral("扫描总线"),
                    QStringLiteral("开始扫描(&S)"),
                    QStringLiteral("读出地址 %1 到 %2 的寄存器 0。")
                        .arg(bus::kFirstAddress)
                        .arg(bus::kLastAddress),
                    QStringLiteral("扫描状态")) {
    allRates = new QCheckBox(QStringLiteral("所有波特率(&A)"), this);
    allRates->setAccessibleName(QStringLiteral("所有波特率"));
    progress = new QProgressBar(this);
    progress->setAccessibleName(QStringLiteral("扫描进度"));
    progress->setFocusPolicy(Qt::TabFocus);
    progress->setValue(0);
    table =
        toolwindow::Table(this, QStringLiteral("扫描结果"),
                          {QStringLiteral("地址"), QStringLiteral("波特率"), QStringLiteral("读数"),
                           QStringLiteral("应答时间(ms)"), QStringLiteral("说明")});
    table->setMinimumHeight(200);
    useButton = toolwindow::Button(this, QStringLiteral("使用此模块(&U)"));
    useButton->setEnabled(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(allRates);
    buttons->addStretch();
    buttons->addWidget(startButton);
    buttons->addWidget(useButton);
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(status);
    layout->addWidget(progress);
    layout->addWidget(table, 1);
    layout->addLayout(buttons);
    setMinimumWidth(560);

    toolwindow::TabOrder({status, progress, table, allRates, startButton, useButton, closeButton});
    connect(startButton, &QPushButton::clicked, this, &ScanWindow::StartOrStop);
    connect(useButton, &QPushButton::clicked, this, &ScanWindow::UseChosen);
    connect(table, &QTableWidget::itemSelectionChanged, this,
            [this] { useButton->setEnabled(!line_ && Chosen()); });
    connect(table, &QTableWidget::cellActivated, this, [this] { UseChosen(); });
}

ScanWindow *ScanWindow::Open(frmMain &window) {
    auto *shown =
        toolwindow::ShowOne<ScanWindow>(window, [&window] { return new ScanWindow(window); });
    shown->startButton->setFocus();
    return shown;
}

void ScanWindow::StartOrStop() {
    if (line_)
        End(QStringLiteral("扫描已停止。"));
    else
        Start();
}

void ScanWindow::Start() {
    if (const auto refusal =
            window_.Lease->Take(this, QStringLiteral("扫描总线"), LineLease::Need::Device, this)) {
        window_.MsgBox(*refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    port_ = window_.MSComm1->commPort();
    const std::int32_t rate = WindowRate();
    rates_ = {rate};
    // A serial device server's rate is set on the server: there is only one to try.
    if (allRates->isChecked() && !TcpLinkOf(port_, window_.Place()))
        rates_ = QList<std::int32_t>(kSearchRates.begin(), kSearchRates.end());
    line_ = OpenOwnLine(rates_.front());
    if (!line_)
        return;
    connect(line_.get(), &bus::BusLine::Answered, this, &ScanWindow::Take);
    connect(line_.get(), &bus::BusLine::Lost, this, &ScanWindow::End);
    connect(line_.get(), &bus::BusLine::Opened, this, &ScanWindow::AskNext);
    table->setRowCount(0);
    rows_.clear();
    step_ = found_ = garbled_ = noisy_ = 0;
    progress->setRange(0, static_cast<int>(rates_.size()) * kAddresses);
    ShowRunning(true);
    useButton->setEnabled(false);
    if (line_->Ready())
        AskNext();
}

void ScanWindow::AskNext() {
    if (!line_)
        return;
    if (step_ >= progress->maximum()) {
        End(QStringLiteral("扫描完成：%1 个模块应答").arg(found_) +
            (garbled_ ? QStringLiteral("，%1 个地址可能有两个模块").arg(garbled_) : QString()) +
            (noisy_ ? QStringLiteral("，%1 次只收到不完整的字节（噪声或波特率不符）").arg(noisy_)
                    : QString()) +
            u'。');
        return;
    }
    const std::int32_t rate = rates_[step_ / kAddresses];
    const int address = bus::kFirstAddress + step_ % kAddresses;
    if (rate != line_->Rate() && !line_->SetRate(rate)) {
        step_ = (step_ / kAddresses + 1) * kAddresses; // the device takes no such rate
        AskNext();
        return;
    }
    status->setText(QStringLiteral("正在读地址 %1，波特率 %2").arg(address).arg(rate));
    progress->setValue(step_);
    line_->Ask(static_cast<std::uint8_t>(address), bus::BusLine::Patience::WholeWait);
}

void ScanWindow::Take(const bus::Answer &answer) {
    const std::int32_t rate = line_->Rate();
    const QString ms = QString::number(answer.ms, 'f', 1);
    Found module{0, rate};
    QStringList row{QString::number(answer.asked), QString::number(rate)};
    switch (answer.judged.heard) {
    case bus::Heard::Reply:
        row << bus::ReadingText(answer.judged.value) << ms << QString();
        module.address = answer.asked;
        break;
    case bus::Heard::Exception:
        row << QString() << ms << QStringLiteral("异常应答 %1").arg(answer.judged.value);
        module.address = answer.asked;
        break;
    case bus::Heard::Garbled:
        row << QString() << QString() << QStringLiteral("可能有两个模块使用同一地址");
        ++garbled_;
        break;
    case bus::Heard::Short:
        ++noisy_; // noise, or a module at another rate: nobody to list
        row.clear();
        break;
    case bus::Heard::WrongAddress:
        row << QString() << ms << QStringLiteral("应答来自地址 %1").arg(answer.judged.from);
        break;
    default:
        row.clear(); // silent: nobody there
        break;
    }
    if (!row.isEmpty()) {
        toolwindow::SetRow(table, table->rowCount(), row);
        rows_.append(module);
    }
    if (module.address) {
        ++found_;
        bus::KnownModules::Of(window_).Add(module.address);
    }
    ++step_;
    AskNext();
}

void ScanWindow::End(const QString &why) {
    if (!line_)
        return;
    GiveLineBack(line_);
    status->setText(why);
    if (step_ >= progress->maximum())
        progress->setValue(progress->maximum());
    ShowRunning(false);
    if (!rows_.isEmpty()) {
        table->selectRow(0);
        table->setFocus();
    }
    useButton->setEnabled(Chosen() != nullptr);
    emit Finished();
}

const ScanWindow::Found *ScanWindow::Chosen() const {
    const int row = table->currentRow();
    return row >= 0 && row < rows_.size() && rows_[row].address ? &rows_[row] : nullptr;
}

void ScanWindow::UseChosen() {
    const Found *chosen = Chosen();
    if (line_ || !chosen)
        return;
    window_.UseSettings(port_, chosen->rate, static_cast<std::uint8_t>(chosen->address));
    close();
}
