// Connections accepted on the listening ports, and connections made back to
// peers whose requests the server relayed.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace PeerItems;

void PeerMessenger::OnNewConnection()
{
    AcceptConnection(m_server, false);
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptConnection(m_obfuscatedServer, true);
}

void PeerMessenger::AcceptConnection(QTcpServer& io_listener, bool i_obfuscated)
{
    while (io_listener.hasPendingConnections()) {
        if (!MakeRoom()) {
            // The connection waits in the listener (which holds one at most)
            // until one of ours goes.
            PauseListeners();
            return;
        }
        TakeConnection(io_listener.nextPendingConnection(), i_obfuscated);
    }
    if (!m_connections.HasRoom())
        PauseListeners();
}

void PeerMessenger::TakeConnection(QTcpSocket* ip_socket, bool i_obfuscated)
{
    m_connections.Track(ip_socket);
    ip_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Small replies go out at once, not when the peer's delayed acknowledgement
    // of the last one finally comes.
    ip_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(ip_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(ip_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr l_item = d.GetType("uninitialized_socket")->NewItem(Value(ip_socket));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    if (QTcpSocket* lp_oldest = m_idleWatch.WatchAccepted(ip_socket, PeerNow())) {
        Log(LogArea, 1,
            QString("More than %1 accepted connections wait to introduce themselves, closing the oldest.")
                .arg(PeerIdleWatch::AcceptedLimit));
        DisposeOfSocket(lp_oldest);
    }
}

ItemPtr PeerMessenger::OldestConnection(QDateTime& o_lastActivity) const
{
    // Messaging connections carry no transfer.
    ItemPtr l_oldest;
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        const auto* lp_lastActivity = l_connection["last_activity_time"].AsObject<QDateTime>();
        if (lp_lastActivity && l_connection.AsObject<QTcpSocket>() && (!l_oldest || *lp_lastActivity < o_lastActivity)) {
            o_lastActivity = *lp_lastActivity;
            l_oldest = l_connection;
        }
    }
    return l_oldest;
}

ItemPtr PeerMessenger::IdlestConnection() const
{
    QDateTime l_lastActivity;
    ItemPtr l_oldest = OldestConnection(l_lastActivity);
    if (l_oldest && l_lastActivity <= PeerNow().addMSecs(-m_idleEnoughToCloseMs))
        return l_oldest;
    return ItemPtr();
}

bool PeerMessenger::MakeRoom()
{
    if (m_connections.HasRoom())
        return true;
    ItemPtr l_idlest = IdlestConnection();
    if (!l_idlest)
        return false;
    auto* lp_socket = l_idlest.AsObject<QTcpSocket>();
    ItemPtr l_user = l_idlest["user"];
    Log(LogArea, 1,
        QString("Peer connections at their bound of %1, closing the idle connection to user %2 to make room.")
            .arg(PeerConnectionBudget::Bound())
            .arg(Text(l_user)),
        l_user);
    QObject::disconnect(lp_socket, nullptr, this, nullptr);
    lp_socket->abort();
    DisposeOfSocket(lp_socket);
    return m_connections.HasRoom();
}

void PeerMessenger::PauseListeners()
{
    m_server.pauseAccepting();
    m_obfuscatedServer.pauseAccepting();
    if (m_listenersPaused)
        return;
    m_listenersPaused = true;
    // A connection that becomes idle enough makes room: a waiting peer
    // waits for that, not for the half-minute sweep. A timer still running
    // from an earlier pause is not later than any moment a walk would find.
    if (!m_roomTimer.isActive())
        WatchForRoom();
    Log(LogArea, 1,
        QString("Peer connections at their bound of %1, not accepting until one closes.")
            .arg(PeerConnectionBudget::Bound()));
}

void PeerMessenger::WatchForRoom()
{
    QDateTime l_lastActivity;
    if (!OldestConnection(l_lastActivity)) {
        // A messaging connection made later sets the timer when it comes.
        m_roomTimer.stop();
        return;
    }
    // Activity stamped ahead of now (the clock went back) waits the idle
    // age at most.
    const qint64 l_waitMs = PeerNow().msecsTo(l_lastActivity.addMSecs(m_idleEnoughToCloseMs));
    m_roomTimer.start(std::chrono::milliseconds(std::clamp<qint64>(l_waitMs, 0, m_idleEnoughToCloseMs)));
}

void PeerMessenger::OnRoomTimer()
{
    if (!m_listenersPaused)
        return;
    ResumeListeners();
    // The oldest spoke again, say: the next one is the candidate now.
    if (m_listenersPaused)
        WatchForRoom();
}

void PeerMessenger::ResumeListeners()
{
    if (!m_listenersPaused)
        return;
    // What waits in the listeners first, then the listeners themselves, if
    // a new connection can be taken or an idle one make room for it.
    AcceptConnection(m_server, false);
    AcceptConnection(m_obfuscatedServer, true);
    if (!m_connections.HasRoom() && !IdlestConnection())
        return;
    m_listenersPaused = false;
    Log(LogArea, 1, "Room for peer connections again, accepting.");
    m_server.resumeAccepting();
    m_obfuscatedServer.resumeAccepting();
}

void PeerMessenger::OnPeerConnectionGone()
{
    StartWaitingAttempts();
    ResumeListeners();
}

void PeerMessenger::OnAcceptError(QTcpServer& io_listener)
{
    // Out of descriptors, say. The connection stays queued, so accepting at
    // once would only fail again; the toolkit may also have stopped the
    // listener for good. Try again a little later.
    io_listener.pauseAccepting();
    Log(LogArea, 1,
        QString("Could not accept a peer connection on port %1: %2. Accepting again in a second.")
            .arg(io_listener.serverPort())
            .arg(io_listener.errorString()));
    QTimer::singleShot(AcceptPauseMs, this, [&io_listener] { io_listener.resumeAccepting(); });
}

void PeerMessenger::OnPeerConnectionRequest(Item* ip_request)
{
    // The server link ties a relayed request to its user before it writes
    // the address the request brought, so this fires first with whatever
    // address the user had before, then again for each fresh value. The
    // connection back starts once the whole message has been applied.
    ItemPtr l_request(ip_request);
    if (l_request.IsConnected("peer_connection_request_socket"))
        return;
    if (!m_pendingConnectionsBack.insert(ip_request).second)
        return;
    QMetaObject::invokeMethod(this, [this, ip_request] { StartConnectionBack(ip_request); }, Qt::QueuedConnection);
}

void PeerMessenger::OnPeerConnectionRequestRemoved(Item* ip_request)
{
    // A later request may be made at the same address; it must not be
    // taken for this one.
    m_pendingConnectionsBack.erase(ip_request);
}

void PeerMessenger::StartConnectionBack(Item* ip_request)
{
    // Only a request that still stands: removal takes it off the list.
    if (m_pendingConnectionsBack.erase(ip_request) == 0)
        return;
    ItemPtr l_request(ip_request);
    if (l_request.IsConnected("peer_connection_request_socket"))
        return;
    // A request that lost part of what it needs meanwhile waits for the
    // subscription to find it whole again.
    ItemPtr l_user = l_request["user"];
    if (!l_request.IsConnected("peer_connection_request_id") || !l_request.IsConnected("peer_connection_type")
        || !l_user.IsConnected("user_address") || !l_user.IsConnected("user_port")
        || !l_user.IsConnected("user_obfuscated_port"))
        return;

    auto* lp_socket = new QTcpSocket;
    const quint32 l_address = l_user["user_address"].AsUInt();
    bool l_obfuscated = false;
    const int l_port = GetUserPort(l_user, l_obfuscated);
    if (l_obfuscated)
        l_request.NewItem("is_obfuscated");

    // The records stand before the socket can report anything.
    ItemPtr l_socketItem = d.GetType("peer_connection_request_socket")->NewItem(Value(lp_socket));
    l_request += l_socketItem;
    l_socketItem += d.GetType("socket_creation_time")->GetItem(PeerTimeStamp());
    connect(lp_socket, &QAbstractSocket::connected, this, &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);

    Log(LogArea, 1, QString("Indirect peer connection requested from user %1").arg(Text(l_user)), l_user);
    StartConnecting(lp_socket, l_address, l_port, &PeerMessenger::FailConnectionBack);
}

void PeerMessenger::FailConnectionBack(QTcpSocket* ip_socket)
{
    // Only while the socket still answers its request; otherwise it has
    // been taken down already.
    if (SocketItem("peer_connection_request_socket", ip_socket))
        DisposeOfSocket(ip_socket);
}
