#include "linecalibrationwindow.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/bus/knownmodules.h"
#include "extras/toolwindow.h"
#include "serial/mscomm.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

using namespace calibration;

namespace {

constexpr int kRefreshMs = 250;

} // namespace

LineCalibrationWindow::LineCalibrationWindow(frmMain &window)
    : BusToolWindow(
          window, QStringLiteral("LineCalibrationWindow"), Title(), QStringLiteral("开始测量(&S)"),
          QStringLiteral("把所有模块与参考仪器置于同一照度下，输入参考值，然后按“开始测量”。"),
          QStringLiteral("整线校准状态")),
      flow_(new LineCalibration(this)), refresh_(new QTimer(this)) {
    auto *fields = new QGroupBox(QStringLiteral("参考与记录"), this);
    auto *form = new QFormLayout(fields);
    const auto add = [this, form](const QString &caption) {
        const auto [label, box] = toolwindow::LabelledBox(this, caption, false);
        form->addRow(label, box);
        return box;
    };
    addressBox = add(QStringLiteral("地址(&A)"));
    referenceBox = add(QStringLiteral("参考值(&R)"));
    toleranceBox = add(QStringLiteral("允许误差(%)(&T)"));
    secondsBox = add(QStringLiteral("测量时间(s)(&M)"));
    operatorBox = add(QStringLiteral("操作员(&O)"));
    instrumentBox = add(QStringLiteral("参考仪器(&I)"));
    instrumentCertificateBox = add(QStringLiteral("参考仪器证书编号(&N)"));
    dueBox = add(QStringLiteral("参考仪器有效期至(&D)"));
    uncertaintyBox = add(QStringLiteral("参考仪器扩展不确定度(%)(&U)"));
    temperatureBox = add(QStringLiteral("温度(℃)(&Y)"));
    humidityBox = add(QStringLiteral("相对湿度(%)(&H)"));
    numberBox = add(QStringLiteral("证书编号(&C)"));
    addressBox->setPlaceholderText(QStringLiteral("如 3,5,7-9"));
    referenceBox->setToolTip(QStringLiteral("参考仪器在此照度下的读数，与模块同一单位"));
    dueBox->setPlaceholderText(QStringLiteral("如 2027-06-30"));
    uncertaintyBox->setToolTip(
        QStringLiteral("参考仪器证书上的扩展不确定度（k = 2），以读数的百分数计"));
    numberBox->setToolTip(QStringLiteral("第一个模块的证书编号，其后的模块依次加一"));
    toleranceBox->setText(QStringLiteral("2"));
    secondsBox->setText(QStringLiteral("10"));
    numberBox->setText(QStringLiteral("LC-0001"));
    overdueLine = toolwindow::StatusLine(this, QString(), QStringLiteral("参考仪器有效期"));
    overdueLine->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));

    table = toolwindow::Table(this, QStringLiteral("各模块"), Columns());
    // Several modules may be restored at once: Ctrl and Shift add rows, as in a file list.
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Room for ten modules without scrolling.
    table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() +
                            10 * table->verticalHeader()->defaultSectionSize() +
                            2 * table->frameWidth());
    QLabel *labelCaption;
    std::tie(labelCaption, labelBox) =
        toolwindow::LabelledBox(this, QStringLiteral("所选模块的标签或序列号(&B)"), false);
    history = new QPlainTextEdit(this);
    history->setReadOnly(true);
    history->setAccessibleName(QStringLiteral("所选模块的历史校准"));
    history->setTabChangesFocus(true);
    history->setMaximumHeight(history->fontMetrics().height() * 6);
    history->setPlaceholderText(QStringLiteral("输入标签后在此列出该模块以往的校准"));

    writeButton = toolwindow::Button(this, QStringLiteral("写入新系数(&W)"));
    levelButton = toolwindow::Button(this, QStringLiteral("测量此点(&L)"));
    restoreButton = toolwindow::Button(this, QStringLiteral("恢复所选模块原值(&E)"));
    finishButton = toolwindow::Button(this, QStringLiteral("完成并保存证书…(&F)"));

    auto *layout = new QGridLayout(this);
    auto *right = new QVBoxLayout;
    right->addWidget(status);
    right->addWidget(overdueLine);
    right->addWidget(labelCaption);
    right->addWidget(labelBox);
    right->addWidget(history);
    right->addStretch();
    layout->addWidget(fields, 0, 0);
    layout->addLayout(right, 0, 1, 1, 5);
    layout->addWidget(table, 1, 0, 1, 6);
    QPushButton *buttons[] = {startButton,   writeButton,  levelButton,
                              restoreButton, finishButton, closeButton};
    int column = 0;
    for (QPushButton *button : buttons)
        layout->addWidget(button, 2, column++);
    layout->setRowStretch(1, 1);
    layout->setColumnStretch(1, 1);
    setMinimumWidth(1240);
    toolwindow::TabOrder({addressBox,
                          referenceBox,
                          toleranceBox,
                          secondsBox,
                          operatorBox,
                          instrumentBox,
                          instrumentCertificateBox,
                          dueBox,
                          uncertaintyBox,
                          temperatureBox,
                          humidityBox,
                          numberBox,
                          status,
                          overdueLine,
                          labelBox,
                          history,
                          table,
                          startButton,
                          writeButton,
                          levelButton,
                          restoreButton,
                          finishButton,
                          closeButton});

    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &LineCalibrationWindow::ShowFlow);
    connect(startButton, &QPushButton::clicked, this, &LineCalibrationWindow::StartOrStop);
    connect(writeButton, &QPushButton::clicked, this, &LineCalibrationWindow::WriteProposals);
    connect(levelButton, &QPushButton::clicked, this, &LineCalibrationWindow::MeasureLevel);
    connect(restoreButton, &QPushButton::clicked, this, &LineCalibrationWindow::Restore);
    connect(finishButton, &QPushButton::clicked, this, &LineCalibrationWindow::ChooseFolder);
    connect(dueBox, &QLineEdit::textChanged, this, &LineCalibrationWindow::ShowOverdue);
    connect(table, &QTableWidget::itemSelectionChanged, this, [this] {
        const int row = table->currentRow();
        labelBox->setText(row >= 0 && std::size_t(row) < flow_->Modules().size()
                              ? flow_->Modules()[std::size_t(row)].label
                              : QString());
        ShowHistory();
    });
    connect(labelBox, &QLineEdit::textEdited, this, [this](const QString &label) {
        if (const int row = table->currentRow(); row >= 0)
            flow_->SetLabel(std::size_t(row), label);
        ShowFlow();
        ShowHistory();
    });
    connect(flow_, &LineCalibration::Changed, this, &LineCalibrationWindow::ShowFlow);
    connect(flow_, &LineCalibration::ReadingTaken, this, &LineCalibrationWindow::ReadingTaken);
    connect(flow_, &LineCalibration::StepEnded, this, [this] {
        Release();
        table->resizeColumnsToContents();
    });
    SetAsker([this](const QString &question) {
        return QMessageBox::question(this, Title(), question) == QMessageBox::Yes;
    });
    Remember(false);
    ShowFlow();
}

