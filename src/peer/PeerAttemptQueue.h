#pragma once

#include <QPointer>
#include <QTcpSocket>

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

// Outgoing connection attempts of one kind (a lane): at most MaxInFlight
// connect at once, and at most MaxInFlightPerNetwork of them to one remote
// network (PeerNetwork). Later ones wait their turn, each network's in the
// order they came. A storm of relayed requests would otherwise hold hundreds
// of half-open connects, each a descriptor, for the minute an attempt may
// last; and one user, or one network, whose port never answers would hold
// every place.
//
// Whose turn it is: a network with no attempt connecting goes before the
// networks that hold places, and among either the one served least recently
// (an attempt of it began) goes first, then the one that waits longest. A
// few networks whose attempts wait therefore cannot keep every place that
// frees: a newcomer network has the next one. Waiting attempts keep the
// minute from when they were made; the caller ends them as it ends any
// attempt, and a socket that goes is no longer waited for.
//
// Every step costs at most the logarithm of the attempts waiting, or the
// attempts in flight; a pass over them visits each network that waits
// about once, whatever its attempts. A waiter whose socket went is dropped
// where a step meets it, once, at the cost of one step.
class PeerAttemptQueue
{
public:
    static constexpr std::size_t MaxInFlight = 64;
    static constexpr std::size_t MaxInFlightPerNetwork = 8;
    static constexpr std::size_t MaxWaiting = 1000;

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
    // Whether an attempt to the address may begin at once: nothing waits
    // in the lane, and the lane and the network have places.
    bool MayStartNow(quint32 i_address);
    // Counts a socket that has begun to connect to the address; its network
    // was served now.
    void Started(QTcpSocket* ip_socket, quint32 i_address);

    // Queues an attempt. Returns the sockets of the attempts dropped to keep
    // the queue within MaxWaiting (the caller fails them): the oldest of the
    // network that has the most waiting, so that a crowd drops its own; of
    // networks with as many, the one whose oldest waits longest.
    std::vector<QTcpSocket*> Wait(const Attempt& i_attempt);
    // Offers the waiting attempts, each network's first in turn while the
    // network has a place, as long as the lane has places. Each is out of
    // the queue while i_start runs, which may queue more and start them.
    // true when an attempt was left for want of room.
    bool StartWaiting(const std::function<Outcome(const Attempt&)>& i_start);
    std::size_t Waiting() const { return m_waiting; }

    // When every place is taken and a network with no attempt connecting
    // waits with an attempt that still stands: the oldest attempt of the
    // network with the most connecting (two or more), which no longer counts
    // here; the caller ends it as a failed attempt. Null otherwise.
    QTcpSocket* TakePlaceForNewcomer();

private:
    struct Waiter
    {
        quint64 m_order;
        Attempt m_attempt;
    };
    // (holds a place, served last, order of its first waiting attempt,
    // network): the smallest has the next turn.
    using TurnKey = std::tuple<bool, quint64, quint64, quint32>;
    // (attempts waiting, the order of the first counted down, network): the
    // largest drops its oldest.
    using SizeKey = std::tuple<std::size_t, quint64, quint32>;
    struct Network
    {
        std::deque<Waiter> m_queue;
        TurnKey m_turn;
        SizeKey m_size;
    };

    // Drops in-flight attempts that stopped connecting, and recounts each
    // network's.
    void Prune();
    std::size_t InFlightOf(quint32 i_network) const;
    void Push(quint32 i_network, Waiter i_waiter, bool i_front);
    Waiter PopFront(quint32 i_network);
    // Takes the network's queue out of the indexes, or puts it back under
    // its present keys.
    void Unindex(quint32 i_network);
    void Index(quint32 i_network);
    // The network's place count or last service changed: its turn moves.
    void Rekey(quint32 i_network);

    std::vector<std::pair<QPointer<QTcpSocket>, quint32>> m_inFlight;
    std::unordered_map<quint32, std::size_t> m_inFlightByNetwork;
    // When each network was served last; forgotten once it neither waits
    // nor connects.
    std::unordered_map<quint32, quint64> m_served;
    std::unordered_map<quint32, Network> m_byNetwork;
    std::set<TurnKey> m_turns;
    std::set<SizeKey> m_bySize;
    std::size_t m_waiting = 0;
    quint64 m_nextOrder = 0;
    quint64 m_serveClock = 0;
};
