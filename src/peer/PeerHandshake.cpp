// The first message of a connection in both directions, and what each
// connection becomes after it.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerItems.h"

#include <QHostAddress>
#include <QTcpSocket>

using namespace PeerItems;

namespace
{
// The answer to our relayed request came from another address than the one
// the server gave for its user: the user is reached all the same, and the
// line tells where from.
void LogAnswerElsewhere(ItemPtr i_user, quint32 i_from)
{
    const quint32 l_given = i_user.IsConnected("user_address") ? i_user["user_address"].AsUInt() : 0;
    if (l_given == 0 || l_given == i_from)
        return;
    Log(LogArea, 1,
        QString("User %1 answered our relayed request from %2, the server gave %3")
            .arg(Text(i_user), QHostAddress(i_from).toString(), QHostAddress(l_given).toString()),
        i_user);
}
}  // namespace

void PeerMessenger::OnConnectToPeerSocketConnected()
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    lp_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    ItemPtr l_record = SocketItem("connect_to_peer_request_socket", lp_socket);
    if (!l_record) {
        // The attempt was given up meanwhile.
        lp_socket->close();
        lp_socket->deleteLater();
        return;
    }
    const bool l_obfuscated = l_record.IsConnected("is_obfuscated");
    const std::string l_user = l_record["user"].AsString();
    const std::string l_type = l_record["peer_connection_type"].AsString();
    ItemPtr l_userItem = l_record["user"];

    Log(LogArea, 1, QString("Direct connection of type %1 to user %2 successful").arg(Text(l_type), Text(l_user)),
        l_userItem);
    MemStream l_first = PeerFirstMessage::MakeDirect(Settings::Get("username"), l_type);
    SendMessage(lp_socket, l_first, l_obfuscated);
    // The attempt's own error handling ends here.
    disconnect(lp_socket, &QAbstractSocket::errorOccurred, nullptr, nullptr);

    ItemPtr l_request = l_record["connect_to_peer_request"];
    l_record.Remove();
    if (l_request)
        DisposeOfPeerConnectionRequest(l_request);

    if (l_type == "P") {
        connect(lp_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
        connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
        MakePeerSocket(lp_socket, l_user, l_obfuscated, true);
    } else if (l_type == "F") {
        disconnect(lp_socket, nullptr, this, nullptr);
        emit FileConnectionAccepted(l_user, lp_socket);
    } else if (l_type == "D") {
        disconnect(lp_socket, nullptr, this, nullptr);
        emit DNetConnectionAccepted(l_user, lp_socket);
    }
}

