#pragma once
// The tools beyond the window's own elements, attached to it from outside: the window's
// menu bar lists them under "工具" (with "帮助" beside it), and right-clicking the window
// offers the same entries. Each entry's shortcut works anywhere in the window. Text boxes
// keep their own edit menu: they take the right-click themselves.

#include <QObject>

#include <functional>

class QAction;
class QKeySequence;
class QMenu;
class RecordTool;
class frmMain;

class ExtraTools : public QObject {
    Q_OBJECT
public:
    // Attaches every tool to window and fills its menu bar.
    explicit ExtraTools(frmMain &window);

    QMenu *Menu() const { return tools_; }
    RecordTool &Recording() const { return *record_; }

private:
    QAction *AddTool(const QString &text, const QKeySequence &keys, std::function<void()> open);
    void ShowAbout();

    frmMain &window_;
    QMenu *tools_;
    RecordTool *record_;
};
