// The distributed network's tree: this client's level and root, what the
// server is told of them, the server's messages, and the attempts to reach
// a parent among its candidates.
#include "dnet/DNetManager.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "server/Server.h"

#include <QTcpSocket>

#include <algorithm>

namespace
{
const char* const g_area = "Distributed Network";

QString Text(const std::string& i_text)
{
    return QString::fromStdString(i_text);
}
}

// The tree -----------------------------------------------------------------

void DNetManager::BecomeRoot()
{
    m_level = 0;
    m_root = Settings::Get("username");
    m_parentLevelKnown = false;
    m_parentRootKnown = false;
    m_acceptsChildren = false;
    if (gp_server) {
        gp_server->SendHaveNoParent(true);
        gp_server->SendAcceptChildren(false);
    }
    SendToChildren(DNetMessages::BranchLevelFrame(m_level));
    SendToChildren(DNetMessages::BranchRootFrame(m_root));
}

void DNetManager::SetParentLevel(qint32 i_level)
{
    m_level = i_level + 1;
    m_parentLevelKnown = true;
    if (gp_server)
        gp_server->SendBranchLevel(m_level);
    SendToChildren(DNetMessages::BranchLevelFrame(m_level));
    StartAcceptingChildrenWhenReady();
}

void DNetManager::SetParentRoot(const std::string& i_root)
{
    m_root = i_root;
    m_parentRootKnown = true;
    if (gp_server)
        gp_server->SendBranchRoot(m_root);
    SendToChildren(DNetMessages::BranchRootFrame(m_root));
    StartAcceptingChildrenWhenReady();
}

void DNetManager::StartAcceptingChildrenWhenReady()
{
    // A child is told our level and root at once, so both must be known.
    if (m_acceptsChildren || !m_parentLevelKnown || !m_parentRootKnown)
        return;
    m_acceptsChildren = true;
    if (gp_server)
        gp_server->SendAcceptChildren(true);
}

// The server's messages ------------------------------------------------------

void DNetManager::OnConnectedToServer()
{
    // A new login starts without a parent, as the server sees it.
    if (mp_parent) {
        const std::string l_user = mp_parent->m_user;
        DropLink(mp_parent->mp_socket);
        Log(g_area, 1, QString("Left parent %1: a new login starts without one").arg(Text(l_user)));
    }
    ClearAttempts();
    BecomeRoot();
}

void DNetManager::OnServerMessage(quint32 i_code, QByteArray i_payload)
{
    switch (i_code) {
    case Server::EmbeddedDistributedCode:
        HandleSearch(i_payload);
        break;
    case Server::ParentCandidatesCode:
        HandleCandidates(i_payload);
        break;
    case Server::DistributedResetCode: {
        Log(g_area, 1, "The server reset the distributed network: parent and children dropped");
        if (mp_parent)
            DropLink(mp_parent->mp_socket);
        while (!m_children.empty())
            DropLink(m_children.back()->mp_socket);
        ClearAttempts();
        BecomeRoot();
        break;
    }
    default:
        break;
    }
}

void DNetManager::HandleSearch(const QByteArray& i_payload)
{
    quint8 l_code = 0;
    QByteArray l_message;
    if (!DNetMessages::ReadEmbedded(i_payload, l_code, l_message)) {
        Log(g_area, 2, "Empty distributed message from the server ignored");
        return;
    }
    if (l_code != DNetCode::Search) {
        Log(g_area, 2, QString("Distributed message %1 from the server ignored").arg(l_code));
        return;
    }
    DNetSearch l_search;
    if (!DNetMessages::ReadSearch(l_message, l_search)) {
        Log(g_area, 1, "Malformed search from the server ignored");
        return;
    }
    PassOnSearch(l_search, l_message);
}

void DNetManager::HandleCandidates(const QByteArray& i_payload)
{
    std::vector<DNetCandidate> l_candidates;
    if (!DNetMessages::ReadCandidates(i_payload, l_candidates)) {
        Log(g_area, 1, "Malformed list of parent candidates ignored");
        return;
    }
    if (mp_parent) {
        Log(g_area, 2, QString("Parent candidates ignored: parent %1 already chosen").arg(Text(mp_parent->m_user)));
        return;
    }
    const std::string l_ownName = Settings::Get("username");
    for (DNetCandidate& l_candidate : l_candidates) {
        const auto l_sameUser = [&l_candidate](const auto& i_other) { return i_other.m_user == l_candidate.m_user; };
        if (l_candidate.m_user == l_ownName || std::any_of(m_attempts.begin(), m_attempts.end(), l_sameUser) ||
            std::any_of(m_candidates.begin(), m_candidates.end(), l_sameUser))
            continue;
        m_candidates.push_back(std::move(l_candidate));
    }
    StartAttempts();
}

// Attempts -------------------------------------------------------------------

void DNetManager::StartAttempts()
{
    while (!mp_parent && static_cast<int>(m_attempts.size()) < MaxAttempts && !m_candidates.empty()) {
        const DNetCandidate l_candidate = m_candidates.front();
        m_candidates.pop_front();
        // The peer layer reaches a user through these items, as it does
        // after the server told the user's address.
        ItemPtr l_user = d.GetType("user")->GetItem(l_candidate.m_user);
        Server::SetUserAddress(l_user, l_candidate.m_address, l_candidate.m_port, 0);
        m_attempts.push_back(Attempt{l_candidate.m_user, Now()});
        Log(g_area, 1, QString("Trying %1 as parent").arg(Text(l_candidate.m_user)));
        RequestConnection(l_candidate.m_user);
    }
}

void DNetManager::ClearAttempts()
{
    m_attempts.clear();
    m_candidates.clear();
}

void DNetManager::DropSilentParent()
{
    // The socket's keep-alive notices a vanished host only after hours, and
    // not at all when something on the way still answers for it.
    if (mp_parent && Now() - mp_parent->m_lastReceivedAt >= ParentSilenceTimeoutMs)
        LoseLink(mp_parent->mp_socket, "silent for 10 minutes");
}

void DNetManager::EveryHalfMinute()
{
    DropSilentParent();
    const qint64 l_now = Now();
    const auto l_expired = [l_now](const Attempt& i_attempt) { return l_now - i_attempt.m_askedAt >= AttemptTimeoutMs; };
    for (const Attempt& l_attempt : m_attempts) {
        if (l_expired(l_attempt))
            Log(g_area, 1, QString("Parent candidate %1 not reached").arg(Text(l_attempt.m_user)));
    }
    m_attempts.erase(std::remove_if(m_attempts.begin(), m_attempts.end(), l_expired), m_attempts.end());
    StartAttempts();
}
