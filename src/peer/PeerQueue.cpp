// Messages addressed to users by name: sent at once on a messaging
// connection, or queued until one stands.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>

using namespace PeerItems;

void PeerMessenger::SendMessage(std::string i_user, MemStream& i_message)
{
    QTcpSocket* lp_route = m_replyRoute.RouteOf(i_user, i_message);
    const PeerReplyOrder::Hold l_hold = m_replyOrder.HoldIfWaiting(i_user, i_message, lp_route);
    if (l_hold == PeerReplyOrder::Hold::SendNow) {
        SendNow(i_user, i_message, lp_route, lp_route != nullptr);
        return;
    }
    const bool l_kept = l_hold == PeerReplyOrder::Hold::Kept;
    Log(LogArea, l_kept ? 2 : 1,
        QString(l_kept ? "%1 message to user %2 waits behind a shared file list being made"
                       : "Too many messages wait behind a shared file list for user %2, dropping a %1 message")
            .arg(MessageCodeToString(static_cast<int>(PeerMessageCodes::Of(i_message))), Text(i_user)),
        UserItem(i_user));
}

ItemPtr PeerMessenger::RouteStanding(QTcpSocket* ip_route, ItemPtr i_user)
{
    if (!ip_route)
        return {};
    ItemPtr l_connection = SocketItem("peer_socket", ip_route);
    return l_connection && l_connection["user"] == i_user ? l_connection : ItemPtr();
}

void PeerMessenger::SendNow(const std::string& i_user, MemStream& i_message, QTcpSocket* ip_route, bool i_reply)
{
    ItemPtr l_user = UserItem(i_user);
    const int l_code = static_cast<int>(PeerMessageCodes::Of(i_message));
    Log(LogArea, 1, QString("Send %1 message to user %2").arg(MessageCodeToString(l_code), Text(i_user)), l_user);

    // A reply goes where its request came from, while that connection
    // stands; anything else goes to the user as every message does.
    ItemPtr l_connection = RouteStanding(ip_route, l_user);
    const bool l_routed = bool(l_connection);
    if (!l_routed && i_reply && !AuthenticStands(l_user)) {
        DropReply(l_user, l_code);
        return;
    }
    if (!l_routed)
        l_connection = ConnectionFor(l_user);
    // Messages held for the user go first, in order: a later one never
    // overtakes them on the way to the user. A reply on another connection
    // than the user's own goes its own way.
    if (l_user.IsConnected("unsent_message") && (!l_routed || l_connection == ConnectionFor(l_user))) {
        Log(LogArea, 2, "Messages to user wait already, queueing behind them", l_user);
        m_outgoingQueue.Enqueue(l_user, i_message);
        DeliverHeld(l_user);
        return;
    }
    if (l_connection) {
        auto* lp_socket = l_connection.AsObject<QTcpSocket>();
        const PeerQueuedMessage l_sent{i_message, m_outgoingQueue.TakeSendOrder(), PeerTimeStamp(), 1};
        bool l_went = false;
        if (SendMessage(lp_socket, i_message, l_connection.IsConnected("is_obfuscated"), &l_went)) {
            if (m_probation.OnProbation(lp_socket))
                m_probation.Sent(lp_socket, l_sent);
            NoteSent(i_user, lp_socket, i_message);
            return;
        }
        // The connection went while the message was written (the write
        // logs it): the peer may or may not have read it, so it goes again
        // on the user's next connection, as a message put back from a
        // connection that failed on probation does. One we took down for
        // not taking what we send loses it.
        if (l_went && i_reply) {
            DropReply(l_user, l_code);
        } else if (l_went) {
            m_outgoingQueue.PutBack(l_user, {l_sent});
            ResendPutBackLater(i_user);
        }
        return;
    }
    Log(LogArea, 2, "Did not find messaging connection to user, queueing unsent message", l_user);
    m_outgoingQueue.Enqueue(l_user, i_message);
    ReachUser(l_user);
}

bool PeerMessenger::AuthenticStands(ItemPtr i_user) const
{
    QTcpSocket* lp_authentic = m_rules.AuthenticOf(i_user.AsString());
    return lp_authentic && SocketItem("peer_socket", lp_authentic);
}

void PeerMessenger::DropReply(ItemPtr i_user, int i_code)
{
    // Anyone may ask under a user's name and go: a reply sent to the user
    // by name would have us look the user up, connect and send what the
    // user never asked for, a listing many thousand times the request's
    // size. Whoever asked asks again.
    LogCounted(
        m_droppedReplyLines, PeerNow(),
        [l_code = MessageCodeToString(i_code)](const QString& i_name) {
            return QString("The connection that asked went before the %1 reply to user %2, dropping it")
                .arg(l_code, i_name);
        },
        i_user);
}

