// The window's own menu (right-click, or the menu key): the tools that open in windows of
// their own. Each tool's action also carries a shortcut that works anywhere in the window.
// Text boxes keep their edit menu: they take the right-click themselves.

#include "frmMain.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>

void frmMain::buildToolsMenu() {
    ToolsMenu = new QMenu(this);
    ToolsMenu->setObjectName(QStringLiteral("ToolsMenu"));
    ToolsMenu->setAccessibleName(QStringLiteral("工具"));
    // One line a tool, in the order the menu lists them.
    AddTool(QStringLiteral("查找模块…"), QKeySequence(Qt::CTRL | Qt::Key_F),
            &frmMain::FindModule_Click);
    recordAction_ =
        AddTool(QStringLiteral("开始记录…"), Qt::CTRL | Qt::Key_R, &frmMain::Record_Click);
    AddTool(QStringLiteral("趋势图…"), QKeySequence(Qt::CTRL | Qt::Key_T),
            &frmMain::mnuTrend_Click);
}

QAction *frmMain::AddTool(const QString &text, const QKeySequence &keys,
                          void (frmMain::*handler)()) {
    auto *action = ToolsMenu->addAction(text);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    addAction(action); // the shortcut works while the menu is closed
    connect(action, &QAction::triggered, this, handler);
    return action;
}

void frmMain::contextMenuEvent(QContextMenuEvent *event) {
    if (ToolsMenu->isEmpty()) {
        event->ignore();
        return;
    }
    ToolsMenu->exec(event->globalPos());
}
