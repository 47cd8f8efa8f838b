#include "echofilter.h"

#include <algorithm>

namespace {

// Function 3 and the module's address read: a reply to either starts with a byte count or
// an address where the request has a register address, so it never repeats the request.
bool IsReadRequest(const QByteArray &request) {
    return request.size() > 1 && (request[1] == 0x03 || request[1] == 0x25);
}

} // namespace

void EchoFilter::Sent(const QByteArray &request) {
    sent_ = request;
    sentReads_ = IsReadRequest(request);
    matched_ = request.isEmpty() ? -1 : 0;
}

QByteArray EchoFilter::Take(const QByteArray &chunk) {
    if (matched_ < 0)
        return chunk;
    const qsizetype n = std::min(chunk.size(), sent_.size() - matched_);
    if (chunk.first(n) != sent_.sliced(matched_, n))
        return HandOn() + chunk;
    matched_ += n;
    if (matched_ < sent_.size())
        return {};
    matched_ = -1;
    echoMode_ = echoMode_ || sentReads_;
    return echoMode_ ? chunk.sliced(n) : sent_ + chunk.sliced(n);
}

QByteArray EchoFilter::QuietTimeout() {
    return Waiting() ? HandOn() : QByteArray();
}

void EchoFilter::Emptied() {
    if (Waiting()) // the bytes held went with the buffer
        matched_ = -1;
}

void EchoFilter::Reset() {
    matched_ = -1;
    echoMode_ = false;
}

// No copy came: what matched so far is handed on, and a read's reply has shown that the
// adapter does not echo (any more).
QByteArray EchoFilter::HandOn() {
    const QByteArray held = sent_.first(matched_);
    matched_ = -1;
    echoMode_ = echoMode_ && !sentReads_;
    return held;
}
