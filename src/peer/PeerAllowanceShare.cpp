#include "peer/PeerAllowanceShare.h"

#include "peer/PeerNetwork.h"

#include <algorithm>

std::size_t PeerAllowanceShare::Share(std::size_t i_allowance)
{
    return std::max<std::size_t>(1, i_allowance / 4);
}

bool PeerAllowanceShare::Place(quint32 i_address, std::size_t i_allowance, std::size_t i_held, const Test& i_live,
                               const Test& i_silent, QTcpSocket*& o_giver)
{
    o_giver = nullptr;
    CleanAll(i_allowance, i_live);
    const quint32 l_network = PeerNetwork::Of(i_address);
    Look l_own;
    if (const auto l_found = m_networks.find(l_network); l_found != m_networks.end())
        l_own = Clean(l_found->second, i_live, i_silent);
    if (l_own.m_live >= Share(i_allowance)) {
        o_giver = l_own.mp_oldestSilent;
        return o_giver != nullptr;
    }
    if (i_held < i_allowance)
        return true;
    // Full: the silent holder that came first gives, whatever its network.
    // Newcomers that came together, an honest peer's file connections say,
    // are read before as many more came, and so keep their places.
    Look l_best;
    for (auto l_network = m_networks.begin(); l_network != m_networks.end();) {
        const Look l_look = Clean(l_network->second, i_live, i_silent);
        if (l_look.mp_oldestSilent && (!l_best.mp_oldestSilent || l_look.m_silentOrder < l_best.m_silentOrder))
            l_best = l_look;
        if (l_network->second.m_holders.empty())
            l_network = m_networks.erase(l_network);
        else
            ++l_network;
    }
    o_giver = l_best.mp_oldestSilent;
    return o_giver != nullptr;
}

void PeerAllowanceShare::Took(QTcpSocket* ip_socket, quint32 i_address)
{
    m_networks[PeerNetwork::Of(i_address)].m_holders.push_back({ip_socket, m_nextOrder++});
    ++m_records;
}

PeerAllowanceShare::Look PeerAllowanceShare::Clean(Network& io_network, const Test& i_live, const Test& i_silent)
{
    ForgetLeft(io_network, i_live);
    Look l_look;
    l_look.m_live = io_network.m_holders.size();
    for (const Holder& l_holder : io_network.m_holders) {
        if (i_silent(l_holder.m_socket)) {
            l_look.mp_oldestSilent = l_holder.m_socket;
            l_look.m_silentOrder = l_holder.m_order;
            break;
        }
    }
    return l_look;
}

void PeerAllowanceShare::CleanAll(std::size_t i_allowance, const Test& i_live)
{
    if (m_records <= 2 * i_allowance)
        return;
    for (auto l_network = m_networks.begin(); l_network != m_networks.end();) {
        ForgetLeft(l_network->second, i_live);
        if (l_network->second.m_holders.empty())
            l_network = m_networks.erase(l_network);
        else
            ++l_network;
    }
}

void PeerAllowanceShare::ForgetLeft(Network& io_network, const Test& i_live)
{
    const std::size_t l_before = io_network.m_holders.size();
    std::erase_if(io_network.m_holders, [&i_live](const Holder& i_holder) {
        return !i_holder.m_socket || !i_live(i_holder.m_socket);
    });
    m_records -= l_before - io_network.m_holders.size();
}