void PeerMessenger::OnIndirectResponseSocketConnected()
{
    auto* lp_socket = qobject_cast<QTcpSocket*>(sender());
    if (!lp_socket)
        return;
    lp_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    lp_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    ItemPtr l_socketItem = SocketItem("peer_connection_request_socket", lp_socket);
    ItemPtr l_request = l_socketItem["peer_connection_request"];
    if (!l_request) {
        // Nothing is left to answer; take the socket down like any other
        // connection back that cannot go on.
        DisposeOfSocket(lp_socket);
        return;
    }
    const bool l_obfuscated = l_request.IsConnected("is_obfuscated");
    MemStream l_first = PeerFirstMessage::MakeIndirect(l_request["peer_connection_request_id"].AsUInt());
    SendMessage(lp_socket, l_first, l_obfuscated);
    l_socketItem.Remove();

    const std::string l_user = l_request["user"].AsString();
    const std::string l_type = l_request["peer_connection_type"].AsString();
    Log(LogArea, 1, QString("Response connection to indirect request from %1, type %2 opened").arg(Text(l_user), Text(l_type)),
        l_request["user"]);
    l_request.Remove();

    if (l_type == "P") {
        connect(lp_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        MakePeerSocket(lp_socket, l_user, l_obfuscated, true);
    } else if (l_type == "F") {
        connect(lp_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
        WaitForTransferToken(lp_socket, l_user);
    } else if (l_type == "D") {
        QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
        emit DNetConnectionRequested(l_user, lp_socket);
    }
}

bool PeerMessenger::HandleFirstMessage(QTcpSocket* ip_socket, ItemPtr i_uninitializedSocket, MemStream& i_message)
{
    const bool l_obfuscated = i_uninitializedSocket.IsConnected("is_obfuscated");
    // From here on the socket is no longer uninitialized, whatever follows.
    i_uninitializedSocket.Remove();

    const PeerFirstMessage::Parsed l_first = PeerFirstMessage::Read(i_message);
    if (l_first.m_kind == PeerFirstMessage::Kind::Indirect && !AnswerableRelayed(l_first.m_token)) {
        RefuseAnswer(ip_socket);
        return false;
    }
    // What a crowd can send by the thousand is counted in a line a minute
    // per kind, which stands for the connection's disposal too.
    const auto l_closeCounted = [this, ip_socket](PeerLogCounter& io_lines, auto i_text) {
        LogCounted(io_lines, PeerNow(), i_text);
        DisposeQuietly(ip_socket);
        return false;
    };
    if (m_heardOut.Counts(ip_socket) && !EndHearing(ip_socket, l_first)) {
        CountRefusedHeard();
        DisposeQuietly(ip_socket);
        return false;
    }
    bool l_ok = false;
    switch (l_first.m_kind) {
    case PeerFirstMessage::Kind::NoDirection:
        return l_closeCounted(m_noDirectionLines,
                              [] { return QString("Connections whose first message told no direction, closed"); });
    case PeerFirstMessage::Kind::DirectUnreadable:
    case PeerFirstMessage::Kind::IndirectUnreadable:
        return l_closeCounted(m_unreadableFirstLines,
                              [] { return QString("Connections whose first message could not be read, closed"); });
    case PeerFirstMessage::Kind::Direct: {
        const std::string& l_user = l_first.m_user;
        const std::string& l_type = l_first.m_connectionType;
        if (l_type != "P" && l_type != "F" && l_type != "D") {
            return l_closeCounted(m_unknownTypeLines, [l_user, l_type] {
                return QString("Connections of a type we do not know closed, the latest of type %1 from user %2")
                    .arg(Text(l_type), Text(l_user));
            });
        }
        ItemPtr l_userItem = UserItem(l_user);
        if (l_type == "P") {
            Log(LogArea, 1, QString("Accepted messaging connection to user %1").arg(Text(l_user)), l_userItem);
            MakePeerSocket(ip_socket, l_user, l_obfuscated,
                           IsUsersAddress(l_user, ip_socket->peerAddress().toIPv4Address()));
            l_ok = true;
        } else if (l_type == "F") {
            Log(LogArea, 1, QString("Accepted file connection to user %1").arg(Text(l_user)), l_userItem);
            WaitForTransferToken(ip_socket, l_user);
            // It has spoken: no silent newcomer takes its place. Above the
            // bound it holds a place of the allowance, for a while only;
            // under it, it gives its place when room is needed.
            m_idleWatch.Spoke(ip_socket);
            if (m_heardOut.Counts(ip_socket)) {
                TimeTokenWait(ip_socket);
            } else {
                const quint32 l_address = ip_socket->peerAddress().toIPv4Address();
                m_fileWaits.Add(ip_socket, l_address, l_user, PeerNowMs());
                m_networkShare.AddWaiting(l_address);
            }
            l_ok = true;
        } else if (l_type == "D") {
            Log(LogArea, 1, QString("Accepted DNet connection to user %1").arg(Text(l_user)), l_userItem);
            AbandonSocket(ip_socket);
            emit DNetConnectionRequested(l_user, ip_socket);
            l_ok = true;
        }
        Log(LogArea, 1, QString("Peer connection of type %1 opened from user %2").arg(Text(l_type), Text(l_user)),
            l_userItem);
        break;
    }
    case PeerFirstMessage::Kind::Indirect: {
        // Refused above when it answered no request of ours.
        ItemPtr l_ours = AnswerableRelayed(l_first.m_token);
        ItemPtr l_userItem = l_ours["user"];
        const std::string l_user = l_userItem.AsString();
        const std::string l_type = l_ours["peer_connection_type"].AsString();
        ItemPtr l_attempt = l_ours["connect_to_peer_request"];
        l_ours.Remove();
        if (l_attempt)
            DisposeOfPeerConnectionRequest(l_attempt);
        Log(LogArea, 1,
            QString("Found req, accepted indirect connection to user %1, connection type %2").arg(Text(l_user), Text(l_type)),
            l_userItem);
        LogAnswerElsewhere(l_userItem, ip_socket->peerAddress().toIPv4Address());
        if (l_type == "P") {
            MakePeerSocket(ip_socket, l_user, l_obfuscated, true);
            l_ok = true;
        } else if (l_type == "F") {
            AbandonSocket(ip_socket);
            emit FileConnectionAccepted(l_user, ip_socket);
            l_ok = true;
        } else if (l_type == "D") {
            AbandonSocket(ip_socket);
            emit DNetConnectionAccepted(l_user, ip_socket);
            l_ok = true;
        }
        break;
    }
    }
    // A file connection waiting for its token stays timed from its accept;
    // every other connection is done with its introduction.
    const auto l_record = m_socketBufferInfoMap.find(ip_socket);
    if (l_record == m_socketBufferInfoMap.end() || !l_record->second.m_readFileConnectionReq)
        m_idleWatch.Forget(ip_socket);
    if (!l_ok)
        Log(LogArea, 1, "Failure initializing peer connection, disposing of socket");
    return l_ok;
}

void PeerMessenger::RefuseAnswer(QTcpSocket* ip_socket)
{
    const QDateTime l_now = PeerNow();
    // Heard out at the bound: its network was refused, as EndHearing would
    // have said.
    if (m_heardOut.Counts(ip_socket))
        NoteRefusal(ip_socket->peerAddress().toIPv4Address(), l_now);
    // Guesses at our tokens may come by the thousand a minute.
    LogCounted(m_refusedAnswerLines, l_now, [] {
        return QString("Connections that answered a relayed request with a token not ours, or no longer live, closed");
    });
    DisposeQuietly(ip_socket);
}

void PeerMessenger::CountRefusedHeard()
{
    // Beside the refused network's own line: a crowd refused at the bound
    // reconnects at once, by the thousand a minute.
    LogCounted(m_refusedHeardLines, PeerNow(),
               [] { return QString("Connections heard out at the bound and refused, closed"); });
}

void PeerMessenger::DisposeQuietly(QTcpSocket* ip_socket)
{
    if (const auto l_record = m_socketBufferInfoMap.find(ip_socket); l_record != m_socketBufferInfoMap.end())
        l_record->second.m_disposeQuietly = true;
}

void PeerMessenger::MakePeerSocket(QTcpSocket* ip_socket, const std::string& i_user, bool i_obfuscated,
                                   bool i_authentic)
{
    m_rules.Introduced(ip_socket, i_user, i_authentic);
    // Adding the item also gives the connection its activity time; its
    // removal ends the count of its network.
    m_networkShare.Add(ip_socket, ip_socket->peerAddress().toIPv4Address(), PeerNowMs());
    ItemPtr l_peerSocket = d.GetType("peer_socket")->NewItem(Value(ip_socket));
    l_peerSocket += UserItem(i_user);
    l_peerSocket += d.GetType("connection_open_time")->GetItem(PeerTimeStamp());
    if (i_obfuscated)
        l_peerSocket.NewItem("is_obfuscated");
    m_probation.Begin(ip_socket);
    SendUnsentMessages(i_user);
}

void PeerMessenger::WaitForTransferToken(QTcpSocket* ip_socket, const std::string& i_user)
{
    SocketBufferInfo& l_info = m_socketBufferInfoMap[ip_socket];
    l_info.m_readFileConnectionReq = true;
    l_info.m_user = i_user;
    // No item times this wait. An accepted socket is already timed from its
    // accept, which goes on; a connection of ours starts its wait now.
    if (!m_idleWatch.IsWatched(ip_socket))
        m_idleWatch.Watch(ip_socket, PeerNowMs());
}

void PeerMessenger::AbandonSocket(QTcpSocket* ip_socket)
{
    QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
    m_socketBufferInfoMap[ip_socket].m_abandonSocket = true;
    // An accepted socket is a child of its listener; its new owner may move
    // it to another thread.
    ip_socket->setParent(nullptr);
}
