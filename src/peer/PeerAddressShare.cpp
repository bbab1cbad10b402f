#include "peer/PeerAddressShare.h"

void PeerAddressShare::Add(QTcpSocket* ip_socket, quint32 i_address)
{
    if (!m_sockets.emplace(ip_socket, Opened{i_address, m_nextOrder}).second)
        return;
    auto& l_held = m_byAddress[i_address];
    if (!l_held.empty())
        m_bySize.erase({l_held.size(), i_address});
    l_held.emplace(m_nextOrder++, ip_socket);
    m_bySize.emplace(l_held.size(), i_address);
}

void PeerAddressShare::Remove(QTcpSocket* ip_socket)
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return;
    const Opened l_opened = l_found->second;
    m_sockets.erase(l_found);
    const auto l_held = m_byAddress.find(l_opened.m_address);
    m_bySize.erase({l_held->second.size(), l_opened.m_address});
    l_held->second.erase({l_opened.m_order, ip_socket});
    if (l_held->second.empty())
        m_byAddress.erase(l_held);
    else
        m_bySize.emplace(l_held->second.size(), l_opened.m_address);
}

std::size_t PeerAddressShare::Count(quint32 i_address) const
{
    const auto l_held = m_byAddress.find(i_address);
    return l_held == m_byAddress.end() ? 0 : l_held->second.size();
}

bool PeerAddressShare::HasDonor() const
{
    return !m_bySize.empty() && m_bySize.rbegin()->first > Share;
}

QTcpSocket* PeerAddressShare::Donor(quint32 i_taker) const
{
    // The largest two are enough: the taker's own address is one at most.
    auto l_largest = m_bySize.rbegin();
    for (int l_tried = 0; l_tried < 2 && l_largest != m_bySize.rend() && l_largest->first > Share; ++l_tried, ++l_largest) {
        if (l_largest->second != i_taker)
            return m_byAddress.at(l_largest->second).begin()->second;
    }
    return nullptr;
}

quint32 PeerAddressShare::AddressOf(QTcpSocket* ip_socket) const
{
    const auto l_found = m_sockets.find(ip_socket);
    return l_found == m_sockets.end() ? 0 : l_found->second.m_address;
}

bool PeerAddressShare::MayLog(quint32 i_address, const QDateTime& i_now)
{
    for (auto l_note = m_lastLogged.begin(); l_note != m_lastLogged.end();) {
        if (l_note->second.msecsTo(i_now) >= LogEveryMs || l_note->second.msecsTo(i_now) < 0)
            l_note = m_lastLogged.erase(l_note);
        else
            ++l_note;
    }
    return m_lastLogged.emplace(i_address, i_now).second;
}
