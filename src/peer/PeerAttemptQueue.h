#pragma once

#include <QPointer>
#include <QTcpSocket>

#include <cstddef>
#include <deque>
#include <vector>

// Outgoing connection attempts: at most MaxInFlight connect at once, later
// ones wait their turn in the order they came. A storm of relayed requests
// would otherwise hold hundreds of half-open connects, each a descriptor,
// for the minute an attempt may last. Waiting attempts keep that minute
// from when they were made; the caller ends them as it ends any attempt,
// and a socket that goes is no longer waited for.
class PeerAttemptQueue
{
public:
    static constexpr std::size_t MaxInFlight = 64;
    static constexpr std::size_t MaxWaiting = 1000;

    struct Attempt
    {
        QPointer<QTcpSocket> mp_socket;
        quint32 m_address = 0;
        quint16 m_port = 0;
    };

    // Attempts that still connect; the others are let go.
    std::size_t InFlight();
    bool MayStart() { return InFlight() < MaxInFlight; }
    // Counts a socket that has begun to connect.
    void Started(QTcpSocket* ip_socket);

    // Queues an attempt. Returns the sockets of the oldest attempts dropped
    // to keep the queue within MaxWaiting (the caller fails them).
    std::vector<QTcpSocket*> Wait(const Attempt& i_attempt);
    // The oldest attempt still waiting whose socket is alive; null when
    // there is none. It stays first until Pop.
    const Attempt* Next();
    void Pop() { m_waiting.pop_front(); }
    std::size_t Waiting() const { return m_waiting.size(); }

private:
    std::vector<QPointer<QTcpSocket>> m_inFlight;
    std::deque<Attempt> m_waiting;
};
