// The upload speed limit: the split of the cap among active uploads, and
// the throttle that holds each upload to its share, run on a clock that
// moves only when the throttle sleeps or the test says so.
#include "TransfersTestWorld.h"

#include "core/persist/Settings.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"
#include "transfers/UploadSpeedLimit.h"
#include "transfers/UploadThrottle.h"

#include <QtTest>

namespace
{
constexpr qint64 Second = 1000000;

// A clock in microseconds that sleeping advances.
struct FakeTime
{
    qint64 m_now = 0;
    qint64 m_slept = 0;

    UploadThrottle::Clock Clock()
    {
        return [this] { return m_now; };
    }
    UploadThrottle::Sleeper Sleeper()
    {
        return [this](qint64 i_us) {
            m_now += i_us;
            m_slept += i_us;
        };
    }
};

// One upload sending i_bytes in chunks, each taking i_networkUs to write.
void Send(UploadThrottle& io_throttle, FakeTime& io_time, qint64 i_bytes, qint64 i_chunk, qint64 i_networkUs)
{
    for (qint64 l_sent = 0; l_sent < i_bytes; l_sent += i_chunk) {
        io_throttle.BeforeChunk();
        io_time.m_now += i_networkUs;
        io_throttle.Sent(qMin(i_chunk, i_bytes - l_sent));
    }
    io_throttle.BeforeChunk();
}
}  // namespace

