// The trend's data store against the raw readings it was given: what it reduces must keep
// each bucket's true extremes, and the statistics of a span must not change where the
// span crosses from reduced into full-detail data.

#include "extras/trend/trendstore.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <map>

using trend::Limits;
using trend::Point;
using trend::TrendStore;

Q_DECLARE_METATYPE(Limits)

namespace {

// Readings every `step` ms from t = 0 for `count` points: noise with rare spikes either
// way, so a bucket's extreme is usually a single point.
std::vector<Point> Readings(int count, qint64 step, quint32 seed) {
    QRandomGenerator random(seed);
    std::vector<Point> out;
    for (int i = 0; i < count; ++i) {
        double v = random.bounded(1000.0) - 500;
        if (random.bounded(50) == 0)
            v *= 40;
        out.push_back({i * step, v});
    }
    return out;
}

struct Expected {
    double min, max, sum;
    qint64 count;
};

void Take(Expected &e, double v) {
    e.min = e.count ? std::min(e.min, v) : v;
    e.max = e.count ? std::max(e.max, v) : v;
    e.sum += v;
    ++e.count;
}

} // namespace

class TestTrendStore : public QObject {
    Q_OBJECT
private slots:
    void bucketsKeepTrueExtremes_data();
    void bucketsKeepTrueExtremes();
    void statsAcrossTheBoundary_data();
    void statsAcrossTheBoundary();
    void envelopeKeepsExtremes();
    void refusedAndReorderedInput();
};

void TestTrendStore::bucketsKeepTrueExtremes_data() {
    QTest::addColumn<Limits>("limits");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("step");
    QTest::addColumn<bool>("merged"); // whether the buckets had to grow wider
    // recentMs, recentPoints, bucketMs, buckets, markers
    QTest::newRow("aged by time") << Limits{1000, 100'000, 100, 100'000, 10} << 3000 << qint64(7)
                                  << false;
    QTest::newRow("aged by the point limit")
        << Limits{1'000'000, 50, 100, 100'000, 10} << 3000 << qint64(7) << false;
    // 21 s of data into at most 16 buckets: the width doubles until they fit.
    QTest::newRow("merged pairwise")
        << Limits{1000, 100'000, 100, 16, 10} << 3000 << qint64(7) << true;
}

void TestTrendStore::bucketsKeepTrueExtremes() {
    QFETCH(Limits, limits);
    QFETCH(int, count);
    QFETCH(qint64, step);
    QFETCH(bool, merged);
    TrendStore store(limits);
    const std::vector<Point> raw = Readings(count, step, 19);
    for (const Point &p : raw)
        QVERIFY(store.Add(p.t, p.v));
    QVERIFY(store.BucketCount() > 0);
    QVERIFY(store.BucketCount() <= limits.buckets);
    const qint64 w = store.BucketWidth();
    QCOMPARE(w > limits.bucketMs, merged);

    // Reduced points are the oldest ones; the slots they fill wholly lie before the first
    // full-detail point's slot.
    const qint64 firstRecent = raw[raw.size() - store.RecentCount()].t;
    std::map<qint64, Expected> bySlot;
    for (const Point &p : raw)
        if (p.t / w < firstRecent / w)
            Take(bySlot[p.t / w * w], p.v);
    QVERIFY(!bySlot.empty());
    for (const auto &[start, e] : bySlot) {
        const auto s = store.StatsOf(start, start + w - 1);
        QVERIFY(s);
        QCOMPARE(s->count, e.count);
        QCOMPARE(s->min, e.min);
        QCOMPARE(s->max, e.max);
        QCOMPARE(s->mean, e.sum / double(e.count));
    }
}

void TestTrendStore::statsAcrossTheBoundary_data() {
    QTest::addColumn<qint64>("from");
    // 4000 points at 5 ms: 0 to 19 995 ms; the last 2 s in full detail, 100 ms buckets.
    QTest::newRow("everything") << qint64(0);
    QTest::newRow("bucket-aligned, mostly reduced") << qint64(5000);
    QTest::newRow("the newest reduced bucket onward") << qint64(17900);
    QTest::newRow("full detail only") << qint64(18500);
    QTest::newRow("the newest point only") << qint64(19995);
}

void TestTrendStore::statsAcrossTheBoundary() {
    QFETCH(qint64, from);
    TrendStore store(Limits{2000, 100'000, 100, 100'000, 10});
    const std::vector<Point> raw = Readings(4000, 5, 7);
    for (const Point &p : raw)
        store.Add(p.t, p.v);
    Expected e{0, 0, 0, 0};
    for (const Point &p : raw)
        if (p.t >= from)
            Take(e, p.v);
    const auto s = store.StatsOf(from, store.Newest());
    QVERIFY(s);
    QCOMPARE(s->count, e.count);
    QCOMPARE(s->min, e.min);
    QCOMPARE(s->max, e.max);
    QVERIFY(qAbs(s->mean - e.sum / double(e.count)) < 1e-9);
    QCOMPARE(s->last, raw.back().v);
    QVERIFY(!store.StatsOf(store.Newest() + 1, store.Newest() + 1000));
}

// What is drawn holds the span's extremes, in time order, within two points a column.
void TestTrendStore::envelopeKeepsExtremes() {
    TrendStore store(Limits{2000, 100'000, 100, 100'000, 10});
    const std::vector<Point> raw = Readings(4000, 5, 3);
    for (const Point &p : raw)
        store.Add(p.t, p.v);
    for (const int columns : {1, 37, 700, 10'000}) {
        const QList<QPointF> drawn = store.Envelope(0, store.Newest(), columns);
        QVERIFY(drawn.size() <= 2 * columns);
        QVERIFY(std::is_sorted(drawn.begin(), drawn.end(),
                               [](QPointF a, QPointF b) { return a.x() < b.x(); }));
        const auto [lo, hi] = std::minmax_element(
            drawn.begin(), drawn.end(), [](QPointF a, QPointF b) { return a.y() < b.y(); });
        const auto [rawLo, rawHi] =
            std::minmax_element(raw.begin(), raw.end(), [](Point a, Point b) { return a.v < b.v; });
        QCOMPARE(lo->y(), rawLo->v);
        QCOMPARE(hi->y(), rawHi->v);
        QCOMPARE(qint64(lo->x()), rawLo->t);
        QCOMPARE(qint64(hi->x()), rawHi->t);
    }
}

// A value that is no number is refused; a clock set back does not reorder the data.
void TestTrendStore::refusedAndReorderedInput() {
    TrendStore store(Limits{100, 100'000, 10, 100'000, 2});
    QVERIFY(!store.Add(0, qQNaN()));
    QVERIFY(!store.Add(0, qInf()));
    QVERIFY(store.Empty());
    QVERIFY(store.Add(5000, 1));
    QVERIFY(store.Add(4000, 3)); // the clock went back a second
    QVERIFY(store.Add(5200, 2));
    QCOMPARE(store.Newest(), qint64(5200));
    const auto s = store.StatsOf(5000, 5000);
    QVERIFY(s);
    QCOMPARE(s->count, qint64(2));
    QCOMPARE(s->max, 3.0);
    for (int i = 0; i < 3; ++i)
        store.AddMarker(6000 + i, QString::number(i));
    const auto markers = store.MarkersIn(0, 10'000);
    QCOMPARE(markers.size(), size_t(2));
    QCOMPARE(markers.front().text, QStringLiteral("1"));
}

QTEST_GUILESS_MAIN(TestTrendStore)
#include "tst_trendstore.moc"
