#include "peer/PeerBrowseWatch.h"

void PeerBrowseWatch::Asked(const std::string& i_user)
{
    m_asks[i_user].m_resent = false;
}

void PeerBrowseWatch::Answered(const std::string& i_user)
{
    const auto l_ask = m_asks.find(i_user);
    if (l_ask == m_asks.end())
        return;
    Uncarry(i_user, l_ask->second.mp_carrier);
    m_asks.erase(l_ask);
}

void PeerBrowseWatch::Carried(const std::string& i_user, QTcpSocket* ip_socket)
{
    const auto l_ask = m_asks.find(i_user);
    if (l_ask == m_asks.end() || l_ask->second.mp_carrier == ip_socket)
        return;
    Uncarry(i_user, l_ask->second.mp_carrier);
    l_ask->second.mp_carrier = ip_socket;
    m_byCarrier.emplace(ip_socket, i_user);
}

std::vector<std::string> PeerBrowseWatch::Lost(QTcpSocket* ip_socket)
{
    std::vector<std::string> l_users;
    const auto [l_first, l_end] = m_byCarrier.equal_range(ip_socket);
    for (auto l_carried = l_first; l_carried != l_end; ++l_carried) {
        m_asks[l_carried->second].mp_carrier = nullptr;
        l_users.push_back(l_carried->second);
    }
    m_byCarrier.erase(l_first, l_end);
    return l_users;
}

bool PeerBrowseWatch::TakeResend(const std::string& i_user)
{
    const auto l_ask = m_asks.find(i_user);
    if (l_ask == m_asks.end() || l_ask->second.m_resent)
        return false;
    l_ask->second.m_resent = true;
    return true;
}

void PeerBrowseWatch::Uncarry(const std::string& i_user, QTcpSocket* ip_carrier)
{
    if (!ip_carrier)
        return;
    const auto [l_first, l_end] = m_byCarrier.equal_range(ip_carrier);
    for (auto l_carried = l_first; l_carried != l_end; ++l_carried) {
        if (l_carried->second == i_user) {
            m_byCarrier.erase(l_carried);
            return;
        }
    }
}
