#pragma once
// Recording: "开始记录…" asks where, then every reading the window decodes and every write the
// module confirms becomes a row of a CSV file until "停止记录". The window's title says that
// it records and into which file. A write that fails stops the recording with one message;
// polling goes on.

#include "recorder.h"

#include <QObject>
#include <QPointer>
#include <QString>

class frmMain;

class RecordTool : public QObject {
    Q_OBJECT
public:
    explicit RecordTool(frmMain &window);

    // "开始记录…" asks for a file and starts recording; "停止记录" stops.
    void Toggle();
    // Records into `path` from now on (appending); a file that cannot be written is
    // reported and leaves the recording off.
    bool Start(const QString &path);
    void Stop();
    bool Recording() const { return recorder_ != nullptr; }
    // A reading a tool took from the line itself, recorded as the window's are.
    void AddReading(const modbus::Reading &reading) {
        if (recorder_)
            recorder_->AddReading(reading);
    }

signals:
    void RecordingChanged(bool recording);

private:
    void ShowState();

    frmMain &window_;
    QPointer<Recorder> recorder_;
};
