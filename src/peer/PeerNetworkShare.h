#pragma once

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

class QTcpSocket;

// The messaging connections each remote network (PeerNetwork) holds, and
// which one goes when a network gives. At the connection bound the network
// that holds the most gives up one connection for a peer whose network
// holds at least GiveMargin fewer, provided it holds more than
// FewConnections: a hostile then needs about as many networks as the bound
// has connections to hold it, and a network's only connection is never
// chosen. Below the bound the counts decide nothing.
//
// Inside the network that gives, the connection that goes is one of the
// address that holds the most there, and of those the one silent longest:
// a crowd at one address gives before a neighbour's only connection. How a
// connection holds on is asked of the caller as the candidates are looked
// at: one that carries a reply goes only when its network has nothing else
// to give, and only from a network of more than KeptReplies; one to a user
// we have work with never goes. A network left with nothing to give is
// passed over for the next largest, and costs the choice only the
// connections looked at in it: a hostile that keeps every connection of a
// few networks busy does not stop the next network from giving.
//
// A network's file connections that wait for their transfer token count in
// it too (AddWaiting), but are never chosen here: the messenger closes
// those that may go before any messaging connection (PeerFileWaits), and
// those that hold on make their network the larger.
//
// Every step costs the logarithm of the connections held. A choice looks at
// no more than MaxLooked connections of one network and MaxLookedInAll in
// all, whatever their number; networks it passes over unlooked cost it
// nothing, and one that holds waiting file connections alone costs it one
// look. Whether there is a giver is the choice for work of ours (Largest),
// so the two agree.
class PeerNetworkShare
{
public:
    // A network holding this many or fewer never gives.
    static constexpr std::size_t FewConnections = 1;
    // How many fewer the taker's network must hold than the giver's: a
    // network with one fewer would give back at the next turn.
    static constexpr std::size_t GiveMargin = 2;
    // A network holding this many or fewer keeps its connections that carry
    // a reply: a few users of one network, all in the middle of an exchange
    // with us, are not cut for a crowd spread over many networks, nor for a
    // file connection of ours to their neighbour. A crowd on one network
    // beyond it gives them last, so that it cannot hold its places by
    // keeping every connection busy.
    static constexpr std::size_t KeptReplies = 8;
    // The most connections one choice looks at in one network, and in all:
    // it gets past MaxLookedInAll / KeptReplies networks of a few whose
    // connections all carry replies, and past four crowds whose first
    // MaxLooked all hold on.
    static constexpr std::size_t MaxLooked = 64;
    static constexpr std::size_t MaxLookedInAll = 4 * MaxLooked;

    enum class Hold
    {
        // May go.
        Free,
        // Goes only when its network has no free one.
        Last,
        // Never goes.
        Never
    };
    using Holds = std::function<Hold(QTcpSocket*)>;

    // The connection was opened, active at i_msecs (since the epoch).
    // Nothing when it is counted already.
    void Add(QTcpSocket* ip_socket, quint32 i_address, qint64 i_msecs);
    // The connection was active at i_msecs. Nothing when it is not counted.
    // i_receivedThrough: the peer's bytes on it up to the end of what made
    // it active. Only what the peer sent after the bytes that had reached us
    // when we last sent can answer that; without a count, anything does.
    void Touch(QTcpSocket* ip_socket, qint64 i_msecs,
               qint64 i_receivedThrough = std::numeric_limits<qint64>::max());
    // We sent on the connection at i_msecs, when i_received bytes of the
    // peer's on it had reached us, read or not. Nothing when it is not
    // counted.
    void Sent(QTcpSocket* ip_socket, qint64 i_msecs, qint64 i_received = 0);
    // Whether we sent on the connection within i_graceMs before i_msecs and
    // have heard nothing on it since: the peer is yet to act on what we
    // said (a listing, a transfer request). A request of the peer's that
    // came with its introduction, say, and was read after we sent, was
    // sent before the peer could read ours: it is not heard since.
    bool AwaitsPeer(QTcpSocket* ip_socket, qint64 i_msecs, qint64 i_graceMs) const;
    // The connection went. Nothing when it was not counted.
    void Remove(QTcpSocket* ip_socket);
    // A file connection from the address began / ended its wait for its
    // transfer token. Ending one that was not counted does nothing.
    void AddWaiting(quint32 i_address);
    void RemoveWaiting(quint32 i_address);
    // The connections of the address's network, its waiting file
    // connections included, and those alone.
    std::size_t Count(quint32 i_address) const;
    std::size_t Waiting(quint32 i_address) const;

    // Whether a connection would go for work of ours (Largest finds one):
    // a network holds more than FewConnections, and one of them may go.
    bool HasGiver(const Holds& i_holds) const;
    // The connection that goes for a peer from i_taker; null when none
    // does.
    QTcpSocket* Giver(quint32 i_taker, const Holds& i_holds) const;
    // The same whatever the taker: for work of ours, which no network
    // counts.
    QTcpSocket* Largest(const Holds& i_holds) const;
    // The address of a counted connection; 0 when it is not counted.
    quint32 AddressOf(QTcpSocket* ip_socket) const;

private:
    // (last activity, the order it was noted in): of two connections active
    // in the same millisecond the first noted goes first.
    using Stamp = std::pair<qint64, quint64>;
    struct Opened
    {
        quint32 m_network;
        quint32 m_address;
        Stamp m_stamp;
        // When we last sent on it, the peer's bytes on it that had reached
        // us then, and whether the peer has sent nothing after those bytes
        // that we have read since.
        qint64 m_sentMsecs = 0;
        qint64 m_receivedAtSent = 0;
        bool m_sentSinceHeard = false;
    };
    struct Network
    {
        // Its messaging connections and its waiting file connections.
        std::size_t m_count = 0;
        std::size_t m_waiting = 0;
        // Each address's connections, silent longest first.
        std::unordered_map<quint32, std::set<std::pair<Stamp, QTcpSocket*>>> m_addresses;
        // (connections, address) for every address that holds any.
        std::set<std::pair<std::size_t, quint32>> m_bySize;
    };

    // The network's next largest to the taker's margin, from the largest.
    QTcpSocket* Choose(std::size_t i_atLeast, const Holds& i_holds) const;
    // The connection of the network that goes; null when none may. Each
    // connection looked at counts down io_looked, the connections the
    // choice may still look at.
    QTcpSocket* ChooseIn(const Network& i_network, const Holds& i_holds, bool i_lastMayGo,
                         std::size_t& io_looked) const;
    void Insert(QTcpSocket* ip_socket, const Opened& i_opened);
    void Erase(QTcpSocket* ip_socket, const Opened& i_opened);
    // Gives the network its new count, and forgets it once it holds none.
    void Recount(std::map<quint32, Network>::iterator i_network, std::size_t i_count);

    std::unordered_map<QTcpSocket*, Opened> m_sockets;
    std::map<quint32, Network> m_networks;
    // (count, network) for every network that holds any.
    std::set<std::pair<std::size_t, quint32>> m_bySize;
    quint64 m_nextOrder = 0;
};
