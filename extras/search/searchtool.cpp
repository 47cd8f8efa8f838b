// Finding the module: the search's window, the line lent to it with the window's own port
// closed, and the result taken into the port lists, comm.set and the address boxes.

#include "searchtool.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "findmoduledialog.h"
#include "modulesearch.h"

SearchTool::SearchTool(frmMain &window) : QObject(&window), window_(window) {}

void SearchTool::Open() {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    frmMain &w = window_;
    // The search opens the devices itself: the window's port is closed while it runs.
    if (const auto refusal =
            w.Lease->Take(this, QStringLiteral("查找模块"), LineLease::Need::Device)) {
        w.MsgBox(*refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
        return;
    }
    dialog_ = new FindModuleDialog(SearchCandidates(w.Place()), &w);
    connect(dialog_, &FindModuleDialog::UseRequested, this, &SearchTool::UseFound);
    connect(dialog_, &FindModuleDialog::Closed, this, [this] { window_.Lease->GiveBack(this); });
    dialog_->show();
    dialog_->activateWindow();
    dialog_->Start();
}

void SearchTool::UseFound(const SearchResult &result) {
    frmMain &w = window_;
    const FoundPort found = PortForFound(result.where, w.Place());
    if (found.port == 0) {
        w.MsgBox(QStringLiteral("没有可用于该设备的串口号：") + found.message, MsgIcon::Warning,
                 QStringLiteral("系统提示"));
        return;
    }
    w.Lease->KeepPort();
    w.UseSettings(static_cast<std::int16_t>(found.port), result.rate,
                  static_cast<std::uint8_t>(result.address));
    if (dialog_)
        dialog_->close();
}
