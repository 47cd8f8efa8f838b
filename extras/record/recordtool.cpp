#include "recordtool.h"

#include "app/appinfo.h"
#include "app/frmMain.h"
#include "recorder.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

RecordTool::RecordTool(frmMain &window) : QObject(&window), window_(window) {}

void RecordTool::Toggle() {
    if (recorder_) {
        Stop();
        return;
    }
    const QString proposed =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QDateTime::currentDateTime().toString(
                QStringLiteral("'sensor-'yyyyMMdd-HHmmss'.csv'")));
    // Rows are appended to a file that exists, so replacing it is not what is asked.
    const QString path = QFileDialog::getSaveFileName(&window_, QStringLiteral("开始记录"),
                                                      proposed, QStringLiteral("CSV 文件 (*.csv)"),
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        Start(path);
}

bool RecordTool::Start(const QString &path) {
    Stop();
    auto *recorder = new Recorder(this);
    if (const auto reason = recorder->Start(path)) {
        delete recorder;
        window_.MsgBox(
            QStringLiteral("无法记录到 %1：%2").arg(QDir::toNativeSeparators(path), *reason));
        return false;
    }
    recorder_ = recorder;
    connect(&window_, &frmMain::ReadingDecoded, recorder, &Recorder::AddReading);
    connect(&window_, &frmMain::WriteConfirmed, recorder, &Recorder::AddMark);
    // Told after the reply that failed has been handled, not from inside its handler.
    connect(
        recorder, &Recorder::Failed, this,
        [this, failing = QPointer(recorder)](const QString &file, const QString &reason) {
            if (!failing || failing != recorder_)
                return;
            Stop();
            window_.MsgBox(QStringLiteral("记录已停止，无法写入 %1：%2")
                               .arg(QDir::toNativeSeparators(file), reason));
        },
        Qt::QueuedConnection);
    ShowState();
    return true;
}

void RecordTool::Stop() {
    const bool was = recorder_ != nullptr;
    delete recorder_; // syncs and closes the file
    if (was)
        ShowState();
}

void RecordTool::ShowState() {
    window_.setWindowTitle(recorder_ ? appinfo::Caption() + QStringLiteral("  ● 记录中: ") +
                                           QFileInfo(recorder_->Path()).fileName()
                                     : appinfo::Caption());
    emit RecordingChanged(recorder_ != nullptr);
}
