// Messages addressed to users by name: sent at once on a messaging
// connection, or queued until one stands.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"

#include <QHostAddress>
#include <QTcpSocket>

using namespace PeerItems;

void PeerMessenger::SendMessage(std::string i_user, MemStream& i_message)
{
    const PeerReplyOrder::Hold l_hold = m_replyOrder.HoldIfWaiting(i_user, i_message);
    if (l_hold == PeerReplyOrder::Hold::SendNow) {
        SendNow(i_user, i_message);
        return;
    }
    const bool l_kept = l_hold == PeerReplyOrder::Hold::Kept;
    Log(LogArea, l_kept ? 2 : 1,
        QString(l_kept ? "%1 message to user %2 waits behind a shared file list being made"
                       : "Too many messages wait behind a shared file list for user %2, dropping a %1 message")
            .arg(MessageCodeToString(static_cast<int>(PeerMessageCodes::Of(i_message))), Text(i_user)),
        UserItem(i_user));
}

void PeerMessenger::SendNow(const std::string& i_user, MemStream& i_message)
{
    ItemPtr l_user = UserItem(i_user);
    const int l_code = static_cast<int>(PeerMessageCodes::Of(i_message));
    Log(LogArea, 1, QString("Send %1 message to user %2").arg(MessageCodeToString(l_code), Text(i_user)), l_user);

    if (ItemPtr l_connection = ConnectionFor(l_user)) {
        auto* lp_socket = l_connection.AsObject<QTcpSocket>();
        // A failed write loses the message; the write logs it.
        if (SendMessage(lp_socket, i_message, l_connection.IsConnected("is_obfuscated"))
            && m_probation.OnProbation(lp_socket))
            m_probation.Sent(lp_socket, {i_message, m_outgoingQueue.TakeSendOrder(), PeerTimeStamp(), 1});
        return;
    }
    Log(LogArea, 2, "Did not find messaging connection to user, queueing unsent message", l_user);
    m_outgoingQueue.Enqueue(l_user, i_message);
    ConnectToUser(i_user, "P");
}

ItemPtr PeerMessenger::ConnectionFor(ItemPtr i_user) const
{
    if (QTcpSocket* lp_authentic = m_rules.AuthenticOf(i_user.AsString())) {
        if (ItemPtr l_connection = SocketItem("peer_socket", lp_authentic))
            return l_connection;
    }
    // Anyone may take a user's name: once the server gave the user's
    // address (0 says it knows none), only a connection from there is the
    // user's, and with none we reach the user ourselves.
    const quint32 l_address = i_user.IsConnected("user_address") ? i_user["user_address"].AsUInt() : 0;
    if (l_address == 0)
        return PeerOutgoingQueue::ChooseConnection(i_user);
    return LatestFrom(i_user, l_address);
}

ItemPtr PeerMessenger::LatestFrom(ItemPtr i_user, quint32 i_address)
{
    return PeerOutgoingQueue::ChooseConnection(i_user, [i_address](QTcpSocket* ip_socket) {
        return ip_socket && ip_socket->peerAddress().toIPv4Address() == i_address;
    });
}

void PeerMessenger::OnBrowseReplyMade(const std::string& i_user, quint64 i_ticket, const MemStream& i_body)
{
    for (MemStream l_message : m_replyOrder.Fill(i_user, i_ticket, i_body))
        SendNow(i_user, l_message);
}

void PeerMessenger::SendUnsentMessages(std::string i_user)
{
    ItemPtr l_user = UserItem(i_user);
    if (!l_user.IsConnected("unsent_message"))
        return;
    m_outgoingQueue.Flush(
        l_user, ConnectionFor(l_user),
        [this](QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate) {
            return SendMessage(ip_socket, i_message, i_obfuscate);
        },
        [this](QTcpSocket* ip_socket, const PeerQueuedMessage& i_sent) { m_probation.Sent(ip_socket, i_sent); });
}

void PeerMessenger::PutBackUnproven(QTcpSocket* ip_socket)
{
    if (g_peerMessengerDeleted)
        return;
    std::vector<PeerQueuedMessage> l_kept = m_probation.End(ip_socket);
    ItemPtr l_user = SocketItem("peer_socket", ip_socket)["user"];
    if (l_kept.empty() || !l_user)
        return;
    Log(LogArea, 1,
        QString("Connection to user %1 ended before it showed that it is alive: %2 requests sent on it go again")
            .arg(Text(l_user))
            .arg(l_kept.size()),
        l_user);
    m_outgoingQueue.PutBack(l_user, l_kept);
    // Not from within the disposal: a flush may be writing to this very
    // connection.
    QMetaObject::invokeMethod(
        this, [this, l_name = l_user.AsString()] { ResendPutBack(l_name); }, Qt::QueuedConnection);
}

void PeerMessenger::ResendPutBack(const std::string& i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    // Sent meanwhile on another connection, or expired.
    if (!l_user || !l_user.IsConnected("unsent_message"))
        return;
    if (ConnectionFor(l_user))
        SendUnsentMessages(i_user);
    else
        ConnectToUser(i_user, "P");
}
