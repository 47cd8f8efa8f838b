#pragma once
// The serial control's events wait here before they reach OnComm. They are always
// delivered from the event loop, one per turn, never from inside the property write that
// raised them, so OnComm runs between handlers as the window expects. While a hold is
// alive (a message box is open) they wait, and the bytes behind them stay buffered, so a
// reply is not decoded into a window the user is being asked about.

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>

class EventQueue {
public:
    using Deliver = std::function<void(std::int16_t event)>;

    // Deliveries run on context's thread and are dropped with it.
    EventQueue(QObject *context, Deliver deliver);

    void post(std::int16_t event);
    // Withdraws the waiting events of this code.
    void withdraw(std::int16_t event);
    void clear() { pending_.clear(); }

    void hold() { ++holds_; }
    void release();

private:
    void schedule();
    void deliverNext();

    QObject *context_;
    Deliver deliver_;
    std::deque<std::int16_t> pending_;
    int holds_ = 0;
    bool scheduled_ = false;
    bool delivering_ = false; // an OnComm handler that runs a modal loop must not nest
};
