// The wall clock that looks the zone up once a minute reads as the local
// time does, also on either side of a change of the zone's offset.
#include "core/util/WallClock.h"

#include <QtTest>

#include <ctime>

class TestWallClock : public QObject
{
    Q_OBJECT

private slots:
    void readsAsTheLocalTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("change");
        // Rules written out, so that no zone files are needed.
        const QByteArray l_berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
        QTest::newRow("into summer time") << l_berlin << QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC);
        QTest::newRow("out of summer time") << l_berlin << QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC);
        QTest::newRow("west of UTC") << QByteArray("EST5EDT,M3.2.0,M11.1.0")
                                     << QDateTime(QDate(2026, 3, 8), QTime(7, 0), Qt::UTC);
        QTest::newRow("half an hour") << QByteArray("<+1030>-10:30<+11>-11,M10.1.0,M4.1.0")
                                      << QDateTime(QDate(2026, 10, 3), QTime(15, 30), Qt::UTC);
        QTest::newRow("no change") << QByteArray("UTC0") << QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC);
    }
    void readsAsTheLocalTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, change);
        const QByteArray l_saved = qgetenv("TZ");
        qputenv("TZ", zone);
        ::tzset();
        // In the order a clock reads them: the last moment before the
        // change, the change, and moments after it in its minute and later.
        const qint64 l_at = change.toMSecsSinceEpoch();
        for (qint64 l_ms : {l_at - 60000, l_at - 1, l_at, l_at + 1, l_at + 59999, l_at + 60000, l_at + 3600000}) {
            const QDateTime l_local = QDateTime::fromMSecsSinceEpoch(l_ms, Qt::LocalTime);
            const QDateTime l_wall = WallClock::Local(l_ms);
            QCOMPARE(WallClock::Text(l_wall), l_local.toString(Qt::TextDate));
            QCOMPARE(l_wall.offsetFromUtc(), l_local.offsetFromUtc());
            QCOMPARE(l_wall.toMSecsSinceEpoch(), l_ms);
        }
        // The zone did change its offset there (the rules were taken).
        if (zone != "UTC0")
            QVERIFY(WallClock::Local(l_at - 1).offsetFromUtc() != WallClock::Local(l_at).offsetFromUtc());
        if (l_saved.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", l_saved);
        ::tzset();
    }
};

QTEST_GUILESS_MAIN(TestWallClock)
#include "tst_wall_clock.moc"
