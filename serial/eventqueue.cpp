#include "eventqueue.h"

#include <QMetaObject>

#include <algorithm>
#include <utility>

EventQueue::EventQueue(QObject *context, Deliver deliver)
    : context_(context), deliver_(std::move(deliver)) {}

void EventQueue::post(std::int16_t event) {
    pending_.push_back(event);
    schedule();
}

void EventQueue::withdraw(std::int16_t event) {
    pending_.erase(std::remove(pending_.begin(), pending_.end(), event), pending_.end());
}

void EventQueue::release() {
    if (holds_ > 0 && --holds_ == 0)
        schedule();
}

void EventQueue::schedule() {
    if (scheduled_ || holds_ > 0 || pending_.empty())
        return;
    scheduled_ = true;
    QMetaObject::invokeMethod(
        context_, [this] { deliverNext(); }, Qt::QueuedConnection);
}

void EventQueue::deliverNext() {
    scheduled_ = false;
    if (delivering_ || holds_ > 0 || pending_.empty())
        return;
    const std::int16_t event = pending_.front();
    pending_.pop_front();
    delivering_ = true;
    deliver_(event);
    delivering_ = false;
    schedule();
}
