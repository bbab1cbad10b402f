#include "peer/PeerActivityOrder.h"

void PeerActivityOrder::Touch(QTcpSocket* ip_socket, qint64 i_msecs)
{
    Remove(ip_socket);
    const Stamp l_stamp{i_msecs, m_next++};
    m_stamps.emplace(ip_socket, l_stamp);
    m_order.insert({l_stamp, ip_socket});
}

void PeerActivityOrder::Remove(QTcpSocket* ip_socket)
{
    const auto l_stamp = m_stamps.find(ip_socket);
    if (l_stamp == m_stamps.end())
        return;
    m_order.erase({l_stamp->second, ip_socket});
    m_stamps.erase(l_stamp);
}

QTcpSocket* PeerActivityOrder::OldestThatMay(const std::function<bool(QTcpSocket*)>& i_may, qint64& o_msecs) const
{
    std::size_t l_looked = 0;
    for (const auto& [l_stamp, lp_socket] : m_order) {
        if (++l_looked > MaxLooked)
            break;
        if (i_may(lp_socket)) {
            o_msecs = l_stamp.first;
            return lp_socket;
        }
    }
    return nullptr;
}
