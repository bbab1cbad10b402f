#pragma once

#include <QTimer>

// The application's three repeating clocks. Services connect their periodic
// slots to the timers' timeout() signals; nothing else drives periodic work.
// A plain class: `m_everyHalfMinute` is its first member, so the service's
// address is also the address of that timer.
class TimerManager
{
public:
    // Starts the three timers and makes this object `timerManager`.
    TimerManager();
    // Stops the timers; clears `timerManager` when it points here.
    ~TimerManager();
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;

    static constexpr int HalfMinuteMs = 30000;
    static constexpr int FiveMinutesMs = 300000;
    static constexpr int HourMs = 3600000;

    QTimer m_everyHalfMinute;
    QTimer m_everyFiveMinutes;
    QTimer m_everyHour;
};

extern TimerManager* timerManager;