class TestTransfersSpeedLimit : public QObject
{
    Q_OBJECT

private slots:
    void theCapIsSplitAmongTheActiveUploads_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("enabled");
        QTest::addColumn<int>("active");
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("share");
        QTest::newRow("switched off") << "100" << "no" << 2 << 0 << 0;
        QTest::newRow("a cap of 0") << "0" << "yes" << 1 << 0 << 0;
        QTest::newRow("a negative cap") << "-5" << "yes" << 1 << 0 << 0;
        QTest::newRow("not a number") << "fast" << "yes" << 1 << 0 << 0;
        QTest::newRow("three ways") << "100" << "yes" << 3 << 100 << 33;
        QTest::newRow("set-up states count too") << "100" << "yes" << 4 << 100 << 25;
        QTest::newRow("at least 1 each") << "10" << "yes" << 20 << 10 << 1;
        QTest::newRow("no active upload") << "100" << "yes" << 0 << 100 << 100;
    }
    void theCapIsSplitAmongTheActiveUploads()
    {
        QFETCH(QString, limit);
        QFETCH(QString, enabled);
        QFETCH(int, active);
        QFETCH(int, total);
        QFETCH(int, share);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        const char* const l_states[] = {TransferStatus::Uploading, TransferStatus::Requesting, TransferStatus::Connecting,
                                        TransferStatus::WaitingForOffset};
        const QDateTime l_longAgo(QDate(2001, 1, 1), QTime(0, 0));
        std::vector<ItemPtr> l_uploads;
        for (int l_index = 0; l_index <= active; ++l_index) {
            ItemPtr l_upload = d.GetType("upload_entry")->NewItem();
            // One more, queued, does not count.
            l_upload += d.GetType("upload_entry_status")->GetItem(l_index < active ? l_states[l_index % 4] : "queued");
            TransferFigures::Attach<TransferFigures::Time>(l_upload, "last_speed_measurement_time", l_longAgo);
            TransferFigures::Attach<TransferFigures::ByteCount>(l_upload, "bytes_since_last_receipt", 99);
            l_uploads.push_back(l_upload);
        }
        Settings::Set("upload_speed_limit", limit.toStdString());
        Settings::Set("upload_speed_limit_enabled", enabled.toStdString());
        l_manager.SpeedLimit().Earn(5000);

        l_manager.DetermineUploadSpeedLimit();
        QCOMPARE(l_manager.GetUploadSpeed(), total);
        QCOMPARE(l_manager.SpeedLimit().PerUpload(), share);
        // A cap in force starts the credit and every active measurement anew.
        QCOMPARE(l_manager.SpeedLimit().Credit(), total ? 0 : 5000);
        for (int l_index = 0; l_index <= active; ++l_index) {
            const bool l_reset = total && l_index < active;
            ItemPtr l_upload = l_uploads[static_cast<std::size_t>(l_index)];
            const QDateTime l_time = *TransferFigures::Of<TransferFigures::Time>(l_upload, "last_speed_measurement_time");
            QCOMPARE(l_time != l_longAgo, l_reset);
            QCOMPARE(*TransferFigures::Of<TransferFigures::ByteCount>(l_upload, "bytes_since_last_receipt"),
                     l_reset ? 0 : 99);
        }
    }

    void aLoneUploadRunsAtItsShare_data()
    {
        QTest::addColumn<int>("share");
        QTest::addColumn<qint64>("chunk");
        QTest::addColumn<qint64>("networkUs");
        QTest::addColumn<qint64>("expectedUs");
        // Four seconds of data at the share, unless the network is slower.
        QTest::newRow("1 KB/s") << 1 << qint64(1024) << qint64(0) << 4 * Second;
        QTest::newRow("100 KB/s") << 100 << qint64(8192) << qint64(0) << 4 * Second;
        QTest::newRow("100 KB/s over a fast network") << 100 << qint64(8192) << qint64(10000) << 4 * Second;
        QTest::newRow("10000 KB/s, above a chunk per ms") << 10000 << qint64(8192) << qint64(0) << 4 * Second;
        QTest::newRow("50000 KB/s") << 50000 << qint64(8192) << qint64(0) << 4 * Second;
        QTest::newRow("a network slower than the share") << 100 << qint64(8192) << qint64(200000) << 10 * Second;
    }
    void aLoneUploadRunsAtItsShare()
    {
        QFETCH(int, share);
        QFETCH(qint64, chunk);
        QFETCH(qint64, networkUs);
        QFETCH(qint64, expectedUs);
        UploadSpeedLimit l_limit;
        l_limit.Apply(share, share);
        FakeTime l_time;
        UploadThrottle l_throttle(l_limit, l_time.Clock(), l_time.Sleeper());
        const qint64 l_bytes = qint64(share) * 1024 * 4;
        Send(l_throttle, l_time, l_bytes, chunk, networkUs);
        // Within 2%, and one chunk's time for the last one.
        const qint64 l_chunkUs = chunk * Second / (qint64(share) * 1024);
        QVERIFY2(qAbs(l_time.m_now - expectedUs) <= expectedUs / 50 + l_chunkUs,
                 qPrintable(QString("took %1 us").arg(l_time.m_now)));
    }

    void bytesSentWithoutACapCostNoSleepOnceOneApplies()
    {
        UploadSpeedLimit l_limit;
        FakeTime l_time;
        UploadThrottle l_throttle(l_limit, l_time.Clock(), l_time.Sleeper());
        Send(l_throttle, l_time, 100 * 1024 * 1024, 8192, 0);
        QCOMPARE(l_time.m_slept, qint64(0));

        l_limit.Apply(100, 100);
        QVERIFY(l_throttle.BeforeChunk());
        QCOMPARE(l_time.m_slept, qint64(0));
        QCOMPARE(l_throttle.Debt(), qint64(0));
        // From then on the share holds.
        Send(l_throttle, l_time, 100 * 1024, 8192, 0);
        QVERIFY(qAbs(l_time.m_slept - Second) <= Second / 10);

        // Switched off again: no more sleeping.
        l_limit.Lift();
        const qint64 l_before = l_time.m_slept;
        QVERIFY(l_throttle.BeforeChunk());
        Send(l_throttle, l_time, 10 * 1024 * 1024, 8192, 0);
        QCOMPARE(l_time.m_slept, l_before);
    }

    void aStalledUploadLeavesItsAllowanceToTheOthers()
    {
        UploadSpeedLimit l_limit;
        l_limit.Apply(100, 50);
        FakeTime l_time;
        UploadThrottle l_stalled(l_limit, l_time.Clock(), l_time.Sleeper());
        UploadThrottle l_running(l_limit, l_time.Clock(), l_time.Sleeper());
        l_stalled.Sent(8192);
        // Its peer holds it up for five seconds; then it settles.
        l_time.m_now += 5 * Second;
        l_stalled.BeforeChunk();
        const qint64 l_allowance = 50 * 1024 * 5;
        QVERIFY(l_limit.Credit() >= l_allowance - 8192);

        // The other one sends from the credit without sleeping, well above
        // its own share, until the credit is spent.
        const qint64 l_slept = l_time.m_slept;
        int l_freeChunks = 0;
        while (l_time.m_slept == l_slept && l_freeChunks < 1000) {
            l_running.BeforeChunk();
            if (l_time.m_slept == l_slept)
                ++l_freeChunks;
            l_running.Sent(8192);
        }
        QVERIFY2(l_freeChunks >= l_allowance / 8192, qPrintable(QString::number(l_freeChunks)));
        QVERIFY2(l_freeChunks < 200, qPrintable(QString::number(l_freeChunks)));
    }
};

QTEST_MAIN(TestTransfersSpeedLimit)
#include "tst_transfers_speed_limit.moc"
