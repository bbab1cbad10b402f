#include "peer/PeerAttemptQueue.h"

#include <algorithm>

std::size_t PeerAttemptQueue::InFlight()
{
    std::erase_if(m_inFlight, [](const QPointer<QTcpSocket>& i_socket) {
        if (!i_socket)
            return true;
        const QAbstractSocket::SocketState l_state = i_socket->state();
        return l_state != QAbstractSocket::HostLookupState && l_state != QAbstractSocket::ConnectingState;
    });
    return m_inFlight.size();
}

void PeerAttemptQueue::Started(QTcpSocket* ip_socket)
{
    m_inFlight.emplace_back(ip_socket);
}

std::vector<QTcpSocket*> PeerAttemptQueue::Wait(const Attempt& i_attempt)
{
    m_waiting.push_back(i_attempt);
    std::vector<QTcpSocket*> l_dropped;
    while (m_waiting.size() > MaxWaiting) {
        if (QTcpSocket* lp_socket = m_waiting.front().mp_socket)
            l_dropped.push_back(lp_socket);
        m_waiting.pop_front();
    }
    return l_dropped;
}

const PeerAttemptQueue::Attempt* PeerAttemptQueue::Next()
{
    while (!m_waiting.empty() && !m_waiting.front().mp_socket)
        m_waiting.pop_front();
    return m_waiting.empty() ? nullptr : &m_waiting.front();
}
