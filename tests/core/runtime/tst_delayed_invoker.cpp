#include "core/runtime/DelayedInvoker.h"

#include <QtTest>

#include <memory>

namespace
{
class Target : public QObject
{
    Q_OBJECT

public:
    int m_sortCalls = 0;
    int m_refreshCalls = 0;
    QThread* mp_callThread = nullptr;
    QElapsedTimer m_sinceRequest;
    qint64 m_elapsedAtCall = -1;
    bool m_askAgainOnce = false;
    // Counts calls beyond the object's life.
    int* mp_outsideCount = nullptr;

public slots:
    void Sort()
    {
        ++m_sortCalls;
        if (mp_outsideCount)
            ++*mp_outsideCount;
        mp_callThread = QThread::currentThread();
        if (m_sinceRequest.isValid())
            m_elapsedAtCall = m_sinceRequest.elapsed();
        if (m_askAgainOnce) {
            m_askAgainOnce = false;
            delayedInvoker->Invoke(this, SLOT(Sort()), 10);
        }
    }
    void Refresh()
    {
        ++m_refreshCalls;
        if (mp_outsideCount)
            ++*mp_outsideCount;
    }
};

// Runs the event loop for a while so that due timers fire.
void Spin(int i_ms)
{
    QElapsedTimer l_timer;
    l_timer.start();
    while (l_timer.elapsed() < i_ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}
}

class TestDelayedInvoker : public QObject
{
    Q_OBJECT

private slots:
    void init() { mp_invoker = std::make_unique<DelayedInvoker>(nullptr); }
    void cleanup() { mp_invoker.reset(); }

    void setsTheGlobal();
    void requestsWithinTheDelayGiveOneCall();
    void callComesAfterTheDelay();
    void eachTargetAndSlotIsItsOwnRequest();
    void slotMayAskForItselfAgain();
    void destroyedTargetGetsNoCall();
    void newObjectIsNotBlockedByADestroyedOne();
    void requestFromAnotherThreadRunsOnTheInvokerThread();
    void unknownSlotIsIgnored();
    void destroyedInvokerCallsNothing();

private:
    std::unique_ptr<DelayedInvoker> mp_invoker;
};

void TestDelayedInvoker::setsTheGlobal()
{
    QCOMPARE(delayedInvoker, mp_invoker.get());
    mp_invoker.reset();
    QCOMPARE(delayedInvoker, nullptr);
}

void TestDelayedInvoker::requestsWithinTheDelayGiveOneCall()
{
    Target l_target;
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 50);
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 50);
    delayedInvoker->Invoke(&l_target, "1Sort()", 0);
    QCOMPARE(mp_invoker->PendingCount(), 1);
    QTRY_COMPARE(l_target.m_sortCalls, 1);
    Spin(100);
    QCOMPARE(l_target.m_sortCalls, 1);

    // Once it has run, a new request gives a new call.
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 10);
    QTRY_COMPARE(l_target.m_sortCalls, 2);
    QCOMPARE(mp_invoker->PendingCount(), 0);
}

void TestDelayedInvoker::callComesAfterTheDelay()
{
    Target l_target;
    l_target.m_sinceRequest.start();
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 200);
    QCOMPARE(l_target.m_sortCalls, 0); // never synchronous
    QTRY_COMPARE(l_target.m_sortCalls, 1);
    // Coarse timers may fire up to 5% early.
    QVERIFY2(l_target.m_elapsedAtCall >= 180, qPrintable(QString::number(l_target.m_elapsedAtCall)));
    QCOMPARE(l_target.mp_callThread, QThread::currentThread());
}

void TestDelayedInvoker::eachTargetAndSlotIsItsOwnRequest()
{
    Target l_first;
    Target l_second;
    delayedInvoker->Invoke(&l_first, SLOT(Sort()), 20);
    delayedInvoker->Invoke(&l_first, SLOT(Refresh()), 20);
    delayedInvoker->Invoke(&l_second, SLOT(Sort()), 20);
    QCOMPARE(mp_invoker->PendingCount(), 3);
    QTRY_COMPARE(mp_invoker->PendingCount(), 0);
    QCOMPARE(l_first.m_sortCalls, 1);
    QCOMPARE(l_first.m_refreshCalls, 1);
    QCOMPARE(l_second.m_sortCalls, 1);
    QCOMPARE(l_second.m_refreshCalls, 0);
}

void TestDelayedInvoker::slotMayAskForItselfAgain()
{
    Target l_target;
    l_target.m_askAgainOnce = true;
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 10);
    QTRY_COMPARE(l_target.m_sortCalls, 2);
}

void TestDelayedInvoker::destroyedTargetGetsNoCall()
{
    int l_calls = 0;
    auto* lp_target = new Target;
    lp_target->mp_outsideCount = &l_calls;
    delayedInvoker->Invoke(lp_target, SLOT(Sort()), 30);
    delayedInvoker->Invoke(lp_target, SLOT(Refresh()), 30);
    QCOMPARE(mp_invoker->PendingCount(), 2);
    delete lp_target;
    QCOMPARE(mp_invoker->PendingCount(), 0);
    // Had a call reached the freed object, the sanitizer would stop the run.
    Spin(100);
    QCOMPARE(l_calls, 0);
}

void TestDelayedInvoker::newObjectIsNotBlockedByADestroyedOne()
{
    // A new object often gets the address of one just freed; its request
    // must not be taken for the dead object's pending one.
    for (int l_round = 0; l_round < 5; ++l_round) {
        auto* lp_old = new Target;
        delayedInvoker->Invoke(lp_old, SLOT(Sort()), 30);
        delete lp_old;
        auto* lp_new = new Target;
        delayedInvoker->Invoke(lp_new, SLOT(Sort()), 30);
        QCOMPARE(mp_invoker->PendingCount(), 1);
        QTRY_COMPARE(lp_new->m_sortCalls, 1);
        delete lp_new;
    }
}

void TestDelayedInvoker::requestFromAnotherThreadRunsOnTheInvokerThread()
{
    Target l_target;
    QThread* lp_worker = QThread::create([&l_target] {
        delayedInvoker->Invoke(&l_target, SLOT(Sort()), 10);
        delayedInvoker->Invoke(&l_target, SLOT(Sort()), 10);
    });
    lp_worker->start();
    QVERIFY(lp_worker->wait(5000));
    delete lp_worker;
    QTRY_COMPARE(l_target.m_sortCalls, 1);
    Spin(50);
    QCOMPARE(l_target.m_sortCalls, 1);
    QCOMPARE(l_target.mp_callThread, QThread::currentThread());
}

void TestDelayedInvoker::unknownSlotIsIgnored()
{
    Target l_target;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no method"));
    delayedInvoker->Invoke(&l_target, SLOT(NoSuchSlot()), 10);
    delayedInvoker->Invoke(nullptr, SLOT(Sort()), 10);
    delayedInvoker->Invoke(&l_target, nullptr, 10);
    QCOMPARE(mp_invoker->PendingCount(), 0);
}

void TestDelayedInvoker::destroyedInvokerCallsNothing()
{
    Target l_target;
    delayedInvoker->Invoke(&l_target, SLOT(Sort()), 20);
    mp_invoker.reset();
    Spin(80);
    QCOMPARE(l_target.m_sortCalls, 0);
}

QTEST_GUILESS_MAIN(TestDelayedInvoker)
#include "tst_delayed_invoker.moc"
