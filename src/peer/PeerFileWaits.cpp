#include "peer/PeerFileWaits.h"

#include <algorithm>
#include <array>
#include <utility>

void PeerFileWaits::Add(QTcpSocket* ip_socket, quint32 i_address, const std::string& i_user, qint64 i_sinceMs)
{
    if (!m_bySocket.emplace(ip_socket, m_next).second)
        return;
    m_order.emplace(m_next++, Wait{ip_socket, i_address, i_user, i_sinceMs});
}

std::optional<quint32> PeerFileWaits::Remove(QTcpSocket* ip_socket)
{
    const auto l_found = m_bySocket.find(ip_socket);
    if (l_found == m_bySocket.end())
        return std::nullopt;
    const auto l_wait = m_order.find(l_found->second);
    const quint32 l_address = l_wait->second.m_address;
    m_order.erase(l_wait);
    m_bySocket.erase(l_found);
    return l_address;
}

QTcpSocket* PeerFileWaits::Giver(qint64 i_nowMs, const Gives& i_gives) const
{
    // The users whose wait kept its place, with how long it had waited: a
    // later wait of the user that waited no longer keeps its place too, and
    // is not asked about. A crowd naming one user then costs one question.
    std::array<std::pair<const std::string*, qint64>, MaxLooked> l_kept;
    std::size_t l_keptCount = 0;
    std::size_t l_looked = 0;
    for (const auto& [l_order, l_wait] : m_order) {
        if (++l_looked > MaxLooked)
            break;
        const qint64 l_waitedMs = std::max<qint64>(0, i_nowMs - l_wait.m_sinceMs);
        const auto l_keptEnd = l_kept.begin() + l_keptCount;
        const std::string& l_user = l_wait.m_user;
        const auto l_asked = std::find_if(l_kept.begin(), l_keptEnd,
                                          [&l_user](const auto& i_kept) { return *i_kept.first == l_user; });
        if (l_asked != l_keptEnd && l_waitedMs <= l_asked->second)
            continue;
        if (i_gives(l_wait.m_user, l_waitedMs))
            return l_wait.mp_socket;
        if (l_asked != l_keptEnd)
            l_asked->second = l_waitedMs;
        else
            l_kept[l_keptCount++] = {&l_wait.m_user, l_waitedMs};
    }
    return nullptr;
}

std::optional<qint64> PeerFileWaits::OldestSince() const
{
    if (m_order.empty())
        return std::nullopt;
    return m_order.begin()->second.m_sinceMs;
}
