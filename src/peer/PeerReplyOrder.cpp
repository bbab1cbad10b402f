#include "peer/PeerReplyOrder.h"

#include <algorithm>

bool PeerReplyOrder::Reserve(const std::string& i_user, quint64& o_ticket)
{
    Waiting& l_waiting = m_users[i_user];
    if (l_waiting.m_entries.size() >= MaxWaiting)
        return false;
    o_ticket = m_nextTicket++;
    l_waiting.m_entries.push_back({o_ticket, false, MemStream(), {}, true});
    return true;
}

PeerReplyOrder::Hold PeerReplyOrder::HoldIfWaiting(const std::string& i_user, const MemStream& i_message,
                                                    QTcpSocket* ip_route)
{
    auto l_found = m_users.find(i_user);
    if (l_found == m_users.end())
        return Hold::SendNow;
    Waiting& l_waiting = l_found->second;
    const qint64 l_size = i_message.mp_buffer->m_writeIndex;
    if (l_waiting.m_entries.size() >= MaxWaiting || l_waiting.m_bytes + l_size > MaxWaitingBytes)
        return Hold::Dropped;
    // The copy shares the caller's bytes, which the caller no longer changes.
    l_waiting.m_entries.push_back({0, true, i_message, ip_route, ip_route != nullptr});
    l_waiting.m_bytes += l_size;
    return Hold::Kept;
}

std::vector<PeerReplyOrder::Ready> PeerReplyOrder::Fill(const std::string& i_user, quint64 i_ticket,
                                                        const MemStream& i_body, QTcpSocket* ip_route)
{
    std::vector<Ready> l_free;
    auto l_found = m_users.find(i_user);
    if (l_found == m_users.end())
        return l_free;
    Waiting& l_waiting = l_found->second;
    auto l_place = std::find_if(l_waiting.m_entries.begin(), l_waiting.m_entries.end(),
                                [i_ticket](const Entry& i_entry) { return i_entry.m_ticket == i_ticket; });
    if (l_place == l_waiting.m_entries.end() || l_place->m_ready)
        return l_free;
    l_place->m_ready = true;
    l_place->m_message = i_body;
    l_place->m_route = ip_route;
    while (!l_waiting.m_entries.empty() && l_waiting.m_entries.front().m_ready) {
        Entry& l_front = l_waiting.m_entries.front();
        if (l_front.m_ticket == 0)
            l_waiting.m_bytes -= l_front.m_message.mp_buffer->m_writeIndex;
        if (l_front.m_message.mp_buffer->m_writeIndex > 0)
            l_free.push_back({l_front.m_message, l_front.m_route, l_front.m_reply});
        l_waiting.m_entries.pop_front();
    }
    if (l_waiting.m_entries.empty())
        m_users.erase(l_found);
    return l_free;
}
