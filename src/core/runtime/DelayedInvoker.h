#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <map>
#include <utility>

// Coalescing deferred calls: a view that is told of many changes in a burst
// asks for its refresh slot once per change, and the slot runs once, a moment
// after the first request.
class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    // Makes this object `delayedInvoker`.
    explicit DelayedInvoker(QObject* ip_parent);
    // Pending calls die with the invoker; clears `delayedInvoker` when it
    // points here.
    ~DelayedInvoker() override;

    // Calls ip_target's slot once, i_ms milliseconds from now, on the thread
    // of this invoker (the GUI thread). ip_slot is in the signal-slot text
    // form, as SLOT() writes it: a code digit, then the signature ("1Sort()").
    // The slot takes no arguments. A request for a target and slot that is
    // already pending is dropped; a target destroyed before its call is due
    // is not called.
    void Invoke(QObject* ip_target, const char* ip_slot, int i_ms);

    // Number of calls waiting to run.
    int PendingCount() const { return static_cast<int>(m_pending.size()); }

protected:
    void timerEvent(QTimerEvent* ip_event) override;

private:
    using Key = std::pair<QObject*, QByteArray>;

    struct Pending
    {
        QPointer<QObject> m_target;
        QByteArray m_signature;
        int m_timerId;
    };

    void Schedule(QObject* ip_target, const QByteArray& i_signature, int i_ms);
    void OnTargetDestroyed(QObject* ip_target);
    bool HasPendingFor(QObject* ip_target) const;

    std::map<Key, Pending> m_pending;
    QHash<int, Key> m_keyByTimer;
    // Targets whose destroyed() signal is already connected to us.
    QHash<QObject*, QMetaObject::Connection> m_watched;
};

extern DelayedInvoker* delayedInvoker;
