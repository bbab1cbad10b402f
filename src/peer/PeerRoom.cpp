// Room under the connection bound: which connection is closed for a new
// one, when the listeners wait, and when they look again.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerNetwork.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <optional>

using namespace PeerItems;

PeerNetworkShare::Hold PeerMessenger::HoldOf(QTcpSocket* ip_socket, qint64 i_nowMs) const
{
    ItemPtr l_item = SocketItem("peer_socket", ip_socket);
    const std::string l_user = l_item ? l_item["user"].AsString() : std::string();
    const PeerBoundRules::Carrying l_carrying{ip_socket->bytesToWrite() > 0, m_replyOrder.Holds(l_user),
                                              m_networkShare.AwaitsPeer(ip_socket, i_nowMs, AnswerGraceMs)};
    return m_rules.HoldOf(ip_socket, l_user, l_carrying, i_nowMs);
}

bool PeerMessenger::HasWorkWith(const std::string& i_user) const
{
    return m_rules.HasWorkWith(i_user, PeerNowMs());
}

QTcpSocket* PeerMessenger::ClosableOldest(const QDateTime& i_now, qint64& o_lastActivity) const
{
    const qint64 l_nowMs = i_now.toMSecsSinceEpoch();
    return m_activity.OldestThatMay(
        [this, l_nowMs](QTcpSocket* ip_socket) { return HoldOf(ip_socket, l_nowMs) != PeerNetworkShare::Hold::Never; },
        o_lastActivity);
}

QTcpSocket* PeerMessenger::IdlestConnection(const QDateTime& i_now) const
{
    qint64 l_lastActivity = 0;
    QTcpSocket* lp_oldest = ClosableOldest(i_now, l_lastActivity);
    if (lp_oldest && l_lastActivity <= i_now.toMSecsSinceEpoch() - m_idleEnoughToCloseMs)
        return lp_oldest;
    return nullptr;
}

QTcpSocket* PeerMessenger::FileWaitGiver(qint64 i_nowMs) const
{
    return m_fileWaits.Giver(i_nowMs, [this](const std::string& i_user, qint64 i_waitedMs) {
        return m_rules.FileWaitGives(i_user, i_waitedMs);
    });
}

void PeerMessenger::EndFileWait(QTcpSocket* ip_socket)
{
    if (const std::optional<quint32> l_address = m_fileWaits.Remove(ip_socket))
        m_networkShare.RemoveWaiting(*l_address);
}

QString PeerMessenger::NetworkHolds(quint32 i_address) const
{
    return QString("the network of %1 holds %2 of them (%3 of them file connections waiting for their transfer token)")
        .arg(QHostAddress(i_address).toString())
        .arg(m_networkShare.Count(i_address))
        .arg(m_networkShare.Waiting(i_address));
}

bool PeerMessenger::CanMakeRoom(const QDateTime& i_now) const
{
    const qint64 l_nowMs = i_now.toMSecsSinceEpoch();
    return m_connections.HasRoom() || FileWaitGiver(l_nowMs) || IdlestConnection(i_now)
           || m_networkShare.HasGiver([this, l_nowMs](QTcpSocket* ip_socket) { return HoldOf(ip_socket, l_nowMs); });
}

bool PeerMessenger::MayTake(quint32 i_taker, const QDateTime& i_now) const
{
    const qint64 l_nowMs = i_now.toMSecsSinceEpoch();
    return FileWaitGiver(l_nowMs) || IdlestConnection(i_now)
           || m_networkShare.Giver(i_taker, [this, l_nowMs](QTcpSocket* ip_socket) { return HoldOf(ip_socket, l_nowMs); });
}

bool PeerMessenger::MakeRoom(quint32 i_taker, const QDateTime& i_now, bool i_ours)
{
    // Each connection closed leaves the candidates, so this ends; one close
    // is enough unless the count ran ahead of the bound.
    while (!m_connections.HasRoom()) {
        // Nothing came on it yet: nothing is lost with it.
        if (QTcpSocket* lp_waiting = FileWaitGiver(i_now.toMSecsSinceEpoch())) {
            LogCounted(m_fileWaitClosedLines, i_now, [this] {
                return QString("Peer connections at their bound of %1, closing file connections that sent no transfer "
                               "token to make room")
                    .arg(m_connections.Limit());
            });
            CloseForRoom(lp_waiting);
            continue;
        }
        if (QTcpSocket* lp_idlest = IdlestConnection(i_now)) {
            ItemPtr l_user = SocketItem("peer_socket", lp_idlest)["user"];
            LogCounted(
                m_idleClosedLines, i_now,
                [this](const QString& i_user) {
                    return QString("Peer connections at their bound of %1, closing the idle connection to user %2 to "
                                   "make room")
                        .arg(m_connections.Limit())
                        .arg(i_user);
                },
                l_user);
            CloseForRoom(lp_idlest);
            continue;
        }
        const PeerNetworkShare::Holds l_holds = [this, l_nowMs = i_now.toMSecsSinceEpoch()](QTcpSocket* ip_socket) {
            return HoldOf(ip_socket, l_nowMs);
        };
        QTcpSocket* lp_giver = i_ours ? m_networkShare.Largest(l_holds) : m_networkShare.Giver(i_taker, l_holds);
        if (!lp_giver)
            return false;
        const quint32 l_address = m_networkShare.AddressOf(lp_giver);
        if (m_giveUpNotes.MayLog(PeerNetwork::Of(l_address), i_now)) {
            Log(LogArea, 1,
                QString("Peer connections at their bound of %1, and %2: closing the connections silent longest at its "
                        "most crowded address to make room for other networks (said once a minute).")
                    .arg(m_connections.Limit())
                    .arg(NetworkHolds(l_address)));
        }
        CloseForRoom(lp_giver);
    }
    return true;
}

