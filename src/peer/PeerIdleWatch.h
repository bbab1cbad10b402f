#pragma once

#include <QDateTime>

#include <map>
#include <vector>

class QTcpSocket;

// When each watched socket last showed traffic. The peer layer watches the
// connections that have no item of their own to carry a time: accepted
// sockets before their first message, and file connections waiting for
// their transfer token. Anyone may open such a connection and then say
// nothing; the sweep drops those that stay silent too long.
class PeerIdleWatch
{
public:
    // Starts (or restarts) the watch from i_now.
    void Watch(QTcpSocket* ip_socket, const QDateTime& i_now);
    // Renews the time of a watched socket; others are left alone.
    void Touch(QTcpSocket* ip_socket, const QDateTime& i_now);
    void Forget(QTcpSocket* ip_socket);
    bool IsWatched(QTcpSocket* ip_socket) const { return m_since.count(ip_socket) != 0; }

    // The sockets silent for more than i_limitMs at i_now.
    std::vector<QTcpSocket*> Expired(const QDateTime& i_now, qint64 i_limitMs) const;

private:
    std::map<QTcpSocket*, QDateTime> m_since;
};
