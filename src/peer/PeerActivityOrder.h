#pragma once

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <set>
#include <unordered_map>
#include <utility>

class QTcpSocket;

// The messaging connections ordered by their last activity, so that the one
// silent longest is found at the bound without walking them all: a peer
// that reconnects as fast as it is closed would otherwise have every accept
// cost a walk of the whole bound.
class PeerActivityOrder
{
public:
    // The connection was active at i_msecs (since the epoch); it is added
    // when it is not there yet.
    void Touch(QTcpSocket* ip_socket, qint64 i_msecs);
    // Nothing when it is not there.
    void Remove(QTcpSocket* ip_socket);
    // The connection silent longest among those i_may lets go, and its last
    // activity; null when there is none. Looks at MaxLooked connections at
    // most, the silent longest first.
    QTcpSocket* OldestThatMay(const std::function<bool(QTcpSocket*)>& i_may, qint64& o_msecs) const;
    static constexpr std::size_t MaxLooked = 64;
    bool Empty() const { return m_order.empty(); }

private:
    // (last activity, the order it was noted in): of two connections active
    // in the same millisecond the first noted goes first.
    using Stamp = std::pair<qint64, quint64>;
    std::unordered_map<QTcpSocket*, Stamp> m_stamps;
    std::set<std::pair<Stamp, QTcpSocket*>> m_order;
    quint64 m_next = 0;
};
