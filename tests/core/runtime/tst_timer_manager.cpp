#include "core/runtime/TimerManager.h"

#include <QtTest>

class TestTimerManager : public QObject
{
    Q_OBJECT

private slots:
    void startsThreeRepeatingTimers();
    void deleteClearsTheGlobal();
};

void TestTimerManager::startsThreeRepeatingTimers()
{
    auto* lp_timers = new TimerManager;
    QCOMPARE(timerManager, lp_timers);

    const QTimer* lp_expected[] = {&lp_timers->m_everyHalfMinute, &lp_timers->m_everyFiveMinutes,
                                   &lp_timers->m_everyHour};
    const int l_intervals[] = {30000, 300000, 3600000};
    for (int l_index = 0; l_index < 3; ++l_index) {
        QVERIFY(lp_expected[l_index]->isActive());
        QVERIFY(!lp_expected[l_index]->isSingleShot());
        QCOMPARE(lp_expected[l_index]->interval(), l_intervals[l_index]);
    }
    // Callers rely on the service and its half-minute timer sharing an address.
    QCOMPARE(static_cast<void*>(timerManager), static_cast<void*>(&timerManager->m_everyHalfMinute));
    delete lp_timers;
}

void TestTimerManager::deleteClearsTheGlobal()
{
    auto* lp_first = new TimerManager;
    auto* lp_second = new TimerManager;
    QCOMPARE(timerManager, lp_second);
    // Deleting an older one leaves the current service in place.
    delete lp_first;
    QCOMPARE(timerManager, lp_second);
    delete lp_second;
    QCOMPARE(timerManager, nullptr);
}

QTEST_GUILESS_MAIN(TestTimerManager)
#include "tst_timer_manager.moc"
