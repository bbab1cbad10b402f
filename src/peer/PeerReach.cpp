// Reaching a user: the relayed request and the direct socket of one attempt.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>

using namespace PeerItems;

namespace
{
QString TypeAndUser(const QString& i_format, ItemPtr i_record)
{
    return i_format.arg(Text(i_record["peer_connection_type"]), Text(i_record["user"]));
}

// A token stands for one request only: an answer must not find another.
bool RelayedTokenInUse(quint32 i_token)
{
    return d.GetType("indirect_connect_to_peer_request")->HasItem(ToString(i_token));
}

// The attempt failed for good, and the relayed request beside it ends with
// it.
void EndRequest(ItemPtr i_connectionRequest)
{
    if (ItemPtr l_relayed = i_connectionRequest["indirect_connect_to_peer_request"])
        l_relayed.Remove();
    i_connectionRequest.Remove();
}
}

ItemPtr PeerMessenger::AnswerableRelayed(quint32 i_token)
{
    // The token alone finds the request, from any address: the user's own
    // connections may come from another address than the one the server
    // gave (a router with two lines, a hairpin that keeps the inside
    // address, an address changed since). Tokens are random over 32 bits
    // and live a minute or so: guesses hit one of them next to never.
    return d.GetType("indirect_connect_to_peer_request")->HasItem(ToString(i_token));
}

void PeerMessenger::ConnectToUser(std::string i_user, const char* ip_connectionType)
{
    ItemPtr l_user = UserItem(i_user);
    Log(LogArea, 1, QString("Attempting peer connection of type %1 to user %2").arg(QString::fromLatin1(ip_connectionType), Text(i_user)),
        l_user);

    ItemPtr l_type = d.GetType("peer_connection_type")->GetItem(ip_connectionType);
    if (AsksForConnection(i_user, ip_connectionType)) {
        Log(LogArea, 2, "Connection attempt to same user of same type already in progress, not re-attempting.", l_user);
        return;
    }

    ItemPtr l_request = d.GetType("connect_to_peer_request")->NewItem();
    l_request += l_user;
    l_request += l_type;
    // A request that waits for the user's address alone ends a while after
    // this, if the address never comes.
    l_request += d.GetType("send_time")->GetItem(PeerTimeStamp());

    Log(LogArea, 2, "Also sending indirect connection request.", l_user);
    const unsigned int l_token =
        GetPeerServerRequests().SendIndirectConnectionRequest(i_user, ip_connectionType, RelayedTokenInUse);
    if (l_token != 0) {
        ItemPtr l_relayed = d.GetType("indirect_connect_to_peer_request")->GetItem(ToString(l_token));
        l_relayed += l_request;
        l_relayed += d.GetType("send_time")->GetItem(PeerTimeStamp());
        l_relayed += l_user;
        l_relayed += l_type;
    }

    // An address of 0 says the user was logged in nowhere when the server
    // was last asked: ask again, as for a user whose address never came,
    // while the server can be asked.
    if (l_user.IsConnected("user_address") && l_user["user_address"].AsUInt() == 0
        && GetPeerServerRequests().CanAskAddress())
        l_user.Disconnect("user_address");
    if (l_user.IsConnected("user_address")) {
        StartDirectAttempt(l_request, l_user, l_type);
        return;
    }
    Log(LogArea, 2, "User address not found, requesting address", l_user);
    GetPeerServerRequests().GetUserAddress(i_user);
    l_request += d.GetType("connect_to_peer_request_status")->GetItem("getting_address");
}

int PeerMessenger::GetUserPort(ItemPtr i_userItem, bool& o_obfuscated)
{
    const int l_obfuscatedPort = i_userItem["user_obfuscated_port"].AsInt();
    const int l_port = i_userItem["user_port"].AsInt();
    o_obfuscated = l_obfuscatedPort != 0;
    return o_obfuscated ? l_obfuscatedPort : l_port;
}

