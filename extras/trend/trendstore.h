#pragma once
// The readings the trend window plots, kept for as long as the program runs in bounded
// memory: every point of the recent span, and older points reduced to the minimum and
// maximum of each time bucket (with their sum and count, so a mean stays exact). When
// the buckets grow too many, pairs of them merge into buckets twice as wide.
// Times are milliseconds; plain logic, no widgets.

#include <QList>
#include <QPointF>
#include <QString>

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace trend {

struct Limits {
    qint64 recentMs = 60 * 60 * 1000;   // the longest span shown point by point
    std::size_t recentPoints = 200'000; // and never more points than this in it
    qint64 bucketMs = 1000;             // the first width of an older bucket
    std::size_t buckets = 100'000;      // merged pairwise beyond this
    std::size_t markers = 1000;         // the oldest write markers go beyond this
};

struct Point {
    qint64 t;
    double v;
};

// The older data: one bucket per time slot [start, start + width) that had points.
struct Bucket {
    qint64 start;
    qint64 tMin, tMax; // when the minimum and the maximum came
    double min, max;
    double sum;
    qint64 count;
};

struct Stats {
    double min, max, mean, last;
    qint64 count;
};

struct Marker {
    qint64 t;
    QString text;
};

class TrendStore {
public:
    explicit TrendStore(Limits limits = {});

    // A reading at time t. A time before the newest point (the clock set back) is taken
    // as the newest time, so the data stay in order. Values that are not finite are
    // refused.
    bool Add(qint64 t, double v);
    void AddMarker(qint64 t, const QString &text);

    bool Empty() const { return recent_.empty(); }
    qint64 Oldest() const;
    qint64 Newest() const;

    // Statistics of the points from `from` to `to`. A bucket counts whole when any part
    // of its slot lies in the span: older data are resolved to their bucket's width.
    std::optional<Stats> StatsOf(qint64 from, qint64 to) const;
    // What to draw for the span with at most two points a column: the first and the
    // extreme values of each of `columns` equal slices, in time order.
    QList<QPointF> Envelope(qint64 from, qint64 to, int columns) const;
    std::vector<Marker> MarkersIn(qint64 from, qint64 to) const;

    std::size_t RecentCount() const { return recent_.size(); }
    std::size_t BucketCount() const { return buckets_.size(); }
    qint64 BucketWidth() const { return bucketMs_; }

private:
    void Age(const Point &p);
    void Coarsen();
    // Calls bucket(b) for every bucket whose slot meets [from, to], then point(p) for every
    // recent point in it: in time order.
    template <typename B, typename P> void Scan(qint64 from, qint64 to, B bucket, P point) const;

    Limits limits_;
    qint64 bucketMs_;
    std::deque<Point> recent_;
    std::deque<Bucket> buckets_;
    std::deque<Marker> markers_;
};

} // namespace trend
