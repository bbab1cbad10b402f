#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

#include <functional>

class UploadSpeedLimit;

// One upload thread's hold on the speed limit. Before each chunk the thread
// calls BeforeChunk, which pays what it sent since the last call (its debt)
// from the common credit, sleeps off the rest at its share, and pays what
// its share earned meanwhile beyond that into the credit; after sending it
// calls Sent.
//
// Sleeps are reckoned in microseconds, so a share above what one chunk per
// millisecond carries is still held to. Whenever the share changes (the cap
// switched on or off, or split anew) the debt and the clock start afresh,
// so bytes sent without a cap never turn into a long sleep once one
// applies. A sleep is taken in slices of at most SleepSliceUs, and a stop
// check, when given, ends it early between slices.
class UploadThrottle
{
public:
    // Monotonic microseconds, and a sleep of so many microseconds; both
    // default to the real ones.
    using Clock = std::function<qint64()>;
    using Sleeper = std::function<void(qint64 i_us)>;
    using StopCheck = std::function<bool()>;
    static constexpr qint64 SleepSliceUs = 100000;

    explicit UploadThrottle(UploadSpeedLimit& io_limit, Clock i_clock = {}, Sleeper i_sleep = {});

    // True when the share differs from the one at the previous chunk (or at
    // construction): the thread then starts its speed measurement anew.
    bool BeforeChunk();
    void Sent(qint64 i_bytes);
    // A sleep under way ends at the next slice once the check is true; the
    // debt it did not sleep off is dropped with it.
    void SetStopCheck(StopCheck i_stopRequested) { m_stopRequested = std::move(i_stopRequested); }

    int Share() const { return m_share; }
    qint64 Debt() const { return m_debt; }

private:
    qint64 Now() const;
    void Step();

    UploadSpeedLimit& m_limit;
    Clock m_clock;
    Sleeper m_sleep;
    StopCheck m_stopRequested;
    QElapsedTimer m_realClock;
    int m_share = 0;
    qint64 m_debt = 0;
    qint64 m_clockStart = 0;
};
