#include "peer/PeerNetworkShare.h"

#include "peer/PeerNetwork.h"

void PeerNetworkShare::Recount(std::map<quint32, Network>::iterator i_network, std::size_t i_count)
{
    if (i_network->second.m_count > 0)
        m_bySize.erase({i_network->second.m_count, i_network->first});
    i_network->second.m_count = i_count;
    if (i_count > 0)
        m_bySize.emplace(i_count, i_network->first);
    else
        m_networks.erase(i_network);
}

void PeerNetworkShare::Insert(QTcpSocket* ip_socket, const Opened& i_opened)
{
    const auto l_network = m_networks.try_emplace(i_opened.m_network).first;
    auto& l_address = l_network->second.m_addresses[i_opened.m_address];
    if (!l_address.empty())
        l_network->second.m_bySize.erase({l_address.size(), i_opened.m_address});
    l_address.emplace(i_opened.m_stamp, ip_socket);
    l_network->second.m_bySize.emplace(l_address.size(), i_opened.m_address);
    Recount(l_network, l_network->second.m_count + 1);
}

void PeerNetworkShare::Erase(QTcpSocket* ip_socket, const Opened& i_opened)
{
    const auto l_network = m_networks.find(i_opened.m_network);
    const auto l_address = l_network->second.m_addresses.find(i_opened.m_address);
    l_network->second.m_bySize.erase({l_address->second.size(), i_opened.m_address});
    l_address->second.erase({i_opened.m_stamp, ip_socket});
    if (l_address->second.empty())
        l_network->second.m_addresses.erase(l_address);
    else
        l_network->second.m_bySize.emplace(l_address->second.size(), i_opened.m_address);
    Recount(l_network, l_network->second.m_count - 1);
}

void PeerNetworkShare::AddWaiting(quint32 i_address)
{
    const auto l_network = m_networks.try_emplace(PeerNetwork::Of(i_address)).first;
    ++l_network->second.m_waiting;
    Recount(l_network, l_network->second.m_count + 1);
}

void PeerNetworkShare::RemoveWaiting(quint32 i_address)
{
    const auto l_network = m_networks.find(PeerNetwork::Of(i_address));
    if (l_network == m_networks.end() || l_network->second.m_waiting == 0)
        return;
    --l_network->second.m_waiting;
    Recount(l_network, l_network->second.m_count - 1);
}

void PeerNetworkShare::Add(QTcpSocket* ip_socket, quint32 i_address, qint64 i_msecs)
{
    const Opened l_opened{PeerNetwork::Of(i_address), i_address, Stamp{i_msecs, m_nextOrder++}};
    if (m_sockets.emplace(ip_socket, l_opened).second)
        Insert(ip_socket, l_opened);
}

void PeerNetworkShare::Touch(QTcpSocket* ip_socket, qint64 i_msecs, qint64 i_receivedThrough)
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return;
    Opened& l_opened = l_found->second;
    auto& l_address = m_networks.at(l_opened.m_network).m_addresses.at(l_opened.m_address);
    l_address.erase({l_opened.m_stamp, ip_socket});
    l_opened.m_stamp = Stamp{i_msecs, m_nextOrder++};
    if (i_receivedThrough > l_opened.m_receivedAtSent)
        l_opened.m_sentSinceHeard = false;
    l_address.emplace(l_opened.m_stamp, ip_socket);
}

void PeerNetworkShare::Sent(QTcpSocket* ip_socket, qint64 i_msecs, qint64 i_received)
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return;
    l_found->second.m_sentMsecs = i_msecs;
    l_found->second.m_receivedAtSent = i_received;
    l_found->second.m_sentSinceHeard = true;
}

bool PeerNetworkShare::AwaitsPeer(QTcpSocket* ip_socket, qint64 i_msecs, qint64 i_graceMs) const
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return false;
    const Opened& l_opened = l_found->second;
    return l_opened.m_sentSinceHeard && i_msecs - l_opened.m_sentMsecs < i_graceMs;
}

void PeerNetworkShare::Remove(QTcpSocket* ip_socket)
{
    const auto l_found = m_sockets.find(ip_socket);
    if (l_found == m_sockets.end())
        return;
    const Opened l_opened = l_found->second;
    m_sockets.erase(l_found);
    Erase(ip_socket, l_opened);
}

std::size_t PeerNetworkShare::Count(quint32 i_address) const
{
    const auto l_network = m_networks.find(PeerNetwork::Of(i_address));
    return l_network == m_networks.end() ? 0 : l_network->second.m_count;
}

std::size_t PeerNetworkShare::Waiting(quint32 i_address) const
{
    const auto l_network = m_networks.find(PeerNetwork::Of(i_address));
    return l_network == m_networks.end() ? 0 : l_network->second.m_waiting;
}

bool PeerNetworkShare::HasGiver(const Holds& i_holds) const
{
    return Largest(i_holds) != nullptr;
}

QTcpSocket* PeerNetworkShare::ChooseIn(const Network& i_network, const Holds& i_holds, bool i_lastMayGo,
                                       std::size_t& io_looked) const
{
    QTcpSocket* lp_last = nullptr;
    std::size_t l_looked = 0;
    for (auto l_address = i_network.m_bySize.rbegin(); l_address != i_network.m_bySize.rend(); ++l_address) {
        for (const auto& [l_stamp, lp_socket] : i_network.m_addresses.at(l_address->second)) {
            if (++l_looked > MaxLooked || io_looked == 0)
                return lp_last;
            --io_looked;
            const Hold l_hold = i_holds(lp_socket);
            if (l_hold == Hold::Free)
                return lp_socket;
            if (l_hold == Hold::Last && i_lastMayGo && !lp_last)
                lp_last = lp_socket;
        }
    }
    return lp_last;
}

QTcpSocket* PeerNetworkShare::Choose(std::size_t i_atLeast, const Holds& i_holds) const
{
    // Every network looked at costs at least one connection looked at: the
    // walk ends with the connections, not with a count of networks.
    std::size_t l_looked = MaxLookedInAll;
    for (auto l_network = m_bySize.rbegin(); l_network != m_bySize.rend() && l_looked > 0; ++l_network) {
        if (l_network->first <= FewConnections || l_network->first < i_atLeast)
            return nullptr;
        const Network& l_held = m_networks.at(l_network->second);
        // Waiting file connections alone: nothing to choose from.
        if (l_held.m_addresses.empty()) {
            --l_looked;
            continue;
        }
        const bool l_lastMayGo = l_network->first > KeptReplies;
        if (QTcpSocket* lp_socket = ChooseIn(l_held, i_holds, l_lastMayGo, l_looked))
            return lp_socket;
    }
    return nullptr;
}

QTcpSocket* PeerNetworkShare::Giver(quint32 i_taker, const Holds& i_holds) const
{
    return Choose(Count(i_taker) + GiveMargin, i_holds);
}

QTcpSocket* PeerNetworkShare::Largest(const Holds& i_holds) const
{
    return Choose(0, i_holds);
}

quint32 PeerNetworkShare::AddressOf(QTcpSocket* ip_socket) const
{
    const auto l_found = m_sockets.find(ip_socket);
    return l_found == m_sockets.end() ? 0 : l_found->second.m_address;
}
