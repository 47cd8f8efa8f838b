// The parts of a recording's rows that the recordings in the end-to-end tests cannot
// reach: offsets from UTC other than the machine's own, and fields that need quoting.

#include "extras/record/recordrows.h"

#include <QTimeZone>
#include <QtTest>

class TstRecordRows : public QObject {
    Q_OBJECT
private slots:
    void timeCarriesItsOffset_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("text");
        QTest::newRow("UTC as +00:00") << 0 << "2026-12-09T06:03:05.007+00:00";
        QTest::newRow("east") << 8 * 3600 << "2026-12-09T14:03:05.007+08:00";
        QTest::newRow("west, half hour") << -(3 * 3600 + 1800) << "2026-12-09T02:33:05.007-03:30";
    }
    void timeCarriesItsOffset() {
        QFETCH(int, offset);
        QFETCH(QString, text);
        const QDateTime utc(QDate(2026, 12, 9), QTime(6, 3, 5, 7), QTimeZone::utc());
        const QByteArray row = recording::MarkRow(utc.toOffsetFromUtc(offset), QString());
        QCOMPARE(row.left(row.indexOf(',')), text.toLatin1());
    }

    void markIsQuotedWhereItMustBe_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << "参数写入 偏移量 5" << QByteArray("参数写入 偏移量 5");
        QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
        QTest::newRow("quote") << "a\"b" << QByteArray("\"a\"\"b\"");
        QTest::newRow("line break") << "a\r\nb" << QByteArray("\"a\r\nb\"");
    }
    void markIsQuotedWhereItMustBe() {
        QFETCH(QString, what);
        QFETCH(QByteArray, field);
        const QDateTime t(QDate(2026, 12, 9), QTime(6, 3, 5), QTimeZone::utc());
        QCOMPARE(recording::MarkRow(t, what),
                 "2026-12-09T06:03:05.000+00:00" + QByteArray(13, ',') + field + "\r\n");
    }
};

QTEST_MAIN(TstRecordRows)
#include "tst_recordrows.moc"
