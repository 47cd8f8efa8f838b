#include "toolwindow.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTableWidget>

namespace toolwindow {

void Prepare(QWidget &window, const QString &objectName, const QString &title) {
    window.setObjectName(objectName);
    window.setWindowTitle(title);
    window.setAccessibleName(title);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    QObject::connect(escape, &QShortcut::activated, &window, &QWidget::close);
}

namespace {

// "开始(&S)" is read "开始", "&Start" "Start".
QString WithoutMnemonic(const QString &caption) {
    static const QRegularExpression mnemonic(QStringLiteral(R"(\(&.\))"));
    return QString(caption).remove(mnemonic).remove(u'&');
}

} // namespace

QSettings UserSettings(const QString &tool) {
    return QSettings(QCoreApplication::applicationName().isEmpty()
                         ? QStringLiteral("sensor-companion")
                         : QCoreApplication::applicationName(),
                     tool);
}

QPushButton *Button(QWidget *parent, const QString &text) {
    auto *button = new QPushButton(parent);
    SetButtonText(button, text);
    return button;
}

void SetButtonText(QPushButton *button, const QString &text) {
    button->setText(text);
    button->setAccessibleName(WithoutMnemonic(text));
}

std::pair<QLabel *, QLineEdit *> LabelledBox(QWidget *parent, const QString &caption,
                                             bool readOnly) {
    auto *box = new QLineEdit(parent);
    box->setAccessibleName(WithoutMnemonic(caption));
    box->setReadOnly(readOnly);
    auto *label = new QLabel(caption + u':', parent);
    label->setBuddy(box);
    return {label, box};
}

QLabel *StatusLine(QWidget *parent, const QString &text, const QString &description) {
    auto *status = new QLabel(text, parent);
    // Its text is what a screen reader is to say: the field is described, never renamed.
    status->setAccessibleDescription(description);
    // Text interaction sets a focus policy of its own: Tab reaches the line only when set after.
    status->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    status->setFocusPolicy(Qt::TabFocus);
    status->setWordWrap(true);
    return status;
}

QTableWidget *Table(QWidget *parent, const QString &name, const QStringList &columns) {
    auto *table = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    table->setAccessibleName(name);
    table->setHorizontalHeaderLabels(columns);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setTabKeyNavigation(false);
    table->verticalHeader()->setVisible(false);
    // Sized when a row comes, not at every change of a cell: sizing to the contents measures
    // every cell's text, and the overview's cells change many times a second.
    table->horizontalHeader()->setSectionResizeMode(table->columnCount() - 1, QHeaderView::Stretch);
    return table;
}

void SetRow(QTableWidget *table, int row, const QStringList &cells) {
    const bool added = row >= table->rowCount();
    if (added)
        table->setRowCount(row + 1);
    for (int column = 0; column < cells.size() && column < table->columnCount(); ++column) {
        QTableWidgetItem *item = table->item(row, column);
        if (!item)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
        else if (item->text() != cells[column])
            item->setText(cells[column]);
    }
    for (int column = 0; added && column < table->columnCount() - 1; ++column)
        table->resizeColumnToContents(column); // the last one takes the rest of the width
}

void TabOrder(std::initializer_list<QWidget *> widgets) {
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void ShowText(QLineEdit *box, const QString &text) {
    if (box->text() != text)
        box->setText(text);
}

} // namespace toolwindow