LineCalibrationWindow *LineCalibrationWindow::Open(frmMain &window) {
    auto *shown = toolwindow::ShowOne<LineCalibrationWindow>(
        window, [&window] { return new LineCalibrationWindow(window); });
    // The modules a scan or the assistant has met since, unless a list is typed.
    if (shown->addressBox->text().isEmpty())
        shown->addressBox->setText(bus::AddressesText(bus::KnownModules::Of(window).Sorted()));
    shown->addressBox->setFocus();
    return shown;
}

void LineCalibrationWindow::Tell(const QString &text) {
    status->setText(text);
    window_.MsgBox(text, MsgIcon::Warning, Title());
}

void LineCalibrationWindow::TakeLine(const std::function<void()> &step) {
    if (line_)
        return; // a step holds it already, or waits for it
    if (const auto held = window_.Lease->Take(this, Title(), LineLease::Need::Device, this)) {
        Tell(*held);
        return;
    }
    line_ = OpenOwnLine(WindowRate());
    if (!line_) {
        Tell(status->text());
        return;
    }
    connect(line_.get(), &bus::BusLine::Lost, this, &LineCalibrationWindow::End);
    ShowRunning(true);
    refresh_->start();
    ShowFlow();
    const auto begin = [this, step] {
        step();
        if (!flow_->Busy() && line_)
            Release(); // the flow took no step: nothing holds the line
    };
    // A network port connects in the background; a request before that would be lost.
    if (line_->Ready())
        begin();
    else
        connect(line_.get(), &bus::BusLine::Opened, this, begin, Qt::SingleShotConnection);
}

void LineCalibrationWindow::Release() {
    refresh_->stop();
    if (line_)
        GiveLineBack(line_);
    ShowRunning(false);
    ShowFlow();
}

