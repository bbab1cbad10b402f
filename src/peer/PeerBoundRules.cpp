#include "peer/PeerBoundRules.h"

#include "peer/PeerConnectionBudget.h"

using Hold = PeerNetworkShare::Hold;

std::size_t PeerBoundRules::Allowance()
{
    return PeerConnectionBudget::Allowance();
}

void PeerBoundRules::BrowseAsked(const std::string& i_user, qint64 i_nowMs)
{
    m_browses[i_user] = i_nowMs;
}

void PeerBoundRules::BrowseAnswered(const std::string& i_user)
{
    m_browses.erase(i_user);
}

bool PeerBoundRules::HasWorkWith(const std::string& i_user, qint64 i_nowMs) const
{
    if (i_user.empty())
        return false;
    const auto l_browse = m_browses.find(i_user);
    // A stamp ahead of now (the clock went back) counts from now.
    if (l_browse != m_browses.end() && i_nowMs - l_browse->second < BrowseWorkMs)
        return true;
    return m_workCheck && m_workCheck(i_user);
}

void PeerBoundRules::Sweep(qint64 i_nowMs)
{
    std::erase_if(m_browses, [i_nowMs](const auto& i_browse) { return i_nowMs - i_browse.second >= BrowseWorkMs; });
    std::erase_if(m_owed, [i_nowMs](const auto& i_owed) { return i_nowMs - i_owed.second >= AnswerOwedMs; });
}

PeerBoundRules::Claim PeerBoundRules::OfIntroduction(const Newcomer& i_newcomer, qint64 i_nowMs) const
{
    const PeerFirstMessage::Parsed& l_first = i_newcomer.m_first;
    if (l_first.m_kind == PeerFirstMessage::Kind::Indirect)
        return i_newcomer.m_answersOurRequest ? Claim::Keep : Claim::Refuse;
    if (l_first.m_kind != PeerFirstMessage::Kind::Direct)
        return Claim::Refuse;
    if (l_first.m_connectionType == "F")
        return m_fileWaitCheck && m_fileWaitCheck(l_first.m_user) ? Claim::AwaitToken : Claim::Refuse;
    if (l_first.m_connectionType == "P" && i_newcomer.m_fromUsersAddress && HasWorkWith(l_first.m_user, i_nowMs))
        return Claim::Keep;
    if (l_first.m_connectionType == "P" || l_first.m_connectionType == "D")
        return Claim::AsPeer;
    return Claim::Refuse;
}

bool PeerBoundRules::KeepsToken(const std::string& i_user, quint32 i_token) const
{
    return m_tokenCheck && m_tokenCheck(i_user, i_token);
}

bool PeerBoundRules::FileWaitGives(const std::string& i_user, qint64 i_waitedMs) const
{
    return i_waitedMs > TokenWaitAtBoundMs || !(m_fileWaitCheck && m_fileWaitCheck(i_user));
}

void PeerBoundRules::Introduced(QTcpSocket* ip_socket, const std::string& i_user, bool i_authentic)
{
    if (!i_authentic || i_user.empty())
        return;
    auto [l_entry, l_new] = m_protected.try_emplace(i_user, ip_socket);
    if (!l_new) {
        m_protectedUser.erase(l_entry->second);
        l_entry->second = ip_socket;
    }
    m_protectedUser[ip_socket] = i_user;
}

void PeerBoundRules::RequestCame(QTcpSocket* ip_socket, qint64 i_nowMs)
{
    // The oldest unanswered request counts: a peer that keeps asking does
    // not keep its connection for ever.
    m_owed.try_emplace(ip_socket, i_nowMs);
}

void PeerBoundRules::Answered(QTcpSocket* ip_socket)
{
    m_owed.erase(ip_socket);
}

void PeerBoundRules::Gone(QTcpSocket* ip_socket)
{
    m_owed.erase(ip_socket);
    const auto l_user = m_protectedUser.find(ip_socket);
    if (l_user == m_protectedUser.end())
        return;
    m_protected.erase(l_user->second);
    m_protectedUser.erase(l_user);
}

QTcpSocket* PeerBoundRules::AuthenticOf(const std::string& i_user) const
{
    const auto l_found = m_protected.find(i_user);
    return l_found == m_protected.end() ? nullptr : l_found->second;
}

bool PeerBoundRules::Protects(QTcpSocket* ip_socket) const
{
    return m_protectedUser.contains(ip_socket);
}

Hold PeerBoundRules::HoldOf(QTcpSocket* ip_socket, const std::string& i_user, const Carrying& i_carrying,
                            qint64 i_nowMs) const
{
    // What we sent a user we work with and got no answer to yet (requests
    // on a connection just opened, say) would be lost with the connection:
    // it holds until the user answers, or for the grace, even after a newer
    // connection of the user's took the protection.
    if ((Protects(ip_socket) || i_carrying.m_awaitsPeer) && HasWorkWith(i_user, i_nowMs))
        return Hold::Never;
    const auto l_owed = m_owed.find(ip_socket);
    const bool l_owes = l_owed != m_owed.end() && i_nowMs - l_owed->second < AnswerOwedMs;
    if (i_carrying.m_unsent || i_carrying.m_replyBeingMade || i_carrying.m_awaitsPeer || l_owes)
        return Hold::Last;
    return Hold::Free;
}

bool PeerBoundRules::IsWorkOfOurs(PeerAttemptLanes::Lane i_lane, const std::string& i_user, qint64 i_nowMs) const
{
    switch (i_lane) {
    case PeerAttemptLanes::Lane::File: return true;
    case PeerAttemptLanes::Lane::Own: return HasWorkWith(i_user, i_nowMs);
    case PeerAttemptLanes::Lane::ConnectionBack: return false;
    }
    return false;
}
