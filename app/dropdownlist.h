#pragma once
// An editable drop-down list whose selection is explicit: ListIndex() is the entry the
// user picked or the program selected, and -1 as soon as text is typed. Click() is raised
// for both, at once, so a programmatic selection runs its handler before returning.

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

private:
    int listIndex_ = -1;
};
