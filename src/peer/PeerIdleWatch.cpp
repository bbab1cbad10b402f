#include "peer/PeerIdleWatch.h"

void PeerIdleWatch::Watch(QTcpSocket* ip_socket, const QDateTime& i_now)
{
    m_since[ip_socket] = i_now;
}

void PeerIdleWatch::Forget(QTcpSocket* ip_socket)
{
    m_since.erase(ip_socket);
}

std::vector<QTcpSocket*> PeerIdleWatch::Expired(const QDateTime& i_now, qint64 i_limitMs) const
{
    std::vector<QTcpSocket*> l_expired;
    for (const auto& [lp_socket, l_since] : m_since) {
        if (!l_since.isValid() || l_since.msecsTo(i_now) > i_limitMs)
            l_expired.push_back(lp_socket);
    }
    return l_expired;
}
