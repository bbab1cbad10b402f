#include "peer/PeerAttemptQueue.h"

#include <algorithm>

void PeerAttemptQueue::Prune()
{
    std::erase_if(m_inFlight, [](const std::pair<QPointer<QTcpSocket>, quint32>& i_entry) {
        if (!i_entry.first)
            return true;
        const QAbstractSocket::SocketState l_state = i_entry.first->state();
        return l_state != QAbstractSocket::HostLookupState && l_state != QAbstractSocket::ConnectingState;
    });
    m_inFlightByNetwork.clear();
    for (const auto& [lp_socket, l_network] : m_inFlight)
        ++m_inFlightByNetwork[l_network];
}

std::size_t PeerAttemptQueue::InFlight()
{
    Prune();
    return m_inFlight.size();
}

std::size_t PeerAttemptQueue::InFlightOf(quint32 i_network) const
{
    const auto l_found = m_inFlightByNetwork.find(i_network);
    return l_found == m_inFlightByNetwork.end() ? 0 : l_found->second;
}

bool PeerAttemptQueue::MayStartNow(quint32 i_address)
{
    Prune();
    const quint32 l_network = NetworkOf(i_address);
    return m_inFlight.size() < MaxInFlight && InFlightOf(l_network) < MaxInFlightPerNetwork
           && !m_byNetwork.contains(l_network);
}

void PeerAttemptQueue::Started(QTcpSocket* ip_socket, quint32 i_address)
{
    const quint32 l_network = NetworkOf(i_address);
    m_inFlight.emplace_back(ip_socket, l_network);
    ++m_inFlightByNetwork[l_network];
}

void PeerAttemptQueue::Unindex(quint32 i_network, const std::deque<Waiter>& i_queue)
{
    if (i_queue.empty())
        return;
    m_firsts.erase({i_queue.front().m_order, i_network});
    m_bySize.erase({i_queue.size(), i_network});
}

void PeerAttemptQueue::Index(quint32 i_network, const std::deque<Waiter>& i_queue)
{
    if (i_queue.empty())
        return;
    m_firsts.emplace(i_queue.front().m_order, i_network);
    m_bySize.emplace(i_queue.size(), i_network);
}

void PeerAttemptQueue::Push(quint32 i_network, Waiter i_waiter, bool i_front)
{
    std::deque<Waiter>& l_queue = m_byNetwork[i_network];
    Unindex(i_network, l_queue);
    if (i_front)
        l_queue.push_front(std::move(i_waiter));
    else
        l_queue.push_back(std::move(i_waiter));
    Index(i_network, l_queue);
    ++m_waiting;
}

PeerAttemptQueue::Waiter PeerAttemptQueue::PopFront(quint32 i_network)
{
    const auto l_found = m_byNetwork.find(i_network);
    std::deque<Waiter>& l_queue = l_found->second;
    Unindex(i_network, l_queue);
    Waiter l_first = std::move(l_queue.front());
    l_queue.pop_front();
    --m_waiting;
    if (l_queue.empty())
        m_byNetwork.erase(l_found);
    else
        Index(i_network, l_queue);
    return l_first;
}

std::vector<QTcpSocket*> PeerAttemptQueue::Wait(const Attempt& i_attempt)
{
    Push(NetworkOf(i_attempt.m_address), Waiter{m_nextOrder++, i_attempt}, false);
    std::vector<QTcpSocket*> l_dropped;
    while (m_waiting > MaxWaiting) {
        if (QTcpSocket* lp_socket = PopFront(m_bySize.rbegin()->second).m_attempt.mp_socket)
            l_dropped.push_back(lp_socket);
    }
    return l_dropped;
}

bool PeerAttemptQueue::StartWaiting(const std::function<Outcome(const Attempt&)>& i_start)
{
    Prune();
    bool l_leftForRoom = false;
    // Walked by key, not by iterator: i_start may queue attempts, and a
    // network whose first began comes again later with its next one.
    NetworkKey l_after{0, 0};
    bool l_first = true;
    while (m_inFlight.size() < MaxInFlight) {
        const auto l_next = l_first ? m_firsts.begin() : m_firsts.upper_bound(l_after);
        if (l_next == m_firsts.end())
            break;
        l_first = false;
        l_after = *l_next;
        const quint32 l_network = l_next->second;
        if (InFlightOf(l_network) >= MaxInFlightPerNetwork)
            continue;
        Waiter l_waiter = PopFront(l_network);
        if (!l_waiter.m_attempt.mp_socket)
            continue;
        const Outcome l_outcome = i_start(l_waiter.m_attempt);
        if (l_outcome == Outcome::NoRoom || l_outcome == Outcome::NoRoomForAny) {
            l_leftForRoom = true;
            // First of its network again, under the same key: the walk
            // goes on behind it.
            Push(l_network, std::move(l_waiter), true);
            if (l_outcome == Outcome::NoRoomForAny)
                break;
        }
    }
    return l_leftForRoom;
}
