#pragma once
// "查找模块": the search in a window of its own, holding the main window's line with its port
// closed while it runs. It shows which device and rate are being tried, then where the
// module is, or what was tried and why nothing answered; "使用此设置" takes the result into
// the port lists, comm.set and the address boxes. The search runs in the event loop, so the
// main window stays responsive.

#include "modulesearch.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class frmMain;

class FindModuleDialog : public QWidget {
    Q_OBJECT
public:
    FindModuleDialog(QList<SearchCandidate> candidates, frmMain &window);

    // "查找模块…": starts a search, or brings the running one forward; nothing, after saying
    // why, while another tool holds the line.
    static FindModuleDialog *Open(frmMain &window);

    QLabel *status;
    QProgressBar *progress;
    QPlainTextEdit *report;    // what was tried, when nothing answered
    QPushButton *useButton;    // "使用此设置", enabled once the module is found
    QPushButton *cancelButton; // "取消" while searching, "关闭" afterwards

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void ShowTrying(const SearchCandidate &candidate, std::int16_t rate, int step);
    void ShowFinished(const SearchResult &result);
    // "使用此设置": the found port and rate selected and saved, the address filled in.
    void UseFound();

    frmMain &window_;
    ModuleSearch *search_;
    SearchResult result_;
};
