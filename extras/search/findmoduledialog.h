#pragma once
// "查找模块": the search in a window of its own. It shows which device and rate are being
// tried, then where the module is, or what was tried and why nothing answered. The search
// runs in the event loop, so the main window stays responsive; what the main window does
// with the result is its own business (UseRequested, Closed).

#include "modulesearch.h"

#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class FindModuleDialog : public QWidget {
    Q_OBJECT
public:
    FindModuleDialog(QList<SearchCandidate> candidates, QWidget *parent);

    void Start();

    QLabel *status;
    QProgressBar *progress;
    QPlainTextEdit *report;    // what was tried, when nothing answered
    QPushButton *useButton;    // "使用此设置", enabled once the module is found
    QPushButton *cancelButton; // "取消" while searching, "关闭" afterwards

signals:
    void UseRequested(const SearchResult &result);
    // However it was closed; the search is over by then.
    void Closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void ShowTrying(const SearchCandidate &candidate, std::int16_t rate, int step);
    void ShowFinished(const SearchResult &result);

    ModuleSearch *search_;
    SearchResult result_;
};
