#include "core/runtime/TimerManager.h"

TimerManager* timerManager = nullptr;

namespace
{
void StartRepeating(QTimer& io_timer, int i_intervalMs)
{
    io_timer.setSingleShot(false);
    io_timer.setInterval(i_intervalMs);
    io_timer.start();
}
}

TimerManager::TimerManager()
{
    StartRepeating(m_everyHalfMinute, HalfMinuteMs);
    StartRepeating(m_everyFiveMinutes, FiveMinutesMs);
    StartRepeating(m_everyHour, HourMs);
    timerManager = this;
}

TimerManager::~TimerManager()
{
    m_everyHalfMinute.stop();
    m_everyFiveMinutes.stop();
    m_everyHour.stop();
    if (timerManager == this)
        timerManager = nullptr;
}