void PeerMessenger::OnUserAddress(Item* ip_userItem)
{
    ItemPtr l_user(ip_userItem);
    AdoptConnectionFromAddress(l_user);
    SendAfterAddress(l_user);
    if (!l_user.IsConnected("connect_to_peer_request"))
        return;
    ItemSet l_waiting;
    if (ItemPtr l_status = d.GetType("connect_to_peer_request_status")->HasItem("getting_address"))
        l_waiting = d.GetItems(l_user, l_status, "connect_to_peer_request");
    Log(LogArea, 1, QString("User %1 address arrived").arg(Text(l_user)), l_user);
    for (Item* lp_request : l_waiting) {
        ItemPtr l_request(lp_request);
        ItemPtr l_type = l_request["peer_connection_type"];
        if (l_type.AsString() == "F" && l_user["user_address"].AsUInt() == 0) {
            // The server names no address: there is no direct path. The
            // relayed request, while it is out, may still reach the user
            // (one who does not show an address, say); its answer, the
            // server's report that it failed, or its expiry decides. With
            // none out, an upload that holds its slot for this connection
            // should not wait for anything.
            if (!l_request.IsConnected("indirect_connect_to_peer_request")) {
                Log(LogArea, 1, QString("User %1 has no address, the connection of type F fails").arg(Text(l_user)),
                    l_user);
                RemoveFailedRequest(l_request);
                continue;
            }
            Log(LogArea, 1,
                QString("User %1 has no address, the connection of type F waits for the relayed request")
                    .arg(Text(l_user)),
                l_user);
            l_request += d.GetType("connect_to_peer_request_status")->GetItem("connecting");
            continue;
        }
        Log(LogArea, 2, QString("Attempting direct connection of type %1").arg(Text(l_type)), l_user);
        StartDirectAttempt(l_request, l_user, l_type);
    }
}

void PeerMessenger::AdoptConnectionFromAddress(ItemPtr i_user)
{
    const std::string l_name = i_user.AsString();
    if (m_rules.AuthenticOf(l_name) || !i_user.IsConnected("peer_socket"))
        return;
    const quint32 l_address = i_user["user_address"].AsUInt();
    if (l_address == 0)
        return;
    if (ItemPtr l_connection = LatestFrom(i_user, l_address))
        m_rules.Introduced(l_connection.AsObject<QTcpSocket>(), l_name, true);
}

void PeerMessenger::StartDirectAttempt(ItemPtr i_request, ItemPtr i_user, ItemPtr i_connectionType)
{
    auto* lp_socket = new QTcpSocket;
    const quint32 l_address = i_user["user_address"].AsUInt();
    bool l_obfuscated = false;
    const int l_port = GetUserPort(i_user, l_obfuscated);

    // The records stand before the socket can report anything.
    ItemPtr l_record = d.GetType("connect_to_peer_request_socket")->NewItem(Value(lp_socket));
    l_record += d.GetType("socket_creation_time")->GetItem(PeerTimeStamp());
    l_record += i_user;
    l_record += i_connectionType;
    if (l_obfuscated)
        l_record.NewItem("is_obfuscated");
    i_request += d.GetType("connect_to_peer_request_status")->GetItem("connecting");
    i_request += l_record;

    connect(lp_socket, &QAbstractSocket::connected, this, &PeerMessenger::OnConnectToPeerSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnConnectToPeerSocketError);
    StartConnecting(lp_socket, l_address, l_port,
                    i_connectionType.AsString() == "F" ? PeerAttemptLanes::Lane::File : PeerAttemptLanes::Lane::Own,
                    &PeerMessenger::FailDirectAttempt);
}

void PeerMessenger::OnConnectToPeerSocketError(QAbstractSocket::SocketError)
{
    if (auto* lp_socket = qobject_cast<QTcpSocket*>(sender()))
        FailDirectAttempt(lp_socket);
}

