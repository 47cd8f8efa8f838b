#pragma once
// Finding the module from the window: the search in a window of its own, holding the line
// with the window's port closed while it runs, and "使用此设置" taking the result into the
// port lists, comm.set and the address boxes.

#include <QObject>
#include <QPointer>

class FindModuleDialog;
class frmMain;
struct SearchResult;

class SearchTool : public QObject {
    Q_OBJECT
public:
    explicit SearchTool(frmMain &window);

    // "查找模块…": opens the search, or brings its window forward while it is open.
    void Open();

private:
    // "使用此设置": the found port and rate selected and saved, the address filled in.
    void UseFound(const SearchResult &result);

    frmMain &window_;
    QPointer<FindModuleDialog> dialog_;
};
