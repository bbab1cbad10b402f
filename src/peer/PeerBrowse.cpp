// Browsing shares: asking a user for the whole share, receiving one, and
// being asked for ours or for one of our folders.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerReceivedFiles.h"
#include "peer/SharedFoldersService.h"

#include <QPointer>
#include <QTcpSocket>

using namespace PeerItems;

void PeerMessenger::GetUserSharedFiles(std::string i_user)
{
    // Only an asked-for listing is taken in: any peer could otherwise fill
    // our memory with listings under as many names as it likes.
    m_sharesAskedFor.insert(i_user);
    m_browseWatch.Asked(i_user);
    m_rules.BrowseAsked(i_user, PeerNowMs());
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(PeerMessageCodes::GetSharedFileList));
    SendMessage(i_user, l_message);
}

void PeerMessenger::NoteSent(const std::string& i_user, QTcpSocket* ip_socket, const MemStream& i_message)
{
    if (PeerMessageCodes::Of(i_message) == PeerMessageCodes::GetSharedFileList)
        m_browseWatch.Carried(i_user, ip_socket);
}

void PeerMessenger::AskAgainForSharesLost(QTcpSocket* ip_socket)
{
    for (const std::string& l_user : m_browseWatch.Lost(ip_socket)) {
        ItemPtr l_userItem = d.GetType("user")->HasItem(l_user);
        // Once per ask: a copy put back from a connection on probation is
        // that once, and goes already.
        if (!m_browseWatch.TakeResend(l_user))
            continue;
        const bool l_queued = l_userItem && PeerOutgoingQueue::Holds(l_userItem, [](const MemStream& i_message) {
            return PeerMessageCodes::Of(i_message) == PeerMessageCodes::GetSharedFileList;
        });
        if (l_queued)
            continue;
        Log(LogArea, 1,
            QString("The connection that carried our shared file list request to user %1 went before the listing "
                    "came, asking again")
                .arg(Text(l_user)),
            l_userItem);
        // Not from within the disposal: the request may open a connection.
        QMetaObject::invokeMethod(
            this,
            [this, l_user] {
                if (!m_sharesAskedFor.contains(l_user))
                    return;
                m_rules.BrowseAsked(l_user, PeerNowMs());
                MemStream l_message;
                l_message.Write(static_cast<unsigned int>(PeerMessageCodes::GetSharedFileList));
                SendMessage(l_user, l_message);
            },
            Qt::QueuedConnection);
    }
}

bool PeerMessenger::HandleSharedFileListRequest(ItemPtr i_user)
{
    // Before the shared-folders service exists there is nothing to answer
    // with; the asking peer may ask again.
    if (!sharedFoldersService)
        return true;
    const std::string l_user = i_user.AsString();
    // The reply may be made later: it keeps its place before whatever the
    // user's later requests bring.
    quint64 l_ticket = 0;
    if (!m_replyOrder.Reserve(l_user, l_ticket)) {
        Log(LogArea, 1,
            QString("Too many requests of user %1 wait for their answers, ignoring a shared file list request")
                .arg(Text(l_user)),
            i_user);
        return true;
    }
    // An empty body (no listing that may be sent) sends nothing, but frees
    // what waits behind it all the same.
    // The listing goes to the peer that asked, on the connection it asked
    // on, while that stands.
    sharedFoldersService->RequestSharedFilesMessage(
        l_user, [lp_self = QPointer<PeerMessenger>(this), l_user, l_ticket,
                 l_asking = QPointer<QTcpSocket>(m_replyRoute.Asking())](MemStream i_body) {
            if (lp_self)
                lp_self->OnBrowseReplyMade(l_user, l_ticket, i_body, l_asking);
        });
    return true;
}

bool PeerMessenger::HandleSharedFileList(MemStream& io_message, ItemPtr i_user)
{
    // One listing per request, whatever becomes of it.
    m_rules.BrowseAnswered(i_user.AsString());
    m_browseWatch.Answered(i_user.AsString());
    if (m_sharesAskedFor.erase(i_user.AsString()) == 0) {
        Log(LogArea, 1, QString("Listing from user %1 was not asked for, dropped").arg(Text(i_user)), i_user);
        return true;
    }
    MemStream l_payload;
    if (!InflatePayload(io_message, PeerMessageCodes::SharedFileList, i_user, l_payload))
        return true;

    FileInfoMap l_share;
    switch (PeerReceivedFiles::ReadListing(l_payload, l_share)) {
    case PeerReceivedFiles::Result::Read: break;
    case PeerReceivedFiles::Result::Unreadable: return false;
    case PeerReceivedFiles::Result::TooManyAttributes:
        return RefuseAttributeBomb(PeerMessageCodes::SharedFileList, i_user);
    }
    AttributeTranslationTable l_table;
    // A listing without a readable table is still a listing.
    if (!l_payload.Read(l_table))
        l_table.clear();
    emit UserShare(i_user.AsString(), l_share, l_table);
    return true;
}

bool PeerMessenger::HandleSharedFilesInFolderRequest(MemStream& io_message, ItemPtr i_user)
{
    unsigned int l_token = 0;
    std::string l_folder;
    if (!io_message.Read(l_token) || !io_message.Read(l_folder))
        return false;
    emit SharedFilesInFolderRequested(i_user.AsString(), l_token, l_folder);
    return true;
}
