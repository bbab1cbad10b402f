#include "peer/PeerAttemptQueue.h"

#include "peer/PeerNetwork.h"

#include <algorithm>
#include <limits>

void PeerAttemptQueue::Prune()
{
    std::erase_if(m_inFlight, [](const std::pair<QPointer<QTcpSocket>, quint32>& i_entry) {
        if (!i_entry.first)
            return true;
        const QAbstractSocket::SocketState l_state = i_entry.first->state();
        return l_state != QAbstractSocket::HostLookupState && l_state != QAbstractSocket::ConnectingState;
    });
    std::unordered_map<quint32, std::size_t> l_counts;
    for (const auto& [lp_socket, l_network] : m_inFlight)
        ++l_counts[l_network];
    // Only networks that stopped connecting change their turn: those that
    // still connect keep theirs.
    std::swap(l_counts, m_inFlightByNetwork);
    for (const auto& [l_network, l_count] : l_counts) {
        if (m_inFlightByNetwork.contains(l_network))
            continue;
        if (m_byNetwork.contains(l_network))
            Rekey(l_network);
        else
            m_served.erase(l_network);
    }
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
    return m_waiting == 0 && m_inFlight.size() < MaxInFlight
           && InFlightOf(PeerNetwork::Of(i_address)) < MaxInFlightPerNetwork;
}

void PeerAttemptQueue::Started(QTcpSocket* ip_socket, quint32 i_address)
{
    const quint32 l_network = PeerNetwork::Of(i_address);
    m_inFlight.emplace_back(ip_socket, l_network);
    ++m_inFlightByNetwork[l_network];
    m_served[l_network] = ++m_serveClock;
    if (m_byNetwork.contains(l_network))
        Rekey(l_network);
}

QTcpSocket* PeerAttemptQueue::TakePlaceForNewcomer()
{
    Prune();
    if (m_inFlight.size() < MaxInFlight)
        return nullptr;
    // A waiter whose socket went (its attempt expired) is no newcomer: it is
    // dropped where it is met, each once, so that no live attempt ends for it.
    while (!m_turns.empty() && !std::get<0>(*m_turns.begin())) {
        const quint32 l_first = std::get<3>(*m_turns.begin());
        if (m_byNetwork.at(l_first).m_queue.front().m_attempt.mp_socket)
            break;
        PopFront(l_first);
    }
    if (m_turns.empty() || std::get<0>(*m_turns.begin()))
        return nullptr;
    // At most MaxInFlight networks connect: finding the busiest is cheap.
    const auto l_busiest = std::max_element(m_inFlightByNetwork.begin(), m_inFlightByNetwork.end(),
                                            [](const auto& i_a, const auto& i_b) { return i_a.second < i_b.second; });
    if (l_busiest == m_inFlightByNetwork.end() || l_busiest->second < 2)
        return nullptr;
    const quint32 l_network = l_busiest->first;
    // The vector holds the attempts in the order they began.
    const auto l_oldest = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                       [l_network](const auto& i_entry) { return i_entry.second == l_network; });
    QTcpSocket* lp_socket = l_oldest->first;
    m_inFlight.erase(l_oldest);
    --l_busiest->second;
    return lp_socket;
}

void PeerAttemptQueue::Unindex(quint32 i_network)
{
    const Network& l_network = m_byNetwork.at(i_network);
    if (l_network.m_queue.empty())
        return;
    m_turns.erase(l_network.m_turn);
    m_bySize.erase(l_network.m_size);
}

void PeerAttemptQueue::Index(quint32 i_network)
{
    Network& l_network = m_byNetwork.at(i_network);
    if (l_network.m_queue.empty())
        return;
    const auto l_served = m_served.find(i_network);
    const quint64 l_first = l_network.m_queue.front().m_order;
    l_network.m_turn = TurnKey{InFlightOf(i_network) > 0, l_served == m_served.end() ? 0 : l_served->second,
                               l_first, i_network};
    // The smaller the order, the older, the sooner it is dropped.
    l_network.m_size = SizeKey{l_network.m_queue.size(), std::numeric_limits<quint64>::max() - l_first, i_network};
    m_turns.insert(l_network.m_turn);
    m_bySize.insert(l_network.m_size);
}

void PeerAttemptQueue::Rekey(quint32 i_network)
{
    Unindex(i_network);
    Index(i_network);
}

void PeerAttemptQueue::Push(quint32 i_network, Waiter i_waiter, bool i_front)
{
    if (m_byNetwork.contains(i_network))
        Unindex(i_network);
    std::deque<Waiter>& l_queue = m_byNetwork[i_network].m_queue;
    if (i_front)
        l_queue.push_front(std::move(i_waiter));
    else
        l_queue.push_back(std::move(i_waiter));
    Index(i_network);
    ++m_waiting;
}

PeerAttemptQueue::Waiter PeerAttemptQueue::PopFront(quint32 i_network)
{
    Unindex(i_network);
    const auto l_found = m_byNetwork.find(i_network);
    std::deque<Waiter>& l_queue = l_found->second.m_queue;
    Waiter l_first = std::move(l_queue.front());
    l_queue.pop_front();
    --m_waiting;
    if (l_queue.empty()) {
        m_byNetwork.erase(l_found);
        if (InFlightOf(i_network) == 0)
            m_served.erase(i_network);
    } else {
        Index(i_network);
    }
    return l_first;
}

std::vector<QTcpSocket*> PeerAttemptQueue::Wait(const Attempt& i_attempt)
{
    Push(PeerNetwork::Of(i_attempt.m_address), Waiter{m_nextOrder++, i_attempt}, false);
    std::vector<QTcpSocket*> l_dropped;
    while (m_waiting > MaxWaiting) {
        if (QTcpSocket* lp_socket = PopFront(std::get<2>(*m_bySize.rbegin())).m_attempt.mp_socket)
            l_dropped.push_back(lp_socket);
    }
    return l_dropped;
}

bool PeerAttemptQueue::StartWaiting(const std::function<Outcome(const Attempt&)>& i_start)
{
    Prune();
    bool l_leftForRoom = false;
    // Walked by key, not by iterator: i_start may queue attempts, and a
    // network whose first began moves behind every other, where the walk
    // comes to it again with its next one.
    std::optional<TurnKey> l_after;
    while (m_inFlight.size() < MaxInFlight) {
        const auto l_next = l_after ? m_turns.upper_bound(*l_after) : m_turns.begin();
        if (l_next == m_turns.end())
            break;
        l_after = *l_next;
        const quint32 l_network = std::get<3>(*l_next);
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