void LineCalibrationWindow::StartOrStop() {
    if (flow_->Busy() || line_) {
        End(QStringLiteral("已停止"));
        return;
    }
    const auto parsed = bus::ParseAddresses(addressBox->text());
    if (const auto *why = std::get_if<QString>(&parsed)) {
        Tell(*why);
        addressBox->setFocus();
        return;
    }
    auto setup = Setup();
    const auto reference = setup ? Reference() : std::nullopt;
    if (!reference)
        return;
    if (Overdue(*setup, QDate::currentDate())) {
        if (!asker_(QStringLiteral("参考仪器的有效期至 %1，已经过期。仍要用它校准吗？")
                        .arg(setup->instrumentDue.toString(DateFormat()))))
            return;
        setup->overdueConfirmed = true;
    }
    Remember(true);
    TakeLine([this, setup = *setup, addresses = std::get<QList<int>>(parsed), reference] {
        flow_->Begin(setup, addresses);
        table->setRowCount(0);
        flow_->MeasureFound(*line_, *reference);
    });
}

void LineCalibrationWindow::WriteProposals() {
    if (flow_->Busy() || !flow_->CanWrite())
        return;
    const QList<int> unstable = flow_->UnstableAddresses();
    const bool unstableToo =
        !unstable.isEmpty() &&
        asker_(QStringLiteral("地址 %1 的测量不稳定（读数的标准差或漂移超过允许误差带的四分之一）。"
                              "仍要把新系数写入这些模块吗？选“否”则只写入其他模块。")
                   .arg(bus::AddressesText(unstable)));
    TakeLine([this, unstableToo] { flow_->WriteProposals(*line_, unstableToo); });
}

void LineCalibrationWindow::MeasureLevel() {
    if (flow_->Busy() || !flow_->Open())
        return;
    if (const auto reference = Reference())
        TakeLine([this, reference] { flow_->MeasureLevel(*line_, *reference); });
}

void LineCalibrationWindow::Restore() {
    if (flow_->Busy() || !flow_->Open())
        return;
    QList<int> rows;
    for (const QModelIndex &index : table->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty()) {
        Tell(QStringLiteral("请先在表中选择要恢复原值的模块。"));
        return;
    }
    if (std::ranges::none_of(rows,
                             [this](int row) { return flow_->Restorable(std::size_t(row)); })) {
        Tell(QStringLiteral("所选模块未写入过新系数，无需恢复原值。"));
        return;
    }
    TakeLine([this, rows] { flow_->Restore(*line_, rows); });
}

bool LineCalibrationWindow::FinishInto(const QString &folder) {
    if (!flow_->Open() || flow_->Busy())
        return false;
    QList<int> unlabelled;
    bool measured = false;
    for (const ModuleRecord &m : flow_->Modules()) {
        measured = measured || !m.levels.empty();
        if (!m.levels.empty() && m.label.isEmpty())
            unlabelled << m.address;
    }
    if (!measured) {
        Tell(QStringLiteral("还没有模块测量完成，没有可保存的证书。"));
        return false;
    }
    if (!unlabelled.isEmpty()) {
        Tell(
            QStringLiteral("请为每个模块填写标签或序列号（在表中选中模块后输入）：地址 %1 未填写。")
                .arg(bus::AddressesText(unlabelled)));
        labelBox->setFocus();
        return false;
    }
    QString number = numberBox->text().trimmed();
    if (!NextCertificateNumber(number)) {
        Tell(QStringLiteral("证书编号应以数字结尾，如 LC-2026-0001。"));
        numberBox->setFocus();
        return false;
    }
    // Another calibration's certificates may carry these numbers: not replaced unasked.
    if (const QStringList existing = flow_->ExistingCertificates(folder, number);
        !existing.isEmpty() &&
        !asker_(
            QStringLiteral("以下证书文件已经存在：\n%1\n要覆盖它们吗？").arg(existing.join(u'\n'))))
        return false;
    QDir().mkpath(folder);
    const auto failure = flow_->Finish(folder, number);
    numberBox->setText(number);
    Remember(true);
    ShowFlow();
    if (failure) {
        Tell(QStringLiteral("有些证书或记录未能写入：\n") + *failure);
        return false;
    }
    status->setText(
        QStringLiteral("校准已完成，证书已保存到 %1，记录已写入 %2。")
            .arg(QDir::toNativeSeparators(folder), QDir::toNativeSeparators(flow_->LogPath())));
    return true;
}

void LineCalibrationWindow::ChooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("保存证书的文件夹"), QDir(flow_->LogPath()).absolutePath());
    if (!folder.isEmpty())
        FinishInto(folder);
}

void LineCalibrationWindow::End(const QString &why) {
    if (flow_->Busy())
        flow_->Stop(why); // StepEnded gives the line back
    else if (line_)
        Release();
}

void LineCalibrationWindow::closeEvent(QCloseEvent *event) {
    BusToolWindow::closeEvent(event);
    // What was measured goes into the log, as a single module's calibration does.
    flow_->GiveUp(QStringLiteral("窗口关闭，校准未完成"));
}