ItemPtr PeerMessenger::ConnectionFor(ItemPtr i_user) const
{
    if (QTcpSocket* lp_authentic = m_rules.AuthenticOf(i_user.AsString())) {
        if (ItemPtr l_connection = SocketItem("peer_socket", lp_authentic))
            return l_connection;
    }
    // Anyone may take a user's name: once the server gave the user's
    // address (0 says it knows none), only a connection from there is the
    // user's, and with none we reach the user ourselves. Until it gave it,
    // nothing goes while it can be asked.
    if (AddressToAsk(i_user))
        return {};
    // The server left the look-up unanswered: what waits goes on a
    // connection of ours, or on the user's answer to our relayed request.
    if (m_addressUnanswered.contains(i_user.AsString()) && !i_user.IsConnected("user_address"))
        return {};
    const quint32 l_address = i_user.IsConnected("user_address") ? i_user["user_address"].AsUInt() : 0;
    if (l_address == 0)
        return PeerOutgoingQueue::ChooseConnection(i_user);
    return LatestFrom(i_user, l_address);
}

bool PeerMessenger::AddressToAsk(ItemPtr i_user) const
{
    return !i_user.IsConnected("user_address") && !m_rules.AuthenticOf(i_user.AsString())
           && !m_addressUnanswered.contains(i_user.AsString()) && GetPeerServerRequests().CanAskAddress();
}

void PeerMessenger::ReachUser(ItemPtr i_user)
{
    const std::string l_name = i_user.AsString();
    if (!AddressToAsk(i_user)) {
        ConnectToUser(l_name, "P");
        return;
    }
    // The user's own connection, if one stands, is known once the address
    // comes (OnUserAddress); asked once however many messages wait.
    const qint64 l_now = PeerNowMs();
    if (!m_addressAsked.try_emplace(l_name, l_now).second)
        return;
    m_addressAskOrder.emplace_back(l_now, l_name);
    if (!m_addressWaitTimer.isActive())
        WatchAddressWaits(l_now);
    Log(LogArea, 1, QString("Asking the server for the address of user %1 before sending to the user").arg(Text(l_name)),
        i_user);
    GetPeerServerRequests().GetUserAddress(l_name);
}

void PeerMessenger::SendAfterAddress(ItemPtr i_user)
{
    // Also an answer that comes after its wait ended, or one asked for by
    // an attempt of ours: whatever waits for the user goes now.
    const std::string l_name = i_user.AsString();
    m_addressAsked.erase(l_name);
    m_addressUnanswered.erase(l_name);
    if (!i_user.IsConnected("unsent_message"))
        return;
    if (ConnectionFor(i_user))
        SendUnsentMessages(l_name);
    else
        ConnectToUser(l_name, "P");
}

void PeerMessenger::DeliverHeld(ItemPtr i_user)
{
    if (ConnectionFor(i_user))
        SendUnsentMessages(i_user.AsString());
    else
        ReachUser(i_user);
}

void PeerMessenger::EndAddressWaits(qint64 i_nowMs, bool i_all)
{
    // A look-up the server left unanswered for its wait, or one it can no
    // longer answer (the link went), counts as no address: what waits for
    // the user goes on a connection we open, direct and relayed, or on the
    // user's answer to our relayed request; a connection that only claims
    // the name gets nothing. Nothing waits for ever on a silent server.
    std::vector<std::string> l_ended;
    while (!m_addressAskOrder.empty()) {
        const auto& [l_askedMs, l_name] = m_addressAskOrder.front();
        const auto l_asked = m_addressAsked.find(l_name);
        const bool l_waits = l_asked != m_addressAsked.end() && l_asked->second == l_askedMs;
        // A clock that went back ends the wait rather than stretch it.
        if (l_waits && !i_all && i_nowMs - l_askedMs < m_addressAskMs && i_nowMs >= l_askedMs)
            break;
        if (l_waits) {
            l_ended.push_back(l_name);
            m_addressAsked.erase(l_asked);
        }
        m_addressAskOrder.pop_front();
    }
    WatchAddressWaits(i_nowMs);
    for (const std::string& l_name : l_ended) {
        // The server link's wait for the look-up ends with ours, whatever its
        // own clock reads: reaching the user without the address asks again.
        GetPeerServerRequests().AddressWaitEnded(l_name);
        ItemPtr l_user = d.GetType("user")->HasItem(l_name);
        if (!l_user || l_user.IsConnected("user_address") || !l_user.IsConnected("unsent_message"))
            continue;
        Log(LogArea, 1,
            QString("The server told no address of user %1 in time, reaching the user without it").arg(Text(l_name)),
            l_user);
        m_addressUnanswered.insert(l_name);
        DeliverHeld(l_user);
    }
}

void PeerMessenger::ForgetUnansweredLookUps()
{
    // The mark lasts while messages wait: the next message to the user once
    // they went asks again, as the first did, and the server link sends a
    // look-up it left unanswered again.
    std::erase_if(m_addressUnanswered, [](const std::string& i_name) {
        ItemPtr l_user = d.GetType("user")->HasItem(i_name);
        return !l_user || !l_user.IsConnected("unsent_message");
    });
}

