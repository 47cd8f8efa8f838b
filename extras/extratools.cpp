#include "extratools.h"

#include "app/appinfo.h"
#include "app/frmMain.h"
#include "bus/assignwindow.h"
#include "bus/overviewwindow.h"
#include "bus/scanwindow.h"
#include "calibrate/calibrationwindow.h"
#include "calibrate/linecalibrationwindow.h"
#include "record/recordtool.h"
#include "search/findmoduledialog.h"
#include "trend/trendwindow.h"

#include <QAction>
#include <QMenu>
#include <QMessageBox>

ExtraTools::ExtraTools(frmMain &window)
    : QObject(&window), window_(window), record_(new RecordTool(window)) {
    tools_ = window.ToolsMenu;
    // One line a tool, in the order the menu lists them.
    AddTool(QStringLiteral("查找模块…"), QKeySequence(Qt::CTRL | Qt::Key_F),
            [this] { FindModuleDialog::Open(window_); });
    QAction *record = AddTool(QStringLiteral("开始记录…"), QKeySequence(Qt::CTRL | Qt::Key_R),
                              [this] { record_->Toggle(); });
    connect(record_, &RecordTool::RecordingChanged, record, [record](bool recording) {
        record->setText(recording ? QStringLiteral("停止记录") : QStringLiteral("开始记录…"));
    });
    AddTool(QStringLiteral("趋势图…"), QKeySequence(Qt::CTRL | Qt::Key_T),
            [this] { TrendWindow::Open(window_); });
    AddTool(QStringLiteral("校准…"), QKeySequence(Qt::CTRL | Qt::Key_K),
            [this] { CalibrationWindow::Open(window_); });
    tools_->addSeparator();
    AddTool(QStringLiteral("扫描总线…"), QKeySequence(Qt::CTRL | Qt::Key_B),
            [this] { ScanWindow::Open(window_); });
    AddTool(QStringLiteral("分配地址…"), QKeySequence(Qt::CTRL | Qt::Key_D),
            [this] { AssignWindow::Open(window_); });
    AddTool(QStringLiteral("总线总览…"), QKeySequence(Qt::CTRL | Qt::Key_L), [this] {
        // Its readings are recorded as the window's are.
        connect(OverviewWindow::Open(window_), &OverviewWindow::ReadingTaken, record_,
                &RecordTool::AddReading, Qt::UniqueConnection);
    });
    AddTool(QStringLiteral("整线校准…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), [this] {
        connect(LineCalibrationWindow::Open(window_), &LineCalibrationWindow::ReadingTaken, record_,
                &RecordTool::AddReading, Qt::UniqueConnection);
    });

    connect(window.HelpMenu->addAction(QStringLiteral("关于…")), &QAction::triggered, this,
            &ExtraTools::ShowAbout);

    connect(&window, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { tools_->exec(window_.mapToGlobal(at)); });
}

QAction *ExtraTools::AddTool(const QString &text, const QKeySequence &keys,
                             std::function<void()> open) {
    QAction *action = tools_->addAction(text);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    window_.addAction(action); // the shortcut works while the menu is closed
    connect(action, &QAction::triggered, this, std::move(open));
    return action;
}

void ExtraTools::ShowAbout() {
    QMessageBox::about(
        &window_, QStringLiteral("关于"),
        QStringLiteral("<p><b>%1</b> %2</p>"
                       "<p>Modbus RTU 传感器模块的调试与校准工具。</p>"
                       "<p>本程序是自由软件，依据 GNU 通用公共许可证第 3 版或（由您选择）任何"
                       "更高版本（GPL-3.0-or-later）发布，不提供任何担保。</p>"
                       "<p>源代码与每个安装包一同发布：sensor-companion-%2-source.tar.gz。</p>")
            .arg(appinfo::Title(), QStringLiteral(SC_VERSION)));
}
