#pragma once
// What the tools' windows share: each is a window of its own beside the main window, one of
// its kind at a time, that Esc closes; its fields and buttons carry the names a screen
// reader says.

#include <QSettings>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <utility>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace toolwindow {

// Names the window (its object name, and its title and accessible name for the technician)
// and lets Esc close it, as "关闭" does.
void Prepare(QWidget &window, const QString &objectName, const QString &title);

// The open one, or else the one `make` makes (nullptr when it refuses), shown, raised and
// activated.
template <typename T, typename Make> T *ShowOrMake(T *open, Make make) {
    T *window = open ? open : make();
    if (window) {
        window->show();
        window->raise();
        window->activateWindow();
    }
    return window;
}

// The one T of `parent`, made the first time.
template <typename T, typename Make> T *ShowOne(QWidget &parent, Make make) {
    return ShowOrMake(parent.findChild<T *>(QString(), Qt::FindDirectChildrenOnly), make);
}

// The user's settings of a tool, kept where the program keeps them
// (~/.config/sensor-companion/ on Linux).
QSettings UserSettings(const QString &tool);

// A button named by its text without the mnemonic ("开始" for "开始(&S)").
QPushButton *Button(QWidget *parent, const QString &text);
// A new text for a button, and the name with it.
void SetButtonText(QPushButton *button, const QString &text);
// A box and its label, "caption:", which focuses the box by its mnemonic; the box is named
// by the caption without the mnemonic ("参考值" for "参考值(&R)").
std::pair<QLabel *, QLineEdit *> LabelledBox(QWidget *parent, const QString &caption,
                                             bool readOnly);
// A line of state the screen reader says as it stands, reached with Tab, described by
// `description`.
QLabel *StatusLine(QWidget *parent, const QString &text, const QString &description);
// A table that is read, not edited, named `name`, whole rows selected; Tab leaves it.
QTableWidget *Table(QWidget *parent, const QString &name, const QStringList &columns);
// Row `row` (made when missing) holding `cells`; only changed cells are set.
void SetRow(QTableWidget *table, int row, const QStringList &cells);

// Tab goes through `widgets` in this order, as they stand on the screen.
void TabOrder(std::initializer_list<QWidget *> widgets);

// Only a changed text is set: setting a line edit repaints it, and the figures refresh often.
void ShowText(QLineEdit *box, const QString &text);

} // namespace toolwindow
