#include "dropdownlist.h"

#include <QLineEdit>

DropDownList::DropDownList(const QStringList &entries, const QString &initialText, QWidget *parent)
    : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // typed text never becomes an entry
    addItems(entries);
    setCurrentIndex(-1);
    setEditText(initialText);

    connect(this, &QComboBox::activated, this, [this](int index) {
        listIndex_ = index;
        emit Click();
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { listIndex_ = -1; });
}

void DropDownList::selectEntry(int index) {
    if (index < 0 || index >= count())
        return;
    setCurrentIndex(index);
    listIndex_ = index;
    emit Click();
}
