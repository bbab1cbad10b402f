#pragma once

#include <QtGlobal>

#include <cstddef>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

class QTcpSocket;

// The messaging connections each remote network holds (IPv4 addresses that
// agree in their first three bytes), in the order they were opened. At the
// connection bound the network that holds the most gives up its longest-open
// one for a peer whose network holds at least GiveMargin fewer, provided it
// holds more than FewConnections: a hostile then needs about as many
// networks as the bound has connections to hold it, and a network's only
// connection is never chosen. Below the bound the counts decide nothing.
// Every step costs the logarithm of the connections held, whatever their
// number.
class PeerNetworkShare
{
public:
    // A network holding this many or fewer never gives.
    static constexpr std::size_t FewConnections = 1;
    // How many fewer the taker's network must hold than the giver's: a
    // network with one fewer would give back at the next turn.
    static constexpr std::size_t GiveMargin = 2;

    static quint32 NetworkOf(quint32 i_address) { return i_address & 0xFFFFFF00u; }

    // The connection was opened now. Nothing when it is counted already.
    void Add(QTcpSocket* ip_socket, quint32 i_address);
    // The connection went. Nothing when it was not counted.
    void Remove(QTcpSocket* ip_socket);
    // The connections of the address's network.
    std::size_t Count(quint32 i_address) const;

    // Whether some network holds more than FewConnections, so that room can
    // be made for a peer of another network.
    bool HasGiver() const;
    // The longest-open connection of the network that holds the most, when
    // it gives for a peer from i_taker; null when it does not.
    QTcpSocket* Giver(quint32 i_taker) const;
    // The same whatever the taker: for a connection that no network counts.
    QTcpSocket* Largest() const;
    // The address of a counted connection; 0 when it is not counted.
    quint32 AddressOf(QTcpSocket* ip_socket) const;

private:
    struct Opened
    {
        quint32 m_network;
        quint32 m_address;
        quint64 m_order;
    };
    std::unordered_map<QTcpSocket*, Opened> m_sockets;
    // Each network's connections, longest open first.
    std::map<quint32, std::set<std::pair<quint64, QTcpSocket*>>> m_byNetwork;
    // (count, network) for every network that holds any.
    std::set<std::pair<std::size_t, quint32>> m_bySize;
    quint64 m_nextOrder = 0;
};
