#pragma once
// The window's line, lent to one tool at a time. Lending remembers the window's polling and
// stops it and disables the controls that would disturb the line; a tool that opens the
// device itself gets the window's port closed as well. However the lease ends (given back,
// the tool's window closed, the tool destroyed, the port lost, the program ending) the
// window gets back what was taken: its controls as they were, its port reopened if it was
// open, its polling running again if it ran.

#include <QObject>
#include <QPointer>

#include <optional>
#include <utility>
#include <vector>

class QLabel;
class QWidget;
class frmMain;

class LineLease : public QObject {
    Q_OBJECT
public:
    enum class Need {
        Port,   // the window's open serial control, to send through
        Device, // the device itself, with the window's port closed
    };

    explicit LineLease(frmMain &window);
    ~LineLease() override;

    // Lends the line to `holder`, known to the technician as `name`. While another tool
    // holds it nothing changes, and the text telling the technician so is returned.
    // A `toolWindow` that closes ends the lease with it.
    std::optional<QString> Take(QObject *holder, const QString &name, Need need,
                                QWidget *toolWindow = nullptr);
    // What Take would answer `holder` now: nothing while the line is free or already its.
    std::optional<QString> Refusal(const QObject *holder) const;
    // Ends the lease if `holder` has it.
    void GiveBack(const QObject *holder);
    // The tool put another port in the window ("使用此设置"): that one stays as it is.
    void KeepPort();
    bool HeldBy(const QObject *holder) const { return holder && holder == holder_; }

signals:
    // The lease ended under the holder: its window closed or the port was lost.
    void Revoked(QObject *holder, const QString &reason);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Ending { GivenBack, Revoked, Exit };
    void End(Ending how, const QString &reason = {});

    frmMain &window_;
    QLabel *status_; // beside the menus: who holds the line
    QObject *holder_ = nullptr;
    QString name_;
    Need need_ = Need::Port;
    QPointer<QWidget> toolWindow_;
    QMetaObject::Connection holderGone_;
    // What was taken, to be given back.
    bool polling_ = false;
    int interval_ = 0;
    bool portOpen_ = false;
    bool keepPort_ = false;
    QPointer<QLabel> lamp_;
    std::vector<std::pair<QPointer<QWidget>, bool>> enabled_;
};
