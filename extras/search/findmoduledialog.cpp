#include "findmoduledialog.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/toolwindow.h"
#include "searchreasons.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

FindModuleDialog::FindModuleDialog(QList<SearchCandidate> candidates, frmMain &window)
    : QWidget(&window, Qt::Window), window_(window),
      search_(new ModuleSearch(std::move(candidates), this)) {
    toolwindow::Prepare(*this, QStringLiteral("FindModuleDialog"), QStringLiteral("查找模块"));
    setAttribute(Qt::WA_DeleteOnClose);

    status = new QLabel(QStringLiteral("准备查找…"), this);
    // Its text is what a screen reader is to say: the field is described, never renamed.
    status->setAccessibleDescription(QStringLiteral("查找状态"));
    status->setFocusPolicy(Qt::TabFocus); // a screen reader reaches it with Tab
    status->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    progress = new QProgressBar(this);
    progress->setAccessibleName(QStringLiteral("查找进度"));
    progress->setFocusPolicy(Qt::TabFocus);
    progress->setRange(0, std::max(1, search_->Steps()));
    progress->setValue(0);
    report = new QPlainTextEdit(this);
    report->setAccessibleName(QStringLiteral("查找报告"));
    report->setReadOnly(true);
    report->setTabChangesFocus(true);
    report->setMinimumHeight(160);
    report->setVisible(false);
    useButton = toolwindow::Button(this, QStringLiteral("使用此设置"));
    useButton->setEnabled(false);
    cancelButton = toolwindow::Button(this, QStringLiteral("取消"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(useButton);
    buttons->addWidget(cancelButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(status);
    layout->addWidget(progress);
    layout->addWidget(report, 1);
    layout->addLayout(buttons);
    setMinimumWidth(520);

    connect(search_, &ModuleSearch::Trying, this, &FindModuleDialog::ShowTrying);
    connect(search_, &ModuleSearch::Finished, this, &FindModuleDialog::ShowFinished);
    connect(useButton, &QPushButton::clicked, this, &FindModuleDialog::UseFound);
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
}

FindModuleDialog *FindModuleDialog::Open(frmMain &window) {
    // One that is closed is on its way out: a new search starts.
    auto *open = window.findChild<FindModuleDialog *>(QString(), Qt::FindDirectChildrenOnly);
    if (open && !open->isVisible())
        open = nullptr;
    auto *shown = toolwindow::ShowOrMake(open, [&window]() -> FindModuleDialog * {
        // Refused before the devices are listed: while another tool has the line, nothing
        // is looked at or made.
        if (const auto refusal = window.Lease->Refusal(nullptr)) {
            window.MsgBox(*refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
            return nullptr;
        }
        auto *made = new FindModuleDialog(SearchCandidates(window.Place()), window);
        // The search opens the devices itself: the window's port is closed while it runs, and
        // opened again when the dialog closes.
        window.Lease->Take(made, QStringLiteral("查找模块"), LineLease::Need::Device, made);
        return made;
    });
    if (shown && shown != open) { // once shown, so that the focus lands on "取消"
        shown->cancelButton->setFocus();
        shown->search_->Start();
    }
    return shown;
}

void FindModuleDialog::ShowTrying(const SearchCandidate &candidate, std::int16_t rate, int step) {
    status->setText(QStringLiteral("正在尝试 %1，波特率 %2").arg(DeviceText(candidate)).arg(rate));
    progress->setValue(step);
}

void FindModuleDialog::ShowFinished(const SearchResult &result) {
    result_ = result;
    progress->setValue(progress->maximum());
    cancelButton->setText(QStringLiteral("关闭"));
    cancelButton->setAccessibleName(QStringLiteral("关闭"));
    if (result.cancelled)
        return;
    if (!result.found) {
        status->setText(QStringLiteral("没有模块应答。"));
        report->setPlainText(NothingFoundReport(result, ReportLanguage::Chinese));
        report->setVisible(true);
        adjustSize(); // room for the report
        cancelButton->setFocus();
        return;
    }
    QString found = QStringLiteral("在 %1 找到模块：地址 %2，波特率 %3")
                        .arg(DeviceText(result.where))
                        .arg(result.address)
                        .arg(result.rate);
    if (result.echoes)
        found += QStringLiteral("\n适配器回显发送数据，已自动忽略");
    status->setText(found);
    useButton->setEnabled(true);
    useButton->setDefault(true);
    useButton->setFocus();
}

void FindModuleDialog::UseFound() {
    const FoundPort found = PortForFound(result_.where, window_.Place());
    if (found.port == 0) {
        window_.MsgBox(QStringLiteral("没有可用于该设备的串口号：") + found.message,
                       MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    window_.Lease->KeepPort();
    window_.UseSettings(static_cast<std::int16_t>(found.port), result_.rate,
                        static_cast<std::uint8_t>(result_.address));
    close();
}

void FindModuleDialog::closeEvent(QCloseEvent *event) {
    search_->Cancel(); // closes the device before the window's port opens again
    event->accept();
}
