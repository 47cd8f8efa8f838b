#pragma once
// An editable drop-down list whose selection is explicit: ListIndex() is the entry the
// user picked (from the list, or with the arrow keys) or the program selected, and -1 as
// soon as text is typed. Click() is raised for both, at once, so a programmatic selection
// runs its handler before returning. Typed text never turns into a selection: there is no
// completion, and Enter does not pick the entry that matches it.

#include <QComboBox>
#include <QStringList>

#include <functional>

class DropDownList : public QComboBox {
    Q_OBJECT
public:
    DropDownList(const QStringList &entries, const QString &initialText, QWidget *parent);

    int ListIndex() const { return listIndex_; }
    void SelectEntry(int index);
    // Tooltips for the entries (and for the list itself, of the selected entry), asked for
    // each time one is shown, so they tell what is true now. The entries stay as they are.
    void SetEntryToolTips(std::function<QString(int index)> toolTipOf);

signals:
    void Click();

protected:
    void wheelEvent(QWheelEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Shows the entry's tooltip for a tooltip request; false when there is none to show.
    bool ShowEntryToolTip(QEvent *event, int index, QWidget *over);

    int listIndex_ = -1;
    std::function<QString(int)> toolTipOf_;
};
