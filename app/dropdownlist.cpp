#include "dropdownlist.h"

#include <QLineEdit>
#include <QWheelEvent>

DropDownList::DropDownList(const QStringList &entries, const QString &initialText, QWidget *parent)
    : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // typed text never becomes an entry
    setCompleter(nullptr);
    // Qt picks the entry that matches the typed text when editing ends (Enter, or leaving
    // the field); here only a choice from the list selects.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
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

// Scrolling past the list must not reopen ports.
void DropDownList::wheelEvent(QWheelEvent *event) {
    event->ignore();
}
