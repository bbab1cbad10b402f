#include "core/runtime/DelayedInvoker.h"

#include <QMetaMethod>
#include <QThread>
#include <QTimerEvent>
#include <QtDebug>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* ip_parent) : QObject(ip_parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    for (const auto& l_connection : std::as_const(m_watched))
        disconnect(l_connection);
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* ip_target, const char* ip_slot, int i_ms)
{
    if (!ip_target || !ip_slot || !*ip_slot)
        return;
    // Skip the code digit that SLOT() puts before the signature.
    const char* lp_signature = (*ip_slot >= '0' && *ip_slot <= '9') ? ip_slot + 1 : ip_slot;
    const QByteArray l_signature = QMetaObject::normalizedSignature(lp_signature);

    if (QThread::currentThread() != thread()) {
        // Timers belong to our thread; hand the request over to it.
        QPointer<QObject> l_target(ip_target);
        QMetaObject::invokeMethod(
            this,
            [this, l_target, l_signature, i_ms] {
                if (l_target)
                    Schedule(l_target.data(), l_signature, i_ms);
            },
            Qt::QueuedConnection);
        return;
    }
    Schedule(ip_target, l_signature, i_ms);
}

void DelayedInvoker::Schedule(QObject* ip_target, const QByteArray& i_signature, int i_ms)
{
    Key l_key(ip_target, i_signature);
    if (m_pending.count(l_key))
        return;
    if (ip_target->metaObject()->indexOfMethod(i_signature.constData()) < 0) {
        qWarning("DelayedInvoker: %s has no method %s", ip_target->metaObject()->className(),
                 i_signature.constData());
        return;
    }
    const int l_timerId = startTimer(i_ms < 0 ? 0 : i_ms);
    if (l_timerId == 0)
        return;
    m_pending.emplace(l_key, Pending{QPointer<QObject>(ip_target), i_signature, l_timerId});
    m_keyByTimer.insert(l_timerId, l_key);
    if (!m_watched.contains(ip_target)) {
        // A destroyed target's address may be reused by a new object: forget
        // its requests at once, so they neither fire nor block new ones.
        m_watched.insert(ip_target, connect(ip_target, &QObject::destroyed, this,
                                            [this, ip_target] { OnTargetDestroyed(ip_target); }));
    }
}

void DelayedInvoker::OnTargetDestroyed(QObject* ip_target)
{
    m_watched.remove(ip_target);
    for (auto l_it = m_pending.begin(); l_it != m_pending.end();) {
        if (l_it->first.first == ip_target) {
            killTimer(l_it->second.m_timerId);
            m_keyByTimer.remove(l_it->second.m_timerId);
            l_it = m_pending.erase(l_it);
        } else {
            ++l_it;
        }
    }
}

bool DelayedInvoker::HasPendingFor(QObject* ip_target) const
{
    const auto l_it = m_pending.lower_bound(Key(ip_target, QByteArray()));
    return l_it != m_pending.end() && l_it->first.first == ip_target;
}

void DelayedInvoker::timerEvent(QTimerEvent* ip_event)
{
    const int l_timerId = ip_event->timerId();
    killTimer(l_timerId);
    const auto l_keyIt = m_keyByTimer.find(l_timerId);
    if (l_keyIt == m_keyByTimer.end())
        return;
    const Key l_key = l_keyIt.value();
    m_keyByTimer.erase(l_keyIt);
    const auto l_it = m_pending.find(l_key);
    if (l_it == m_pending.end())
        return;
    const Pending l_pending = l_it->second;
    m_pending.erase(l_it);

    QObject* lp_target = l_pending.m_target.data();
    if (!lp_target)
        return;
    if (!HasPendingFor(lp_target)) {
        const auto l_watch = m_watched.find(lp_target);
        if (l_watch != m_watched.end()) {
            disconnect(l_watch.value());
            m_watched.erase(l_watch);
        }
    }
    // The entry is gone before the call, so the slot may ask for itself again.
    const int l_index = lp_target->metaObject()->indexOfMethod(l_pending.m_signature.constData());
    if (l_index >= 0)
        lp_target->metaObject()->method(l_index).invoke(lp_target, Qt::DirectConnection);
}
