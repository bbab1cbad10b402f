// Every frame after a connection's first message: its code read, the
// connection marked active, the receipt logged, and the message dispatched.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerInflate.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerReceivedFiles.h"

#include <limits>

using namespace PeerItems;

bool PeerMessenger::HandleMessage(QTcpSocket* ip_socket, MemStream i_message)
{
    ItemPtr l_uninitialized = SocketItem("uninitialized_socket", ip_socket);
    if (l_uninitialized)
        return HandleFirstMessage(ip_socket, l_uninitialized, i_message);

    ItemPtr l_peerSocket = SocketItem("peer_socket", ip_socket);
    if (!l_peerSocket) {
        // Neither introduced nor a messaging connection: nobody owns what
        // arrives here.
        Log(LogArea, 1, "Message on a connection without a user, disposing of socket");
        return false;
    }
    ItemPtr l_user = l_peerSocket["user"];
    unsigned int l_code = 0;
    if (!i_message.Read(l_code)) {
        Log(LogArea, 1,
            QString("Could not read message code on connection to user %1, disposing of socket").arg(Text(l_user)),
            l_user);
        return false;
    }
    // Also a message that turns out malformed counts as activity.
    const QDateTime l_now = PeerNow();
    if (auto* lp_lastActivity = l_peerSocket["last_activity_time"].AsObject<QDateTime>())
        *lp_lastActivity = l_now;
    m_activity.Touch(ip_socket, l_now.toMSecsSinceEpoch());
    // A message that waited in the socket when we last sent answers none of
    // it: the peer sent it before it could read ours.
    const auto l_record = m_socketBufferInfoMap.find(ip_socket);
    m_networkShare.Touch(ip_socket, l_now.toMSecsSinceEpoch(),
                         l_record == m_socketBufferInfoMap.end() ? std::numeric_limits<qint64>::max()
                                                                 : l_record->second.m_bytesTaken);
    // The peer kept the connection: what we sent on it arrived.
    m_probation.Pass(ip_socket);
    Log(LogArea, 1,
        QString("Received %1 message from user %2").arg(MessageCodeToString(static_cast<int>(l_code)), Text(l_user)),
        l_user);

    namespace Codes = PeerMessageCodes;
    // Until we answer, the connection carries a reply at the bound: the
    // peer waits on it for what we are about to say.
    if (l_code == Codes::GetSharedFileList || l_code == Codes::GetSharedFilesInFolder
        || l_code == Codes::TransferRequest || l_code == Codes::QueueUpload)
        m_rules.RequestCame(ip_socket, l_now.toMSecsSinceEpoch());
    // What the services answer while the request is handled goes back on
    // this connection.
    const PeerReplyRoute::Scope l_route(m_replyRoute, ip_socket, l_user.AsString(), l_code);
    switch (l_code) {
    case Codes::FileSearchResult: return HandleSearchReply(i_message, l_user);
    case Codes::GetSharedFileList: return HandleSharedFileListRequest(l_user);
    case Codes::SharedFileList: return HandleSharedFileList(i_message, l_user);
    case Codes::TransferRequest: return HandleTransferRequest(i_message, l_user);
    case Codes::QueueUpload: return HandleQueueUpload(i_message, l_user);
    case Codes::TransferResponse: return HandleTransferResponse(i_message, l_user);
    case Codes::UploadFailed: return HandleUploadFailed(i_message, l_user);
    case Codes::UploadDenied: return HandleUploadDenied(i_message, l_user);
    case Codes::GetSharedFilesInFolder: return HandleSharedFilesInFolderRequest(i_message, l_user);
    case Codes::UploadPlaceInLine: return HandleUploadPlaceInLine(i_message, l_user);
    default:
        // Named or not, a code without a handler is only logged.
        return true;
    }
}

bool PeerMessenger::InflatePayload(MemStream& i_message, unsigned int i_code, ItemPtr i_user, MemStream& o_payload)
{
    switch (PeerInflate::Inflate(i_message.GetReadBuffer(), i_message.GetPendingReadLength(), o_payload)) {
    case PeerInflate::Result::Inflated:
    case PeerInflate::Result::Unreadable:
        // Bytes that do not inflate leave the payload empty, so its first
        // field cannot be read.
        return true;
    case PeerInflate::Result::TooLarge:
        Log(LogArea, 1,
            QString("Listing in %1 message from user %2 is too large, ignored")
                .arg(MessageCodeToString(static_cast<int>(i_code)), Text(i_user)),
            i_user);
        return false;
    case PeerInflate::Result::OutOfMemory:
        return false;
    }
    return false;
}

bool PeerMessenger::RefuseAttributeBomb(unsigned int i_code, ItemPtr i_user)
{
    Log(LogArea, 1,
        QString("%1 message from user %2 has a file with more than %3 attributes, disposing of socket")
            .arg(MessageCodeToString(static_cast<int>(i_code)), Text(i_user))
            .arg(PeerReceivedFiles::MaxAttributes),
        i_user);
    return false;
}
