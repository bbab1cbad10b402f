// Messages addressed to users by name: sent at once on a messaging
// connection, or queued until one stands.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerItems.h"

#include <QTcpSocket>
#include <QtEndian>

#include <cstring>

using namespace PeerItems;

namespace
{
// The code in the first four bytes of a message body, whatever its read
// position.
quint32 MessageCode(const MemStream& i_message)
{
    const MemStream::Buffer& l_buffer = *i_message.mp_buffer;
    unsigned char l_bytes[4] = {0, 0, 0, 0};
    std::memcpy(l_bytes, l_buffer.mp_buffer, static_cast<size_t>(qBound(0, l_buffer.m_writeIndex, 4)));
    return qFromLittleEndian<quint32>(l_bytes);
}
}

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
            .arg(MessageCodeToString(static_cast<int>(MessageCode(i_message))), Text(i_user)),
        UserItem(i_user));
}

void PeerMessenger::SendNow(const std::string& i_user, MemStream& i_message)
{
    ItemPtr l_user = UserItem(i_user);
    const int l_code = static_cast<int>(MessageCode(i_message));
    Log(LogArea, 1, QString("Send %1 message to user %2").arg(MessageCodeToString(l_code), Text(i_user)), l_user);

    if (ItemPtr l_connection = PeerOutgoingQueue::ChooseConnection(l_user)) {
        // A failed write loses the message; the write logs it.
        SendMessage(l_connection.AsObject<QTcpSocket>(), i_message, l_connection.IsConnected("is_obfuscated"));
        return;
    }
    Log(LogArea, 2, "Did not find messaging connection to user, queueing unsent message", l_user);
    m_outgoingQueue.Enqueue(l_user, i_message);
    ConnectToUser(i_user, "P");
}

void PeerMessenger::OnBrowseReplyMade(const std::string& i_user, quint64 i_ticket, const MemStream& i_body)
{
    for (MemStream l_message : m_replyOrder.Fill(i_user, i_ticket, i_body))
        SendNow(i_user, l_message);
}

void PeerMessenger::SendUnsentMessages(std::string i_user)
{
    m_outgoingQueue.Flush(UserItem(i_user), [this](QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate) {
        return SendMessage(ip_socket, i_message, i_obfuscate);
    });
}
