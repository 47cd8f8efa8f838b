#pragma once
// "分配地址": new modules, all at the factory address, connected one at a time, each given
// the next address through the window's own address change. For each one it waits until
// something answers at the factory address, checks that exactly one module answers there
// and that the address to give is free, writes, and checks that the module answers at its
// new address and the factory address is silent again. It never writes when two modules
// answer at one address or the address is taken, and says why. Every write is a row of
// 地址分配记录.csv. The window's port stays open and shows the traffic.

#include "busline.h"
#include "bustoolwindow.h"

#include <QTimer>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

class AssignWindow : public BusToolWindow {
    Q_OBJECT
public:
    explicit AssignWindow(frmMain &window);
    static AssignWindow *Open(frmMain &window);

    // Where 地址分配记录.csv is kept: the documents folder unless set.
    void SetLogFolder(const QString &folder) { logFolder_ = folder; }
    QString LogPath() const;

    QLineEdit *factoryBox; // "出厂地址"
    QLineEdit *firstBox;   // "起始地址": the next address to give
    QPlainTextEdit *done;  // the assignments so far

    bool Running() const { return step_ != Step::Idle; }

signals:
    // The assistant says something new in its status line.
    void StatusChanged(const QString &text);

private:
    enum class Step { Idle, Waiting, CheckTarget, Writing, VerifyNew, VerifyOld, Logging };
    void StartOrStop();
    void Start();
    void End(const QString &why) override;
    void Say(const QString &text);
    void Ask(Step step, std::uint8_t address);
    void Take(const bus::Answer &answer);
    void Written();
    void Assigned();
    void Log(bool verified);

    bus::BusLine line_;
    QTimer again_;   // the next look for a module at the factory address
    QTimer written_; // the write's confirmation awaited
    QString logFolder_;
    Step step_ = Step::Idle;
    std::uint8_t factory_ = 1, target_ = 2;
};
