// Recording: "开始记录…" asks where, then every decoded reading and every write the module
// confirms becomes a row of a CSV file until "停止记录". The title says that it records
// and into which file. A write that fails stops the recording with one message; polling
// goes on.

#include "app/appinfo.h"
#include "app/frmMain.h"
#include "recorder.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>

void frmMain::Record_Click() {
    if (recorder_) {
        StopRecording();
        return;
    }
    const QString proposed =
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .filePath(QDateTime::currentDateTime().toString(
                QStringLiteral("'sensor-'yyyyMMdd-HHmmss'.csv'")));
    // Rows are appended to a file that exists, so replacing it is not what is asked.
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("开始记录"), proposed,
                                                      QStringLiteral("CSV 文件 (*.csv)"), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        StartRecording(path);
}

bool frmMain::StartRecording(const QString &path) {
    StopRecording();
    auto *recorder = new Recorder(this);
    if (const auto reason = recorder->start(path)) {
        delete recorder;
        MsgBox(QStringLiteral("无法记录到 %1：%2").arg(QDir::toNativeSeparators(path), *reason));
        return false;
    }
    recorder_ = recorder;
    connect(this, &frmMain::ReadingDecoded, recorder, &Recorder::addReading);
    connect(this, &frmMain::WriteConfirmed, recorder, &Recorder::addMark);
    // Told after the reply that failed has been handled, not from inside its handler.
    connect(
        recorder, &Recorder::failed, this,
        [this, failing = QPointer(recorder)](const QString &file, const QString &reason) {
            if (!failing || failing != recorder_)
                return;
            StopRecording();
            MsgBox(QStringLiteral("记录已停止，无法写入 %1：%2")
                       .arg(QDir::toNativeSeparators(file), reason));
        },
        Qt::QueuedConnection);
    ShowRecordingState();
    return true;
}

void frmMain::StopRecording() {
    delete recorder_; // syncs and closes the file
    recorder_ = nullptr;
    ShowRecordingState();
}

bool frmMain::Recording() const {
    return recorder_ != nullptr;
}

void frmMain::ShowRecordingState() {
    if (recorder_) {
        setWindowTitle(appinfo::Caption() + QStringLiteral("  ● 记录中: ") +
                       QFileInfo(recorder_->path()).fileName());
        recordAction_->setText(QStringLiteral("停止记录"));
    } else {
        setWindowTitle(appinfo::Caption());
        recordAction_->setText(QStringLiteral("开始记录…"));
    }
}
