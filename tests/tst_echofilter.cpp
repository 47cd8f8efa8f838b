// An adapter's echo taken out of the bytes as they come, with no port and no clock: what
// the program sees, whether the port ends in echo mode, and whether bytes are still held.

#include "serial/echofilter.h"

#include <QtTest>

namespace {

// One thing that happens to the filter; a row is a list of them, in order.
struct Step {
    enum Kind { Send, Arrive, Quiet, Empty, Reset } kind;
    QByteArray bytes; // Send: the request written; Arrive: what the line hands back
};

Step Send(const QByteArray &request) {
    return {Step::Send, request};
}
Step Arrive(const QByteArray &bytes) {
    return {Step::Arrive, bytes};
}
const Step kQuiet{Step::Quiet, {}};
const Step kEmptied{Step::Empty, {}};
const Step kReset{Step::Reset, {}};

QByteArray Hex(const char *text) {
    return QByteArray::fromHex(text);
}

} // namespace

Q_DECLARE_METATYPE(Step)

class TstEchoFilter : public QObject {
    Q_OBJECT

private slots:
    void filter_data() {
        QTest::addColumn<QList<Step>>("steps");
        QTest::addColumn<QByteArray>("seen"); // since the buffer was last emptied
        QTest::addColumn<bool>("echoMode");
        QTest::addColumn<bool>("waiting");

        const QByteArray read = Hex("010300000002C40B");
        const QByteArray reply = Hex("0103040226091AAABB");
        const QByteArray write = Hex("01060A042710C3A5");
        const QByteArray refused = Hex("018602C3A1");
        // A reply that repeats the first five bytes of its request.
        const QByteArray readAt = Hex("010304000002B433");
        const QByteArray likeIt = Hex("01030400000001AABB");
        // An address read that comes back as it went: echo mode from then on.
        const QByteArray address = Hex("FA250200000199FE");
        const QList<Step> echoing{Send(address), Arrive(address)};
        const auto row = [](const char *name, const QList<Step> &steps, const QByteArray &seen,
                            bool echoMode, bool waiting) {
            QTest::newRow(name) << steps << seen << echoMode << waiting;
        };

        row("read's copy in one piece with the reply", {Send(read), Arrive(read + reply)}, reply,
            true, false);
        row("read's copy in pieces",
            {Send(read), Arrive(read.first(3)), Arrive(read.sliced(3) + reply.first(2)),
             Arrive(reply.sliced(2))},
            reply, true, false);
        row("read's copy held until its last byte", {Send(read), Arrive(read.first(7))}, {}, false,
            true);
        row("read's copy cut short, then quiet", {Send(read), Arrive(read.first(5)), kQuiet},
            read.first(5), false, false);
        row("read's copy cut short in echo mode, then quiet: echo mode ends",
            echoing + QList{Send(read), Arrive(read.first(5)), kQuiet}, read.first(5), false,
            false);
        row("write's copy without echo mode is the reply", {Send(write), Arrive(write)}, write,
            false, false);
        row("write's copy in echo mode goes, the reply stays",
            echoing +
                QList{Send(write), Arrive(write.first(5)), Arrive(write.sliced(5)), Arrive(write)},
            write, true, false);
        row("write's copy cut short in echo mode, then quiet: echo mode stays",
            echoing + QList{Send(write), Arrive(write.first(4)), kQuiet}, write.first(4), true,
            false);
        row("write refused in echo mode: echo mode stays",
            echoing + QList{Send(write), Arrive(refused)}, refused, true, false);
        row("read whose reply does not start with the request ends echo mode",
            echoing + QList{Send(read), Arrive(reply)}, reply, false, false);
        row("reply starting like its request, echo mode",
            echoing + QList{Send(readAt), Arrive(readAt), Arrive(likeIt)}, likeIt, true, false);
        row("reply starting like its request, no echo",
            {Send(readAt), Arrive(likeIt.first(5)), Arrive(likeIt.sliced(5))}, likeIt, false,
            false);
        row("emptied mid-copy: the rest is no longer told apart",
            {Send(read), Arrive(read.first(3)), kEmptied, Arrive(read.sliced(3) + reply)},
            read.sliced(3) + reply, false, false);
        row("emptied before the copy came: it is still taken out",
            {Send(read), kEmptied, Arrive(read + reply)}, reply, true, false);
        row("reset mid-copy ends echo mode and the comparison",
            echoing + QList{Send(read), Arrive(read.first(3)), kReset, Arrive(read.sliced(3))},
            read.sliced(3), false, false);
    }
    void filter() {
        QFETCH(QList<Step>, steps);
        QFETCH(QByteArray, seen);
        QFETCH(bool, echoMode);
        QFETCH(bool, waiting);
        EchoFilter filter;
        QByteArray got;
        for (const Step &step : steps) {
            switch (step.kind) {
            case Step::Send:
                filter.Sent(step.bytes);
                break;
            case Step::Arrive:
                got += filter.Take(step.bytes);
                break;
            case Step::Quiet:
                got += filter.QuietTimeout();
                break;
            case Step::Empty:
                filter.Emptied();
                got.clear();
                break;
            case Step::Reset:
                filter.Reset();
                break;
            }
        }
        QCOMPARE(got.toHex(' '), seen.toHex(' '));
        QCOMPARE(filter.EchoMode(), echoMode);
        QCOMPARE(filter.Waiting(), waiting);
    }
};

QTEST_GUILESS_MAIN(TstEchoFilter)
#include "tst_echofilter.moc"