void PeerMessenger::FailDirectAttempt(QTcpSocket* ip_socket)
{
    ItemPtr l_record = SocketItem("connect_to_peer_request_socket", ip_socket);
    QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
    ip_socket->close();
    m_connections.Release(ip_socket);
    ip_socket->deleteLater();
    if (!l_record)
        return;
    Log(LogArea, 1, TypeAndUser("Direct connection of type %1 to user %2 failed", l_record), l_record["user"]);
    ItemPtr l_request = l_record["connect_to_peer_request"];
    l_record.Remove();
    if (l_request)
        InspectPeerConnectionRequest(l_request);
}

void PeerMessenger::OnIndirectPeerConnectionFailure(uint i_req)
{
    ItemPtr l_relayed = d.GetType("indirect_connect_to_peer_request")->HasItem(ToString(i_req));
    if (!l_relayed)
        return;
    Log(LogArea, 1, TypeAndUser("Indirect connection of type %1 to user %2 failed", l_relayed), l_relayed["user"]);
    ItemPtr l_request = l_relayed["connect_to_peer_request"];
    l_relayed.Remove();
    if (l_request)
        InspectPeerConnectionRequest(l_request);
}

bool PeerMessenger::WaitsForAddress(ItemPtr i_connectionRequest)
{
    return i_connectionRequest["connect_to_peer_request_status"].AsString() == "getting_address";
}

void PeerMessenger::InspectPeerConnectionRequest(ItemPtr i_connectionRequest)
{
    ItemPtr l_user = i_connectionRequest["user"];
    Log(LogArea, 1,
        TypeAndUser("Inspecting peer connection request of type %1 to user %2 for possible removal.", i_connectionRequest),
        l_user);
    if (i_connectionRequest.IsConnected("connect_to_peer_request_socket")) {
        Log(LogArea, 2, "Socket found. Not removing request.", l_user);
    } else if (i_connectionRequest.IsConnected("indirect_connect_to_peer_request")) {
        Log(LogArea, 2, "Indirect request found. Not removing request.", l_user);
    } else if (WaitsForAddress(i_connectionRequest)) {
        // The relayed request may fail before the server answers the
        // address request: the direct attempt is still to come.
        Log(LogArea, 2, "Waiting for the user's address. Not removing request.", l_user);
    } else {
        Log(LogArea, 2, "Neither socket nor indirect request found. Removing.", l_user);
        RemoveFailedRequest(i_connectionRequest);
    }
}

void PeerMessenger::RemoveFailedRequest(ItemPtr i_connectionRequest)
{
    const bool l_fileConnection = i_connectionRequest["peer_connection_type"].AsString() == "F";
    const std::string l_user = i_connectionRequest["user"].AsString();
    EndRequest(i_connectionRequest);
    if (!l_fileConnection)
        return;
    // Not from within the failure: the receiver starts other transfers,
    // which may ask for connections again.
    QMetaObject::invokeMethod(
        this,
        [this, l_user] {
            // A new request may have come meanwhile: whatever waits for the
            // connection waits for that one.
            if (!AsksForConnection(l_user, "F"))
                emit FileConnectionFailed(l_user);
        },
        Qt::QueuedConnection);
}

bool PeerMessenger::AsksForConnection(const std::string& i_user, const char* ip_connectionType)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    ItemPtr l_type = d.GetType("peer_connection_type")->HasItem(ip_connectionType);
    return l_user && l_type
           && !d.GetItemSubset(ItemSet{l_user.Get(), l_type.Get()}, "connect_to_peer_request").empty();
}

void PeerMessenger::DisposeOfPeerConnectionRequest(ItemPtr i_connectionRequest)
{
    Log(LogArea, 1, TypeAndUser("Disposing of peer connection request of type %1 to user %2", i_connectionRequest),
        i_connectionRequest["user"]);
    // The attempt got its connection. The user may still answer the relayed
    // request, having had it at the same moment as our direct attempt, and
    // what the user sends on that answer is meant for us: it stays
    // answerable, by its token, until it expires or the server reports it
    // failed.
    if (ItemPtr l_relayed = i_connectionRequest["indirect_connect_to_peer_request"])
        l_relayed -= i_connectionRequest;
    i_connectionRequest.Remove();
}
