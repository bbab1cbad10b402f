#pragma once

#include <QPointer>
#include <QTcpSocket>

#include <cstddef>
#include <deque>
#include <functional>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

// Outgoing connection attempts of one kind (a lane): at most MaxInFlight
// connect at once, and at most MaxInFlightPerNetwork of them to one remote
// network (IPv4 addresses that agree in their first three bytes). Later ones
// wait their turn, each network's in the order they came, the oldest first
// across networks. A storm of relayed requests would otherwise hold hundreds
// of half-open connects, each a descriptor, for the minute an attempt may
// last; and one user, or one network, whose port never answers would hold
// every place. Waiting attempts keep that minute from when they were made;
// the caller ends them as it ends any attempt, and a socket that goes is no
// longer waited for.
//
// Every step costs at most the logarithm of the attempts waiting; a pass
// over them visits each network that waits once, whatever its attempts.
class PeerAttemptQueue
{
public:
    static constexpr std::size_t MaxInFlight = 64;
    static constexpr std::size_t MaxInFlightPerNetwork = 8;
    static constexpr std::size_t MaxWaiting = 1000;

    static quint32 NetworkOf(quint32 i_address) { return i_address & 0xFFFFFF00u; }

    struct Attempt
    {
        QPointer<QTcpSocket> mp_socket;
        quint32 m_address = 0;
        quint16 m_port = 0;
    };

    // What became of an attempt offered by StartWaiting.
    enum class Outcome
    {
        // It began to connect (Started was called for it).
        Started,
        // It no longer stands; the next is offered.
        Gone,
        // No room for its network: it stays first of its network, and the
        // other networks' attempts are offered.
        NoRoom,
        // No room for anyone: it stays first, and the pass ends.
        NoRoomForAny
    };

    // Attempts that still connect; the others are let go.
    std::size_t InFlight();
    // Whether an attempt to the address may begin at once: the lane and
    // the network have places, and no attempt of the network waits before
    // it.
    bool MayStartNow(quint32 i_address);
    // Counts a socket that has begun to connect to the address.
    void Started(QTcpSocket* ip_socket, quint32 i_address);

    // Queues an attempt. Returns the sockets of the attempts dropped to keep
    // the queue within MaxWaiting (the caller fails them): the oldest of the
    // network that has the most waiting, so that a crowd drops its own.
    std::vector<QTcpSocket*> Wait(const Attempt& i_attempt);
    // Offers the waiting attempts, each network's first while the network
    // has a place, the oldest first, as long as the lane has places. Each
    // is out of the queue while i_start runs, which may queue more and
    // start them. true when an attempt was left for want of room.
    bool StartWaiting(const std::function<Outcome(const Attempt&)>& i_start);
    std::size_t Waiting() const { return m_waiting; }

private:
    struct Waiter
    {
        quint64 m_order;
        Attempt m_attempt;
    };
    using NetworkKey = std::pair<quint64, quint32>;

    // Drops in-flight attempts that stopped connecting, and recounts each
    // network's.
    void Prune();
    std::size_t InFlightOf(quint32 i_network) const;
    void Push(quint32 i_network, Waiter i_waiter, bool i_front);
    Waiter PopFront(quint32 i_network);
    // Takes the network's queue out of the indexes, or puts it back.
    void Unindex(quint32 i_network, const std::deque<Waiter>& i_queue);
    void Index(quint32 i_network, const std::deque<Waiter>& i_queue);

    std::vector<std::pair<QPointer<QTcpSocket>, quint32>> m_inFlight;
    std::unordered_map<quint32, std::size_t> m_inFlightByNetwork;
    std::unordered_map<quint32, std::deque<Waiter>> m_byNetwork;
    // (order of the network's first waiting attempt, network).
    std::set<NetworkKey> m_firsts;
    // (attempts waiting, network).
    std::set<std::pair<std::size_t, quint32>> m_bySize;
    std::size_t m_waiting = 0;
    quint64 m_nextOrder = 0;
};
