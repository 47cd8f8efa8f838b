#include "dropdownlist.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QToolTip>
#include <QWheelEvent>

#include <utility>

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

void DropDownList::SelectEntry(int index) {
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

// Answered at the moment the tooltip is asked for rather than stored in the entries: a
// change of an entry's data would rewrite the text typed into the list.
void DropDownList::SetEntryToolTips(std::function<QString(int)> toolTipOf) {
    toolTipOf_ = std::move(toolTipOf);
    view()->viewport()->installEventFilter(this);
}

bool DropDownList::ShowEntryToolTip(QEvent *event, int index, QWidget *over) {
    if (event->type() != QEvent::ToolTip || !toolTipOf_ || index < 0 || index >= count())
        return false;
    QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), toolTipOf_(index), over);
    return true;
}

bool DropDownList::event(QEvent *event) {
    return ShowEntryToolTip(event, listIndex_, this) || QComboBox::event(event);
}

bool DropDownList::eventFilter(QObject *watched, QEvent *event) {
    if (watched == view()->viewport() && event->type() == QEvent::ToolTip) {
        const QPoint at = static_cast<QHelpEvent *>(event)->pos();
        if (!ShowEntryToolTip(event, view()->indexAt(at).row(), view()->viewport()))
            QToolTip::hideText();
        return true;
    }
    return QComboBox::eventFilter(watched, event);
}