void PeerMessenger::WatchAddressWaits(qint64 i_nowMs)
{
    if (m_addressAskOrder.empty()) {
        m_addressWaitTimer.stop();
        return;
    }
    const qint64 l_left = m_addressAskOrder.front().first + m_addressAskMs - i_nowMs;
    m_addressWaitTimer.start(std::chrono::milliseconds(std::clamp<qint64>(l_left, 0, m_addressAskMs)));
}

void PeerMessenger::OnServerLost()
{
    EndAddressWaits(PeerNowMs(), true);
}

ItemPtr PeerMessenger::LatestFrom(ItemPtr i_user, quint32 i_address)
{
    return PeerOutgoingQueue::ChooseConnection(i_user, [i_address](QTcpSocket* ip_socket) {
        return ip_socket && ip_socket->peerAddress().toIPv4Address() == i_address;
    });
}

void PeerMessenger::OnBrowseReplyMade(const std::string& i_user, quint64 i_ticket, const MemStream& i_body,
                                      QTcpSocket* ip_asking)
{
    for (PeerReplyOrder::Ready& l_ready : m_replyOrder.Fill(i_user, i_ticket, i_body, ip_asking)) {
        // An offer that waited here for an upload that has ended meanwhile.
        if (PeerMessageCodes::IsUploadOffer(l_ready.m_message) && m_offerCheck
            && !m_offerCheck(i_user, PeerMessageCodes::TransferToken(l_ready.m_message)))
            continue;
        SendNow(i_user, l_ready.m_message, l_ready.m_route, l_ready.m_reply);
    }
}

void PeerMessenger::SendUnsentMessages(std::string i_user)
{
    ItemPtr l_user = UserItem(i_user);
    if (!l_user.IsConnected("unsent_message"))
        return;
    bool l_went = false;
    PeerOutgoingQueue::Sending l_sending;
    l_sending.m_write = [this, &l_went](QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate) {
        return SendMessage(ip_socket, i_message, i_obfuscate, &l_went);
    };
    l_sending.m_sent = [this, &i_user](QTcpSocket* ip_socket, const PeerQueuedMessage& i_sent) {
        m_probation.Sent(ip_socket, i_sent);
        NoteSent(i_user, ip_socket, i_sent.m_message);
    };
    l_sending.m_maxSends = PeerProbation::MaxSends;
    l_sending.m_stale = StaleTestFor(i_user);
    const bool l_stopped = m_outgoingQueue.Flush(l_user, ConnectionFor(l_user), l_sending);
    // The connection went during the flush, before anything it took was
    // kept for probation: what is left needs another connection.
    if (l_stopped && l_went)
        ResendPutBackLater(i_user);
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
    ResendPutBackLater(l_user.AsString());
}

void PeerMessenger::ResendPutBackLater(const std::string& i_user)
{
    // Not from within the disposal or a write: a flush may be writing to
    // the connection that went.
    QMetaObject::invokeMethod(this, [this, i_user] { ResendPutBack(i_user); }, Qt::QueuedConnection);
}

PeerOutgoingQueue::StaleTest PeerMessenger::StaleTestFor(const std::string& i_user) const
{
    // Our offer went out before: once the user answered it (on another
    // connection), or the upload left its offer, a copy would only be
    // answered again.
    return [this, i_user](const MemStream& i_message) {
        return PeerMessageCodes::IsUploadOffer(i_message) && m_offerCheck
               && !m_offerCheck(i_user, PeerMessageCodes::TransferToken(i_message));
    };
}

void PeerMessenger::ResendPutBack(const std::string& i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    // Sent meanwhile on another connection, expired, or no longer wanted.
    if (!l_user || !PeerOutgoingQueue::DropStale(l_user, StaleTestFor(i_user)))
        return;
    if (ConnectionFor(l_user))
        SendUnsentMessages(i_user);
    else
        ReachUser(l_user);
}

bool PeerMessenger::OfferUnsent(const std::string& i_user, quint32 i_token) const
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user)
        return false;
    for (ItemPtr l_entry : l_user.GetItems("unsent_message")) {
        const auto* lp_message = l_entry.AsObject<MemStream>();
        if (lp_message && !l_entry.IsConnected("send_count") && PeerMessageCodes::IsUploadOffer(*lp_message)
            && PeerMessageCodes::TransferToken(*lp_message) == i_token)
            return true;
    }
    return false;
}

void PeerMessenger::WithdrawOffer(const std::string& i_user, quint32 i_token)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user || !l_user.IsConnected("unsent_message"))
        return;
    const bool l_dropped = PeerOutgoingQueue::DropQueued(l_user, [i_token](const MemStream& i_message) {
        return PeerMessageCodes::IsUploadOffer(i_message) && PeerMessageCodes::TransferToken(i_message) == i_token;
    });
    if (l_dropped)
        Log(LogArea, 1, QString("Our offer to user %1 is no longer wanted, it does not go").arg(Text(i_user)), l_user);
}

