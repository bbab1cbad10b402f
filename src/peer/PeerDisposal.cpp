// Taking sockets down, the activity time of messaging connections, and the
// half-minute sweep of everything that went stale.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>

#include <chrono>

using namespace PeerItems;

namespace
{
constexpr qint64 QueuedMessageLimitMs = 299999;
constexpr qint64 AttemptLimitMs = 59999;
constexpr qint64 IdleConnectionLimitMs = 119999;

// Whether an item stamped with this text has outlived the limit. A stamp
// that is missing or cannot be read counts as expired: nothing else would
// ever end the item. A stamp ahead of now is not expired.
bool StampExpired(ItemPtr i_stamp, const QDateTime& i_now, qint64 i_limitMs)
{
    qint64 l_age = 0;
    if (!PeerStampAge(i_stamp.AsString(), i_now, l_age))
        return true;
    return l_age > i_limitMs;
}
}

// Only an end the peer made puts requests back: a connection we take down
// ourselves (for room, or one that does not take what we send) is not one
// to try again at once.
void PeerMessenger::OnSocketClosed()
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender())) {
        PutBackUnproven(lp_socket);
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::OnSocketError(QAbstractSocket::SocketError)
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender())) {
        PutBackUnproven(lp_socket);
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::DisposeOfSocket(QTcpSocket* ip_socket, bool i_logged)
{
    if (g_peerMessengerDeleted)
        return;
    DisposeOfSocketInner(ip_socket, i_logged);

    // Whatever still stands for the socket goes too: a connection back whose
    // request was gone, or a direct attempt.
    ItemPtr l_items[] = {SocketItem("peer_connection_request_socket", ip_socket),
                         SocketItem("uninitialized_socket", ip_socket), SocketItem("peer_socket", ip_socket),
                         SocketItem("connect_to_peer_request_socket", ip_socket)};
    for (ItemPtr l_item : l_items) {
        if (l_item)
            l_item.Remove();
    }
}

void PeerMessenger::DisposeOfSocketInner(QTcpSocket* ip_socket, bool i_logged)
{
    QObject::disconnect(ip_socket, nullptr, this, nullptr);
    ip_socket->close();
    ip_socket->deleteLater();
    m_connections.Release(ip_socket);
    // Its place of the allowance is free for the next newcomer at once.
    m_heardOut.Release(ip_socket);
    const auto l_log = [i_logged](int i_level, const char* ip_text) {
        if (i_logged)
            Log(LogArea, i_level, ip_text);
    };
    l_log(1, "Disposing of socket");

    if (ItemPtr l_answer = SocketItem("peer_connection_request_socket", ip_socket)) {
        l_log(2, "Identified as peer connection request socket");
        if (ItemPtr l_request = l_answer["peer_connection_request"]) {
            l_log(2, "Request found, removing");
            GetPeerServerRequests().SendCantConnectToPeer(l_request["peer_connection_request_id"].AsUInt(),
                                                          l_request["user"].AsString());
            l_request.Remove();
            l_answer.Remove();
        } else {
            l_log(2, "Request not found");
        }
    } else if (ItemPtr l_accepted = SocketItem("uninitialized_socket", ip_socket)) {
        l_log(2, "Identified as uninitialized socket");
        l_accepted.Remove();
    } else if (ItemPtr l_messaging = SocketItem("peer_socket", ip_socket)) {
        l_log(2, "Identified as peer socket");
        l_messaging.Remove();
    } else {
        l_log(2, "Socket not identified");
    }
    m_socketBufferInfoMap.erase(ip_socket);
    m_idleWatch.Forget(ip_socket);
    EndFileWait(ip_socket);
    // Kept copies go unsent: an end the peer made has put them back first.
    m_probation.End(ip_socket);
    AskAgainForSharesLost(ip_socket);
}

void PeerMessenger::OnPeerSocketItemAdded(Item* ip_socketItem)
{
    const QDateTime l_now = PeerNow();
    ItemPtr(ip_socketItem) += d.GetType("last_activity_time")->GetItem(Value(new QDateTime(l_now)));
    if (auto* lp_socket = ItemPtr(ip_socketItem).AsObject<QTcpSocket>()) {
        m_activity.Touch(lp_socket, l_now.toMSecsSinceEpoch());
        m_networkShare.Touch(lp_socket, l_now.toMSecsSinceEpoch());
    }
    // Its network may now give room, and a first messaging connection is
    // one the room timer can wait for.
    if (m_listenersPaused || m_attemptsWaitForRoom)
        AcceptWaitingLater();
}

void PeerMessenger::OnPeerSocketItemRemoved(Item* ip_socketItem)
{
    // The socket may be gone already: only its address is used.
    auto* lp_socket = ItemPtr(ip_socketItem).AsObject<QTcpSocket>();
    m_networkShare.Remove(lp_socket);
    m_rules.Gone(lp_socket);
    m_activity.Remove(lp_socket);
    // A user known through this connection alone goes with it, once the
    // removal is done: anyone may claim a new name for every connection.
    ItemPtr l_user = ItemPtr(ip_socketItem)["user"];
    if (l_user && !g_peerMessengerDeleted) {
        QMetaObject::invokeMethod(
            this,
            [l_name = l_user.AsString()] {
                if (ItemPtr l_left = d.GetType("user")->HasItem(l_name); l_left && l_left.IsDisconnectedFromAll())
                    l_left.Remove();
            },
            Qt::QueuedConnection);
    }
    ItemPtr l_activity = ItemPtr(ip_socketItem)["last_activity_time"];
    if (!l_activity)
        return;
    auto* lp_time = l_activity.AsObject<QDateTime>();
    l_activity.Remove();
    delete lp_time;
}

void PeerMessenger::EveryHalfMinute()
{
    const QDateTime l_now = PeerNow();
    PeerOutgoingQueue::Expire(l_now, QueuedMessageLimitMs);
    ExpireRelayedRequests(l_now);
    ExpireAddressWaits(l_now);
    ExpireDirectAttempts(l_now);
    ExpireConnectionsBack(l_now);
    ExpireIdleConnections(l_now);
    ExpireSilentConnections(l_now);
    m_rules.Sweep(l_now.toMSecsSinceEpoch());
    ForgetUnansweredLookUps();
    EndAddressWaits(l_now.toMSecsSinceEpoch());
    // Whatever else should have looked at the listeners, this does.
    AcceptWaiting();
    // The events after a counted line are written once due, also when no
    // later event brings them.
    for (PeerLogCounter* lp_lines : CountedLines())
        LogDue(*lp_lines, l_now);
}

std::vector<PeerLogCounter*> PeerMessenger::CountedLines()
{
    return {&m_pausedLines,          &m_resumedLines,        &m_idleClosedLines,
            &m_silentClosedLines,    &m_droppedAttemptLines, &m_givenUpAttemptLines,
            &m_tokenLateLines,       &m_fileWaitClosedLines, &m_fileWaitExpiredLines,
            &m_acceptErrorLines,     &m_droppedReplyLines,   &m_refusedAnswerLines,
            &m_refusedHeardLines,    &m_noDirectionLines,    &m_unreadableFirstLines,
            &m_unknownTypeLines};
}

void PeerMessenger::ExpireRelayedRequests(const QDateTime& i_now)
{
    for (ItemPtr l_relayed : d.GetType("indirect_connect_to_peer_request")->GetItems()) {
        if (!StampExpired(l_relayed["send_time"], i_now, AttemptLimitMs))
            continue;
        Log(LogArea, 1,
            QString("Indirect connection request of type %1 to %2 expired, removing.")
                .arg(Text(l_relayed["peer_connection_type"]), Text(l_relayed["user"])),
            l_relayed["user"]);
        ItemPtr l_request = l_relayed["connect_to_peer_request"];
        l_relayed.Remove();
        if (l_request)
            InspectPeerConnectionRequest(l_request);
    }
}

void PeerMessenger::ExpireAddressWaits(const QDateTime& i_now)
{
    ItemPtr l_waiting = d.GetType("connect_to_peer_request_status")->HasItem("getting_address");
    if (!l_waiting)
        return;
    for (ItemPtr l_request : l_waiting.GetItems("connect_to_peer_request")) {
        if (l_request.IsConnected("indirect_connect_to_peer_request")
            || !StampExpired(l_request["send_time"], i_now, AttemptLimitMs))
            continue;
        Log(LogArea, 1,
            QString("No address came for the connection of type %1 to %2, removing the request.")
                .arg(Text(l_request["peer_connection_type"]), Text(l_request["user"])),
            l_request["user"]);
        RemoveFailedRequest(l_request);
    }
}

void PeerMessenger::ExpireDirectAttempts(const QDateTime& i_now)
{
    for (ItemPtr l_record : d.GetType("connect_to_peer_request_socket")->GetItems()) {
        if (!StampExpired(l_record["socket_creation_time"], i_now, AttemptLimitMs))
            continue;
        ItemPtr l_request = l_record["connect_to_peer_request"];
        Log(LogArea, 1,
            QString("Direct connection attempt of type %1 to %2 timed out, closing.")
                .arg(Text(l_record["peer_connection_type"]), Text(l_record["user"])),
            l_record["user"]);
        auto* lp_socket = l_record.AsObject<QTcpSocket>();
        l_record.Remove();
        if (lp_socket) {
            // close() may leave a connecting socket without any signal; the
            // attempt ends here either way.
            QObject::disconnect(lp_socket, nullptr, this, nullptr);
            lp_socket->abort();
            lp_socket->deleteLater();
            m_connections.Release(lp_socket);
        }
        if (l_request)
            InspectPeerConnectionRequest(l_request);
    }
}

void PeerMessenger::ExpireConnectionsBack(const QDateTime& i_now)
{
    for (ItemPtr l_answer : d.GetType("peer_connection_request_socket")->GetItems()) {
        if (!StampExpired(l_answer["socket_creation_time"], i_now, AttemptLimitMs))
            continue;
        ItemPtr l_request = l_answer["peer_connection_request"];
        Log(LogArea, 1,
            QString("Indirect connection attempt of type %1 to %2 timed out, closing.")
                .arg(Text(l_request["peer_connection_type"]), Text(l_request["user"])),
            l_request["user"]);
        auto* lp_socket = l_answer.AsObject<QTcpSocket>();
        if (!lp_socket) {
            l_answer.Remove();
            continue;
        }
        // A connecting socket may never signal after close(): take it down
        // here, which also tells the server.
        QObject::disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::ExpireIdleConnections(const QDateTime& i_now)
{
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        auto* lp_lastActivity = l_connection["last_activity_time"].AsObject<QDateTime>();
        if (lp_lastActivity && lp_lastActivity->isValid() && lp_lastActivity->msecsTo(i_now) <= IdleConnectionLimitMs)
            continue;
        ItemPtr l_user = l_connection["user"];
        Log(LogArea, 1, QString("Peer connection to user %1 expired, closing.").arg(Text(l_user)), l_user);
        auto* lp_socket = l_connection.AsObject<QTcpSocket>();
        if (!lp_socket) {
            l_connection.Remove();
            continue;
        }
        // close() on a socket with unsent bytes waits for them for ever, and
        // the connection would stay chosen for later messages: take it down
        // here.
        QObject::disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        DisposeOfSocket(lp_socket);
    }
}

void PeerMessenger::ExpireSilentConnections(const QDateTime& i_now)
{
    for (QTcpSocket* lp_socket : m_idleWatch.Expired(i_now.toMSecsSinceEpoch(), IdleConnectionLimitMs)) {
        const auto l_record = m_socketBufferInfoMap.find(lp_socket);
        const bool l_waitingForToken =
            l_record != m_socketBufferInfoMap.end() && l_record->second.m_readFileConnectionReq;
        if (SocketItem("uninitialized_socket", lp_socket)) {
            Log(LogArea, 1, "Connection that never introduced itself expired, closing.");
        } else if (l_waitingForToken) {
            // A crowd's file connections may expire by the hundred at once.
            LogCounted(m_fileWaitExpiredLines, i_now, [] {
                return QString("File connections that sent no transfer token in two minutes expired, closing");
            });
        } else {
            m_idleWatch.Forget(lp_socket);
            continue;
        }
        DisposeOfSocket(lp_socket);
    }
}
