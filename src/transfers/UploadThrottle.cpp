#include "transfers/UploadThrottle.h"

#include "transfers/UploadSpeedLimit.h"

#include <QThread>

#include <limits>

namespace
{
// i_value * i_multiplier / i_divisor without overflow, truncated toward zero
// and kept within 64 bits.
qint64 Scale(qint64 i_value, qint64 i_multiplier, qint64 i_divisor)
{
    const __int128 l_result = static_cast<__int128>(i_value) * i_multiplier / i_divisor;
    if (l_result > std::numeric_limits<qint64>::max())
        return std::numeric_limits<qint64>::max();
    if (l_result < std::numeric_limits<qint64>::min())
        return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(l_result);
}

constexpr qint64 MicrosecondsPerSecond = 1000000;
}  // namespace

UploadThrottle::UploadThrottle(UploadSpeedLimit& io_limit, Clock i_clock, Sleeper i_sleep)
    : m_limit(io_limit), m_clock(std::move(i_clock)), m_sleep(std::move(i_sleep))
{
    m_realClock.start();
    if (!m_sleep)
        m_sleep = [](qint64 i_us) { QThread::usleep(static_cast<unsigned long>(i_us)); };
    m_share = m_limit.PerUpload();
    m_clockStart = Now();
}

qint64 UploadThrottle::Now() const
{
    return m_clock ? m_clock() : m_realClock.nsecsElapsed() / 1000;
}

bool UploadThrottle::BeforeChunk()
{
    const int l_share = m_limit.PerUpload();
    const bool l_changed = l_share != m_share;
    if (l_changed) {
        m_share = l_share;
        m_debt = 0;
        m_clockStart = Now();
    }
    if (m_share > 0)
        Step();
    return l_changed;
}

void UploadThrottle::Sent(qint64 i_bytes)
{
    if (m_share > 0 && i_bytes > 0)
        m_debt = m_debt > std::numeric_limits<qint64>::max() - i_bytes ? std::numeric_limits<qint64>::max() : m_debt + i_bytes;
}

void UploadThrottle::Step()
{
    const qint64 l_bytesPerSecond = static_cast<qint64>(m_share) * 1024;
    // Settle: what the credit covers costs no time.
    m_debt = m_limit.Settle(m_debt);
    // Sleep off the rest at the share.
    const qint64 l_due = Scale(m_debt, MicrosecondsPerSecond, l_bytesPerSecond);
    qint64 l_elapsed = Now() - m_clockStart;
    const qint64 l_until = l_elapsed > std::numeric_limits<qint64>::max() - l_due ? std::numeric_limits<qint64>::max()
                                                                                   : l_elapsed + l_due;
    while (l_elapsed < l_until) {
        if (m_stopRequested && m_stopRequested()) {
            m_debt = 0;
            return;
        }
        m_sleep(qMin(l_until - l_elapsed, SleepSliceUs));
        l_elapsed = Now() - m_clockStart;
    }
    // Earn: the share's allowance over the whole time since the last step,
    // less what was paid by sleeping.
    const qint64 l_now = Now();
    const qint64 l_earned = Scale(l_bytesPerSecond, l_now - m_clockStart, MicrosecondsPerSecond) - m_debt;
    m_clockStart = l_now;
    if (l_earned > 0)
        m_limit.Earn(l_earned);
    m_debt = 0;
}
