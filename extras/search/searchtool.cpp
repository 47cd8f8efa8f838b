// Finding the module: the search's window, the window's own port closed while it runs, and
// the result taken into the port lists, comm.set and the address boxes.

#include "searchtool.h"

#include "app/frmMain.h"
#include "app/runtime.h"
#include "findmoduledialog.h"
#include "modulesearch.h"
#include "serial/mscomm.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

SearchTool::SearchTool(frmMain &window) : QObject(&window), window_(window) {}

void SearchTool::Open() {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    frmMain &w = window_;
    // The search needs the line to itself: no polls, and the port free for it to open.
    // A network port still connecting counts as open: it is to connect again afterwards.
    before_ = {w.MSComm1->portOpen() || w.MSComm1->portConnecting(), w.Timer2->isActive(),
               w.FrontLamp(), false};
    w.Timer2->stop();
    w.MSComm1->setPortOpen(false);
    w.ShowLamp(w.imgNotConnected);
    w.Frame5->setEnabled(false); // choosing a port now would take the line from the search

    dialog_ = new FindModuleDialog(SearchCandidates(w.Place()), &w);
    connect(dialog_, &FindModuleDialog::UseRequested, this, &SearchTool::UseFound);
    connect(dialog_, &FindModuleDialog::Closed, this, &SearchTool::End);
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
    before_.resultTaken = true;
    const QString rate = rt::DecimalText(result.rate);
    for (int i = 0; i < w.Combo2->count(); ++i) { // the list holds every rate searched
        if (w.Combo2->itemText(i) == rate)
            w.Combo2->SelectEntry(i);
    }
    const QString address = rt::DecimalText(result.address);
    w.txtStationID->setText(address);
    w.txtSetID(0)->setText(address);
    w.Combo1->SelectEntry(found.port - 1);
    w.cmdCom_Click(); // saved exactly as "保存设置" saves, with its message
    if (dialog_)
        dialog_->close();
}

void SearchTool::End() {
    frmMain &w = window_;
    w.Frame5->setEnabled(true);
    if (!before_.resultTaken && before_.portOpen) {
        w.MSComm1->setPortOpen(true);
        w.OpenOnComm();
    }
    if (!before_.resultTaken && before_.lamp && w.MSComm1->portOpen())
        w.ShowLamp(before_.lamp);
    if (before_.polling)
        w.Timer2->start();
}
