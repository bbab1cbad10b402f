// Connections accepted on the listening ports, and connections made back to
// peers whose requests the server relayed.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <utility>

using namespace PeerItems;

void PeerMessenger::OnNewConnection()
{
    AcceptWaiting();
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptWaiting();
}

QTcpServer* PeerMessenger::LongestWaiting(bool& o_obfuscated)
{
    // A listener holds one connection at most; it waits from the moment it
    // is first seen here.
    for (auto [lp_listener, lp_since] : {std::pair{&m_server, &m_plainWaitingSince},
                                         std::pair{&m_obfuscatedServer, &m_obfuscatedWaitingSince}}) {
        if (!lp_listener->hasPendingConnections())
            *lp_since = 0;
        else if (*lp_since == 0)
            *lp_since = ++m_waitOrder;
    }
    if (m_plainWaitingSince == 0 && m_obfuscatedWaitingSince == 0)
        return nullptr;
    o_obfuscated = m_obfuscatedWaitingSince != 0
                   && (m_plainWaitingSince == 0 || m_obfuscatedWaitingSince < m_plainWaitingSince);
    return o_obfuscated ? &m_obfuscatedServer : &m_server;
}

void PeerMessenger::AcceptWaiting()
{
    // Room that is free goes to our own attempts first: a stranger waiting
    // in a listener can make room by closing an idle connection, an attempt
    // cannot, and one that misses its turn may wait until it expires.
    StartWaitingAttempts();
    bool l_obfuscated = false;
    while (QTcpServer* lp_listener = LongestWaiting(l_obfuscated)) {
        // A connection left waiting stops its listener: the toolkit
        // accepts no more while one is pending.
        if (AcceptingHeld())
            return;
        if (!CanMakeRoom()) {
            PauseListeners();
            return;
        }
        QTcpSocket* lp_socket = lp_listener->nextPendingConnection();
        (l_obfuscated ? m_obfuscatedWaitingSince : m_plainWaitingSince) = 0;
        if (!MakeRoom(lp_socket->peerAddress().toIPv4Address())) {
            Refuse(lp_socket);
            return;
        }
        if (m_takenThisTurn++ == 0)
            m_turnTimer.start();
        TakeConnection(lp_socket, l_obfuscated);
    }
    if (!m_connections.HasRoom())
        PauseListeners();
}

bool PeerMessenger::AcceptingHeld() const
{
    return m_resting || m_takenThisTurn >= AcceptsPerTurn;
}

void PeerMessenger::EndHold()
{
    if (AcceptingHeld())
        return;
    if (m_listenersPaused)
        ResumeListeners();
    else
        AcceptWaiting();
}

void PeerMessenger::OnTurnEnd()
{
    m_takenThisTurn = 0;
    EndHold();
}

void PeerMessenger::OnRestEnd()
{
    m_resting = false;
    EndHold();
}

void PeerMessenger::Refuse(QTcpSocket* ip_socket)
{
    const quint32 l_address = ip_socket->peerAddress().toIPv4Address();
    if (m_addressShare.MayLog(l_address, PeerNow())) {
        Log(LogArea, 1,
            QString("Peer connections at their bound of %1, and %2 holds %3 of them: refusing its new connections "
                    "while no other address needs room (said once a minute).")
                .arg(m_connections.Limit())
                .arg(ip_socket->peerAddress().toString())
                .arg(m_addressShare.Count(l_address)));
    }
    ip_socket->abort();
    ip_socket->deleteLater();
    // The address may connect again at once, and again: what waits behind
    // it is looked at after a rest, not in a loop.
    m_resting = true;
    m_restTimer.start(std::chrono::milliseconds(RefusedRestMs));
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
    // A connection that waited in the listener may have brought its bytes,
    // or gone, before anything listened to its signals: nothing would tell
    // of either again.
    if (ip_socket->bytesAvailable() > 0 || ip_socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(this, [this, l_socket = QPointer<QTcpSocket>(ip_socket)] { CatchUp(l_socket); },
                                  Qt::QueuedConnection);
}

void PeerMessenger::CatchUp(QTcpSocket* ip_socket)
{
    auto l_ours = [ip_socket] {
        return ip_socket && (SocketItem("uninitialized_socket", ip_socket) || SocketItem("peer_socket", ip_socket));
    };
    if (!l_ours())
        return;
    QPointer<QTcpSocket> l_socket(ip_socket);
    if (ip_socket->bytesAvailable() > 0)
        ReadFrames(ip_socket);
    if (l_socket && l_ours() && l_socket->state() != QAbstractSocket::ConnectedState)
        DisposeOfSocket(l_socket);
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

bool PeerMessenger::CanMakeRoom() const
{
    return m_connections.HasRoom() || IdlestConnection() || (!m_resting && m_addressShare.HasDonor());
}

bool PeerMessenger::MakeRoom(quint32 i_taker)
{
    if (m_connections.HasRoom())
        return true;
    if (ItemPtr l_idlest = IdlestConnection()) {
        auto* lp_socket = l_idlest.AsObject<QTcpSocket>();
        ItemPtr l_user = l_idlest["user"];
        Log(LogArea, 1,
            QString("Peer connections at their bound of %1, closing the idle connection to user %2 to make room.")
                .arg(m_connections.Limit())
                .arg(Text(l_user)),
            l_user);
        QObject::disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        DisposeOfSocket(lp_socket);
        return m_connections.HasRoom();
    }
    if (m_resting)
        return false;
    QTcpSocket* lp_donor = m_addressShare.Donor(i_taker);
    if (!lp_donor)
        return false;
    const quint32 l_address = m_addressShare.AddressOf(lp_donor);
    if (m_addressShare.MayLog(l_address, PeerNow())) {
        Log(LogArea, 1,
            QString("Peer connections at their bound of %1, and %2 holds %3 of them: closing its longest-open "
                    "connections to make room for other addresses (said once a minute).")
                .arg(m_connections.Limit())
                .arg(lp_donor->peerAddress().toString())
                .arg(m_addressShare.Count(l_address)));
    }
    QObject::disconnect(lp_donor, nullptr, this, nullptr);
    lp_donor->abort();
    DisposeOfSocket(lp_donor);
    return m_connections.HasRoom();
}

void PeerMessenger::PauseListeners()
{
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
            .arg(m_connections.Limit()));
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
    // A hold ends with a call here of its own.
    if (!m_listenersPaused || AcceptingHeld())
        return;
    // What waits in the listeners first, then the listeners themselves, if
    // a new connection can be taken or a connection closed for it.
    AcceptWaiting();
    if (AcceptingHeld() || !CanMakeRoom())
        return;
    m_listenersPaused = false;
    Log(LogArea, 1, "Room for peer connections again, accepting.");
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
