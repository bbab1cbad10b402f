// Connections accepted on the listening ports, and connections made back to
// peers whose requests the server relayed.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>
#include <QTimer>

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
    QTcpSocket* lp_socket = io_listener.nextPendingConnection();
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Small replies go out at once, not when the peer's delayed acknowledgement
    // of the last one finally comes.
    lp_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(lp_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr l_item = d.GetType("uninitialized_socket")->NewItem(Value(lp_socket));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    if (QTcpSocket* lp_oldest = m_idleWatch.WatchAccepted(lp_socket, PeerNow())) {
        Log(LogArea, 1,
            QString("More than %1 accepted connections wait to introduce themselves, closing the oldest.")
                .arg(PeerIdleWatch::AcceptedLimit));
        DisposeOfSocket(lp_oldest);
    }
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
