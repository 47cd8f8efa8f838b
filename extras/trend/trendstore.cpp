#include "trendstore.h"

#include <algorithm>
#include <cmath>

namespace trend {

namespace {

qint64 SlotStart(qint64 t, qint64 width) {
    const qint64 q = t / width;
    return (q - (t % width < 0 ? 1 : 0)) * width; // towards minus infinity
}

// Both buckets lie in into's slot; b is the later one.
void Merge(Bucket &into, const Bucket &b) {
    if (b.min < into.min) {
        into.min = b.min;
        into.tMin = b.tMin;
    }
    if (b.max > into.max) {
        into.max = b.max;
        into.tMax = b.tMax;
    }
    into.sum += b.sum;
    into.count += b.count;
}

} // namespace

TrendStore::TrendStore(Limits limits)
    : limits_(limits), bucketMs_(std::max<qint64>(1, limits.bucketMs)) {}

qint64 TrendStore::Oldest() const {
    if (!buckets_.empty())
        return std::min(buckets_.front().tMin, buckets_.front().tMax);
    return recent_.empty() ? 0 : recent_.front().t;
}

qint64 TrendStore::Newest() const {
    return recent_.empty() ? 0 : recent_.back().t;
}

bool TrendStore::Add(qint64 t, double v) {
    if (!std::isfinite(v))
        return false;
    if (!recent_.empty())
        t = std::max(t, recent_.back().t);
    recent_.push_back({t, v});
    while (recent_.size() > std::max<std::size_t>(1, limits_.recentPoints) ||
           t - recent_.front().t > limits_.recentMs) {
        Age(recent_.front());
        recent_.pop_front();
    }
    return true;
}

void TrendStore::AddMarker(qint64 t, const QString &text) {
    if (!markers_.empty())
        t = std::max(t, markers_.back().t);
    markers_.push_back({t, text});
    while (markers_.size() > limits_.markers)
        markers_.pop_front();
}

void TrendStore::Age(const Point &p) {
    const Bucket one{SlotStart(p.t, bucketMs_), p.t, p.t, p.v, p.v, p.v, 1};
    if (!buckets_.empty() && buckets_.back().start == one.start) {
        Merge(buckets_.back(), one);
        return;
    }
    buckets_.push_back(one);
    if (buckets_.size() > limits_.buckets)
        Coarsen();
}

void TrendStore::Coarsen() {
    while (buckets_.size() > std::max<std::size_t>(1, limits_.buckets)) {
        bucketMs_ *= 2;
        std::deque<Bucket> merged;
        for (Bucket b : buckets_) {
            b.start = SlotStart(b.start, bucketMs_);
            if (merged.empty() || merged.back().start != b.start) {
                merged.push_back(b);
                continue;
            }
            Merge(merged.back(), b);
        }
        buckets_ = std::move(merged);
    }
}

template <typename B, typename P>
void TrendStore::Scan(qint64 from, qint64 to, B bucket, P point) const {
    const qint64 width = bucketMs_;
    auto b = std::partition_point(buckets_.begin(), buckets_.end(),
                                  [&](const Bucket &x) { return x.start + width <= from; });
    for (; b != buckets_.end() && b->start <= to; ++b)
        bucket(*b);
    auto p = std::partition_point(recent_.begin(), recent_.end(),
                                  [&](const Point &x) { return x.t < from; });
    for (; p != recent_.end() && p->t <= to; ++p)
        point(*p);
}

std::optional<Stats> TrendStore::StatsOf(qint64 from, qint64 to) const {
    Stats s{0, 0, 0, 0, 0};
    double sum = 0;
    auto take = [&](double min, double max, double part, qint64 count, double last) {
        s.min = s.count ? std::min(s.min, min) : min;
        s.max = s.count ? std::max(s.max, max) : max;
        s.last = last;
        s.count += count;
        sum += part;
    };
    Scan(
        from, to,
        [&](const Bucket &b) {
            take(b.min, b.max, b.sum, b.count, b.tMin > b.tMax ? b.min : b.max);
        },
        [&](const Point &p) { take(p.v, p.v, p.v, 1, p.v); });
    if (!s.count)
        return std::nullopt;
    s.mean = sum / double(s.count);
    return s;
}

QList<QPointF> TrendStore::Envelope(qint64 from, qint64 to, int columns) const {
    QList<QPointF> out;
    if (to < from || columns < 1)
        return out;
    const double slice = double(to - from + 1) / columns;
    qint64 column = -1;
    Point lo{}, hi{};
    auto flush = [&] {
        if (column < 0)
            return;
        const Point &a = lo.t <= hi.t ? lo : hi;
        const Point &b = lo.t <= hi.t ? hi : lo;
        out.append(QPointF(double(a.t), a.v));
        if (a.t != b.t || a.v != b.v)
            out.append(QPointF(double(b.t), b.v));
    };
    const auto visit = [&](qint64 t, double v) {
        const auto c = static_cast<qint64>(double(std::max(t, from) - from) / slice);
        if (c != column) {
            flush();
            column = c;
            lo = hi = {t, v};
            return;
        }
        if (v < lo.v)
            lo = {t, v};
        if (v > hi.v)
            hi = {t, v};
    };
    // Every point and bucket extreme in the span, in time order.
    Scan(
        from, to,
        [&](const Bucket &b) {
            const bool minFirst = b.tMin <= b.tMax;
            visit(minFirst ? b.tMin : b.tMax, minFirst ? b.min : b.max);
            if (b.tMin != b.tMax)
                visit(minFirst ? b.tMax : b.tMin, minFirst ? b.max : b.min);
        },
        [&](const Point &p) { visit(p.t, p.v); });
    flush();
    return out;
}

std::vector<Marker> TrendStore::MarkersIn(qint64 from, qint64 to) const {
    std::vector<Marker> out;
    for (const Marker &m : markers_)
        if (m.t >= from && m.t <= to)
            out.push_back(m);
    return out;
}

} // namespace trend
