#include "core/util/WallClock.h"

#include <atomic>

namespace
{
constexpr qint64 MinuteMs = 60000;
// A zone's offset is less than a day: 18 bits of seconds, biased.
constexpr int OffsetBits = 20;
constexpr qint64 OffsetBias = qint64(1) << (OffsetBits - 1);

// The minute of the last look-up and its offset, in one word so that a
// reader on another thread never pairs a minute with another's offset.
std::atomic<qint64> g_minuteAndOffset{-1};

qint64 Floor(qint64 i_value, qint64 i_step)
{
    return i_value >= 0 ? i_value / i_step : -((-i_value + i_step - 1) / i_step);
}

int OffsetAt(qint64 i_msecs)
{
    const qint64 l_minute = Floor(i_msecs, MinuteMs);
    const qint64 l_cached = g_minuteAndOffset.load(std::memory_order_relaxed);
    if (l_cached >= 0 && (l_cached >> OffsetBits) == l_minute)
        return int((l_cached & ((qint64(1) << OffsetBits) - 1)) - OffsetBias);
    const int l_offset = QDateTime::fromMSecsSinceEpoch(i_msecs, Qt::LocalTime).offsetFromUtc();
    if (l_minute >= 0)
        g_minuteAndOffset.store(l_minute << OffsetBits | (qint64(l_offset) + OffsetBias), std::memory_order_relaxed);
    return l_offset;
}
}

namespace WallClock
{
qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QDateTime Local(qint64 i_msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(i_msecsSinceEpoch, Qt::OffsetFromUTC, OffsetAt(i_msecsSinceEpoch));
}

QDateTime LocalNow()
{
    return Local(NowMs());
}

QString Text(const QDateTime& i_time)
{
    return i_time.toString(u"ddd MMM d HH:mm:ss yyyy");
}
}  // namespace WallClock
