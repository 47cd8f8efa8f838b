#pragma once
// The one message-box service: text, an OK button only, an optional warning icon, and a
// title that defaults to the application's title. Tests replace the presenter to see what
// would have been shown without running a modal loop.

#include <QString>

#include <functional>

class QWidget;

enum class MsgIcon { None, Warning };

struct Message {
    QString text;
    QString title;
    MsgIcon icon = MsgIcon::None;
};

class MessageBoxService {
public:
    using Presenter = std::function<void(const Message &)>;

    MessageBoxService(QString applicationTitle, QWidget *parent);

    // Returns once the user has closed the box.
    void show(const QString &text, MsgIcon icon = MsgIcon::None, const QString &title = {});

    // True while a box is open, so periodic work can wait instead of piling up boxes.
    bool isShowing() const { return showing_ > 0; }
    // Told true when the first box opens and false when the last one closes.
    void setShowingChanged(std::function<void(bool showing)> told) { told_ = std::move(told); }

    void setPresenter(Presenter presenter) { presenter_ = std::move(presenter); }
    const QString &applicationTitle() const { return applicationTitle_; }

private:
    void showModal(const Message &message) const;

    QString applicationTitle_;
    QWidget *parent_;
    Presenter presenter_;
    std::function<void(bool)> told_;
    int showing_ = 0;
};
