// Finding the module: the search's window, the line lent to it with the window's own port
// closed, and the result taken into the port lists, comm.set and the address boxes.

#include "searchtool.h"

#include "app/frmMain.h"
#include "app/linelease.h"
#include "extras/toolwindow.h"
#include "findmoduledialog.h"
#include "modulesearch.h"

SearchTool::SearchTool(frmMain &window) : QObject(&window), window_(window) {}

void SearchTool::Open() {
    const bool running = dialog_;
    toolwindow::ShowOrMake(dialog_.data(), [this]() -> FindModuleDialog * {
        frmMain &w = window_;
        // The search opens the devices itself: the window's port is closed while it runs.
        if (const auto refusal =
                w.Lease->Take(this, QStringLiteral("查找模块"), LineLease::Need::Device)) {
            w.MsgBox(*refusal, MsgIcon::Warning, QStringLiteral("系统提示"));
            return nullptr;
        }
        dialog_ = new FindModuleDialog(SearchCandidates(w.Place()), &w);
        connect(dialog_, &FindModuleDialog::UseRequested, this, &SearchTool::UseFound);
        connect(dialog_, &FindModuleDialog::Closed, this,
                [this] { window_.Lease->GiveBack(this); });
        return dialog_;
    });
    if (!running && dialog_)
        dialog_->Start(); // once shown, so that the focus lands where it puts it
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
