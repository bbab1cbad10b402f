#include "peer/PeerIdleWatch.h"

#include <algorithm>

void PeerIdleWatch::Watch(QTcpSocket* ip_socket, qint64 i_nowMs)
{
    m_since[ip_socket] = i_nowMs;
}

QTcpSocket* PeerIdleWatch::WatchAccepted(QTcpSocket* ip_socket, qint64 i_nowMs)
{
    if (m_since.count(ip_socket) == 0)
        m_accepted.push_back(ip_socket);
    Watch(ip_socket, i_nowMs);
    return m_accepted.size() > AcceptedLimit ? m_accepted.front() : nullptr;
}

void PeerIdleWatch::Forget(QTcpSocket* ip_socket)
{
    if (m_since.erase(ip_socket) == 0)
        return;
    const auto l_accepted = std::find(m_accepted.begin(), m_accepted.end(), ip_socket);
    if (l_accepted != m_accepted.end())
        m_accepted.erase(l_accepted);
}

void PeerIdleWatch::Spoke(QTcpSocket* ip_socket)
{
    const auto l_accepted = std::find(m_accepted.begin(), m_accepted.end(), ip_socket);
    if (l_accepted != m_accepted.end())
        m_accepted.erase(l_accepted);
}

std::vector<QTcpSocket*> PeerIdleWatch::Expired(qint64 i_nowMs, qint64 i_limitMs) const
{
    std::vector<QTcpSocket*> l_expired;
    for (const auto& [lp_socket, l_since] : m_since) {
        if (i_nowMs - l_since > i_limitMs)
            l_expired.push_back(lp_socket);
    }
    return l_expired;
}
