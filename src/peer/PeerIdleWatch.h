#pragma once

#include <QDateTime>

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
class PeerIdleWatch
{
public:
    // Starts the watch from i_now.
    void Watch(QTcpSocket* ip_socket, const QDateTime& i_now);
    void Forget(QTcpSocket* ip_socket);
    bool IsWatched(QTcpSocket* ip_socket) const { return m_since.count(ip_socket) != 0; }

    // The sockets watched for more than i_limitMs at i_now.
    std::vector<QTcpSocket*> Expired(const QDateTime& i_now, qint64 i_limitMs) const;

private:
    std::map<QTcpSocket*, QDateTime> m_since;
};
