#include "peer/PeerNetworkShare.h"

void PeerNetworkShare::Add(QTcpSocket* ip_socket, quint32 i_address)
{
    const quint32 l_network = NetworkOf(i_address);
    if (!m_sockets.emplace(ip_socket, Opened{l_network, i_address, m_nextOrder}).second)
        return;
    auto& l_held = m_byNetwork[l_network];
    if (!l_held.empty())
        m_bySize.erase({l_held.size(), l_network});
    l_held.emplace(m_nextOrder++, ip_socket);
    m_bySize.emplace(l_held.size(), l_network);
}

void PeerNetworkShare::Remove(QTcpSocket* ip_socket)
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return;
    const Opened l_opened = l_found->second;
    m_sockets.erase(l_found);
    const auto l_held = m_byNetwork.find(l_opened.m_network);
    m_bySize.erase({l_held->second.size(), l_opened.m_network});
    l_held->second.erase({l_opened.m_order, ip_socket});
    if (l_held->second.empty())
        m_byNetwork.erase(l_held);
    else
        m_bySize.emplace(l_held->second.size(), l_opened.m_network);
}

std::size_t PeerNetworkShare::Count(quint32 i_address) const
{
    const auto l_held = m_byNetwork.find(NetworkOf(i_address));
    return l_held == m_byNetwork.end() ? 0 : l_held->second.size();
}

bool PeerNetworkShare::HasGiver() const
{
    return !m_bySize.empty() && m_bySize.rbegin()->first > FewConnections;
}

QTcpSocket* PeerNetworkShare::Giver(quint32 i_taker) const
{
    if (!HasGiver() || Count(i_taker) + GiveMargin > m_bySize.rbegin()->first)
        return nullptr;
    return Largest();
}

QTcpSocket* PeerNetworkShare::Largest() const
{
    if (!HasGiver())
        return nullptr;
    return m_byNetwork.at(m_bySize.rbegin()->second).begin()->second;
}

quint32 PeerNetworkShare::AddressOf(QTcpSocket* ip_socket) const
{
    const auto l_found = m_sockets.find(ip_socket);
    return l_found == m_sockets.end() ? 0 : l_found->second.m_address;
}
