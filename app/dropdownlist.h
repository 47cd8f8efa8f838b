#pragma once
// An editable drop-down list whose selection is explicit: ListIndex() is the entry the
// user picked (from the list, or with the arrow keys) or the program selected, and -1 as
// soon as text is typed. Click() is raised for both, at once, so a programmatic selection
// runs its handler before returning. Typed text never turns into a selection: there is no
// completion, and Enter does not pick the entry that matches it.

#include <QComboBox>
#include <QStringList>

class DropDownList : public QComboBox {
    Q_OBJECT
public:
    DropDownList(const QStringList &entries, const QString &initialText, QWidget *parent);

    int ListIndex() const { return listIndex_; }
    void selectEntry(int index);

signals:
    void Click();

protected:
    void wheelEvent(QWheelEvent *event) override;

private:
    int listIndex_ = -1;
};
