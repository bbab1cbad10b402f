#pragma once

#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <map>
#include <vector>

class QTcpSocket;

// When each watched socket began the wait it is timed for. The peer layer
// watches the connections that have no item of their own to carry a time:
// accepted sockets before their first message, and file connections waiting
// for their transfer token. Anyone may open such a connection and then say
// nothing, or say it a byte at a time; the sweep drops those whose wait has
// lasted too long. Traffic does not renew the time: only the awaited
// message or token ends the wait.
//
// Accepted sockets that wait are also bounded in number: each holds a
// descriptor, and without a bound anyone could take them all before the
// sweep, leaving none for peers that introduce themselves.
class PeerIdleWatch
{
public:
    // Accepted sockets that may wait at once, across both listeners.
    static constexpr std::size_t AcceptedLimit = 256;

    // Starts the watch of a socket of ours from i_nowMs (since the epoch).
    void Watch(QTcpSocket* ip_socket, qint64 i_nowMs);
    // Starts the watch of an accepted socket from i_now. Returns the oldest
    // accepted socket still waiting when more than the limit now wait (the
    // caller closes it, which ends its watch), or null.
    QTcpSocket* WatchAccepted(QTcpSocket* ip_socket, qint64 i_nowMs);
    void Forget(QTcpSocket* ip_socket);
    // An accepted socket introduced itself and waits for its token: timed
    // still, but no longer one of the accepted sockets the limit closes.
    void Spoke(QTcpSocket* ip_socket);
    bool IsWatched(QTcpSocket* ip_socket) const { return m_since.count(ip_socket) != 0; }

    // The sockets watched for more than i_limitMs at i_nowMs.
    std::vector<QTcpSocket*> Expired(qint64 i_nowMs, qint64 i_limitMs) const;

private:
    std::map<QTcpSocket*, qint64> m_since;
    // The accepted sockets among them, oldest first.
    std::deque<QTcpSocket*> m_accepted;
};
