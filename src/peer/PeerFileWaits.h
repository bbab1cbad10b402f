#pragma once

#include <QtGlobal>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

class QTcpSocket;

// The file connections taken under the connection bound that introduced
// themselves and wait for their transfer token, in the order they began to
// wait. None has carried anything yet: at the bound the one that gives its
// place is found here (PeerBoundRules says which may), without a walk of
// every connection: the choice looks at MaxLooked of them at most, the
// oldest first.
class PeerFileWaits
{
public:
    static constexpr std::size_t MaxLooked = 64;
    // Whether the wait of the user's file connection, waiting i_waitedMs so
    // far, gives its place. One that does not would not having waited less.
    using Gives = std::function<bool(const std::string& i_user, qint64 i_waitedMs)>;

    // The connection from the address (host order) began to wait at
    // i_sinceMs (since the epoch). Nothing when it waits already.
    void Add(QTcpSocket* ip_socket, quint32 i_address, const std::string& i_user, qint64 i_sinceMs);
    // Its wait ended: the address it came from; nothing when it did not
    // wait.
    std::optional<quint32> Remove(QTcpSocket* ip_socket);

    // The oldest wait that gives its place at i_nowMs; null when none of
    // the first MaxLooked does. A wait stamped ahead of now has waited 0.
    // i_gives is asked once a user, as a rule (the transfer manager's
    // answer walks the user's downloads): again only for a wait of the user
    // that waited longer than the one asked about, after the clock went
    // back.
    QTcpSocket* Giver(qint64 i_nowMs, const Gives& i_gives) const;
    // When the oldest wait began; nothing when none waits.
    std::optional<qint64> OldestSince() const;

private:
    struct Wait
    {
        QTcpSocket* mp_socket = nullptr;
        quint32 m_address = 0;
        std::string m_user;
        qint64 m_sinceMs = 0;
    };
    // By the order they began in.
    std::map<quint64, Wait> m_order;
    std::unordered_map<QTcpSocket*, quint64> m_bySocket;
    quint64 m_next = 0;
};
