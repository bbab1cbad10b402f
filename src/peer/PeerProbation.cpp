#include "peer/PeerProbation.h"

#include "peer/PeerEnvironment.h"
#include "peer/PeerMessageCodes.h"

#include <algorithm>
#include <chrono>

namespace
{
qint64 NowMs()
{
    return PeerNowMs();
}
}

bool PeerProbation::Repeatable(const MemStream& i_message)
{
    switch (PeerMessageCodes::Of(i_message)) {
    case PeerMessageCodes::GetSharedFileList:
    case PeerMessageCodes::GetSharedFilesInFolder:
    case PeerMessageCodes::QueueUpload:
    case PeerMessageCodes::UploadPlaceInLineRequest:
        return true;
    case PeerMessageCodes::TransferRequest:
        // The code is shared by both directions; only ours, the offer to
        // send, goes again.
        return PeerMessageCodes::IsUploadOffer(i_message);
    default:
        return false;
    }
}

PeerProbation::PeerProbation()
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { OnTimer(); });
}

void PeerProbation::Begin(QTcpSocket* ip_socket)
{
    const qint64 l_now = NowMs();
    // A record left by an earlier socket at the same address goes.
    End(ip_socket);
    const qint64 l_until = l_now + GraceMs;
    m_trials[ip_socket].m_untilMs = l_until;
    m_byEnd.emplace(l_until, ip_socket);
    Arm(l_now);
}

bool PeerProbation::OnProbation(QTcpSocket* ip_socket) const
{
    const auto l_trial = m_trials.find(ip_socket);
    return l_trial != m_trials.end() && !Over(l_trial->second.m_untilMs, NowMs());
}

void PeerProbation::Sent(QTcpSocket* ip_socket, const PeerQueuedMessage& i_message)
{
    if (i_message.m_sends >= MaxSends || !Repeatable(i_message.m_message))
        return;
    const auto l_trial = m_trials.find(ip_socket);
    if (l_trial == m_trials.end() || Over(l_trial->second.m_untilMs, NowMs()))
        return;
    const qint64 l_bytes = i_message.m_message.mp_buffer->m_bufferSize;
    if (l_trial->second.m_bytes + l_bytes > MaxKeptBytes)
        return;
    l_trial->second.m_bytes += l_bytes;
    l_trial->second.m_kept.push_back(i_message);
}

void PeerProbation::Pass(QTcpSocket* ip_socket)
{
    const auto l_trial = m_trials.find(ip_socket);
    if (l_trial != m_trials.end())
        Forget(l_trial);
}

std::vector<PeerQueuedMessage> PeerProbation::End(QTcpSocket* ip_socket)
{
    const auto l_trial = m_trials.find(ip_socket);
    if (l_trial == m_trials.end())
        return {};
    std::vector<PeerQueuedMessage> l_kept;
    // The event loop may not have run the timer yet.
    if (!Over(l_trial->second.m_untilMs, NowMs()))
        l_kept = std::move(l_trial->second.m_kept);
    Forget(l_trial);
    return l_kept;
}

bool PeerProbation::Over(qint64 i_untilMs, qint64 i_nowMs)
{
    return i_nowMs >= i_untilMs || i_untilMs - i_nowMs > GraceMs;
}

void PeerProbation::Forget(std::map<QTcpSocket*, Trial>::iterator i_trial)
{
    m_byEnd.erase({i_trial->second.m_untilMs, i_trial->first});
    m_trials.erase(i_trial);
    if (m_trials.empty())
        m_timer.stop();
}

void PeerProbation::OnTimer()
{
    const qint64 l_now = NowMs();
    // Graces that are over lie at the front (ended) and at the back (ending
    // further ahead than a grace lasts: the clock went back).
    while (!m_byEnd.empty() && Over(m_byEnd.begin()->first, l_now))
        Forget(m_trials.find(m_byEnd.begin()->second));
    while (!m_byEnd.empty() && Over(std::prev(m_byEnd.end())->first, l_now))
        Forget(m_trials.find(std::prev(m_byEnd.end())->second));
    Arm(l_now);
}

void PeerProbation::Arm(qint64 i_nowMs)
{
    if (m_byEnd.empty())
        return;
    const qint64 l_waitMs = m_byEnd.begin()->first - i_nowMs;
    m_timer.start(std::chrono::milliseconds(std::clamp<qint64>(l_waitMs, 1, GraceMs)));
}
