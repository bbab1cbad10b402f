#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <cstddef>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

class QTcpSocket;

// The messaging connections each remote address holds, in the order they
// were opened. At the connection bound an address holding more than its
// share gives up its longest-open one so that a peer from another address
// can be taken; below the bound the counts decide nothing. Every step costs
// the logarithm of the connections held, whatever their number.
class PeerAddressShare
{
public:
    // Far above what one user opens, with room for several users behind one
    // address (a shared gateway).
    static constexpr std::size_t Share = 64;
    // How often the log tells about one address at most.
    static constexpr qint64 LogEveryMs = 60000;

    // The connection was opened now. Nothing when it is counted already.
    void Add(QTcpSocket* ip_socket, quint32 i_address);
    // The connection went. Nothing when it was not counted.
    void Remove(QTcpSocket* ip_socket);
    std::size_t Count(quint32 i_address) const;

    // Whether any address holds more than its share.
    bool HasDonor() const;
    // The longest-open connection of the address that holds the most
    // connections beyond its share, i_taker's own excepted; null when no
    // other address holds more than its share.
    QTcpSocket* Donor(quint32 i_taker) const;
    // The address of a counted connection; 0 when it is not counted.
    quint32 AddressOf(QTcpSocket* ip_socket) const;

    // true when nothing was logged about the address in the last
    // LogEveryMs; notes i_now as its last time then. Forgets addresses last
    // logged longer ago, so that the notes stay few.
    bool MayLog(quint32 i_address, const QDateTime& i_now);

private:
    struct Opened
    {
        quint32 m_address;
        quint64 m_order;
    };
    std::unordered_map<QTcpSocket*, Opened> m_sockets;
    // Each address's connections, longest open first.
    std::map<quint32, std::set<std::pair<quint64, QTcpSocket*>>> m_byAddress;
    // (count, address) for every address that holds any.
    std::set<std::pair<std::size_t, quint32>> m_bySize;
    std::map<quint32, QDateTime> m_lastLogged;
    quint64 m_nextOrder = 0;
};
