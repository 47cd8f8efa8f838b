// Finding the module: the search's window, the window's own port closed while it runs, and
// the result taken into the port lists, comm.set and the address boxes.

#include "app/findmoduledialog.h"
#include "app/frmMain.h"
#include "app/runtime.h"
#include "serial/modulesearch.h"
#include "serial/mscomm.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

void frmMain::FindModule_Click() {
    if (findDialog_) {
        findDialog_->raise();
        findDialog_->activateWindow();
        return;
    }
    // The search needs the line to itself: no polls, and the port free for it to open.
    beforeSearch_ = {MSComm1->portOpen(), Timer2->isActive(), FrontLamp(), false};
    Timer2->stop();
    MSComm1->setPortOpen(false);
    ShowLamp(imgNotConnected);
    Frame5->setEnabled(false); // choosing a port now would take the line from the search

    findDialog_ = new FindModuleDialog(SearchCandidates(place_), this);
    connect(findDialog_, &FindModuleDialog::useRequested, this, &frmMain::UseFoundModule);
    connect(findDialog_, &FindModuleDialog::closed, this, &frmMain::EndFindModule);
    findDialog_->show();
    findDialog_->activateWindow();
    findDialog_->start();
}

void frmMain::UseFoundModule(const SearchResult &result) {
    const FoundPort found = PortForFound(result.where, place_);
    if (found.port == 0) {
        MsgBox(QStringLiteral("没有可用于该设备的串口号：") + found.message, MsgIcon::Warning,
               QStringLiteral("系统提示"));
        return;
    }
    beforeSearch_.resultTaken = true;
    const QString rate = rt::DecimalText(result.rate);
    for (int i = 0; i < Combo2->count(); ++i) { // the list holds every rate searched
        if (Combo2->itemText(i) == rate)
            Combo2->selectEntry(i);
    }
    const QString address = rt::DecimalText(result.address);
    txtStationID->setText(address);
    txtSetID(0)->setText(address);
    Combo1->selectEntry(found.port - 1);
    cmdCom_Click(); // saved exactly as "保存设置" saves, with its message
    if (findDialog_)
        findDialog_->close();
}

void frmMain::EndFindModule() {
    Frame5->setEnabled(true);
    if (!beforeSearch_.resultTaken && beforeSearch_.portOpen) {
        MSComm1->setPortOpen(true);
        OpenOnComm();
    }
    if (!beforeSearch_.resultTaken && beforeSearch_.lamp && MSComm1->portOpen())
        ShowLamp(beforeSearch_.lamp);
    if (beforeSearch_.polling)
        Timer2->start();
}