void PeerMessenger::CloseForRoom(QTcpSocket* ip_socket)
{
    QObject::disconnect(ip_socket, nullptr, this, nullptr);
    ip_socket->abort();
    DisposeOfSocket(ip_socket);
    // A record without its store item would stay a candidate for ever.
    m_activity.Remove(ip_socket);
    m_networkShare.Remove(ip_socket);
}

void PeerMessenger::PauseListeners(const QDateTime& i_now)
{
    if (!m_listenersPaused) {
        m_listenersPaused = true;
        LogCounted(m_pausedLines, i_now, [this] {
            return QString("Peer connections at their bound of %1, not accepting until one closes")
                .arg(m_connections.Limit());
        });
    }
    WatchForRoom(i_now);
}

void PeerMessenger::WatchForRoom(const QDateTime& i_now)
{
    // A connection that becomes idle enough, or a file connection that has
    // waited long enough for its token, makes room: whoever waits waits for
    // that, not for the half-minute sweep. While no room can be made
    // neither is there yet, so the timer never fires at once. A stamp ahead
    // of now (the clock went back) waits the whole age at most.
    const qint64 l_nowMs = i_now.toMSecsSinceEpoch();
    std::optional<qint64> l_waitMs;
    qint64 l_lastActivity = 0;
    if (ClosableOldest(i_now, l_lastActivity))
        l_waitMs = std::clamp<qint64>(l_lastActivity + m_idleEnoughToCloseMs - l_nowMs, 1, m_idleEnoughToCloseMs);
    if (const std::optional<qint64> l_since = m_fileWaits.OldestSince()) {
        constexpr qint64 GivesAfterMs = PeerBoundRules::TokenWaitAtBoundMs + 1;
        const qint64 l_fileWaitMs = std::clamp<qint64>(*l_since + GivesAfterMs - l_nowMs, 1, GivesAfterMs);
        l_waitMs = std::min(l_waitMs.value_or(l_fileWaitMs), l_fileWaitMs);
    }
    if (!l_waitMs) {
        // A messaging connection made later, or one that closes, looks again
        // (one we have work with closes at the latest when it expires).
        m_roomTimer.stop();
        return;
    }
    m_roomTimer.start(std::chrono::milliseconds(*l_waitMs));
}

void PeerMessenger::EndPause(const QDateTime& i_now)
{
    if (!m_attemptsWaitForRoom)
        m_roomTimer.stop();
    if (!m_listenersPaused)
        return;
    m_listenersPaused = false;
    LogCounted(m_resumedLines, i_now, [] { return QString("Room for peer connections again, accepting"); });
}

void PeerMessenger::OnRoomTimer()
{
    // Our own attempts have the room first, also while accepting is held;
    // a hold ends by looking again itself.
    if (AcceptingHeld())
        StartWaitingAttempts(PeerNow());
    else
        AcceptWaiting();
}

void PeerMessenger::OnPeerConnectionGone()
{
    // A descriptor freed: a listener that could not accept for want of one
    // tries again now.
    for (QTcpServer* lp_listener : {&m_server, &m_obfuscatedServer}) {
        if (lp_listener->isListening())
            lp_listener->resumeAccepting();
    }
    AcceptWaiting();
}

void PeerMessenger::OnAcceptError(QTcpServer& io_listener)
{
    // Out of descriptors, say. The connection stays queued, so accepting at
    // once would only fail again; the toolkit may also have stopped the
    // listener for good. Try again a little later, or when a connection
    // of ours goes.
    io_listener.pauseAccepting();
    LogCounted(m_acceptErrorLines, PeerNow(), [&io_listener] {
        return QString("Could not accept a peer connection on port %1: %2. Accepting again when a connection closes, "
                       "or in a second")
            .arg(io_listener.serverPort())
            .arg(io_listener.errorString());
    });
    QTimer::singleShot(AcceptPauseMs, this, [&io_listener] { io_listener.resumeAccepting(); });
}
