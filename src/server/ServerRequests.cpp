// The requests of the server link: each builds one message and sends it by
// the link's rule (dropped unless logged in).
#include "core/log/Log.h"
#include "core/store/Data.h"
#include "server/Server.h"
#include "server/ServerMessageWriter.h"

unsigned int Server::FileSearch(std::string i_search, bool i_wishList)
{
    const unsigned int l_token = ++m_searchToken;
    SendMessage(i_wishList ? WishListSearchCode : FileSearchCode, ServerMessageWriter().U32(l_token).Str(i_search).Payload());
    ItemPtr l_request = d.GetType("search_request")->NewItem(Value(l_token));
    l_request += d.GetType("search_request_text")->GetItem(i_search);
    if (i_wishList)
        l_request += d.GetType("wishlist_search")->GetGlobalNullItem();
    emit SearchRequested(l_token, i_search, i_wishList);
    return l_token;
}

void Server::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    SendMessage(SetWaitPortCode, ServerMessageWriter().U32(quint32(i_port)).U32(1).U32(quint32(i_obfuscatedPort)).Payload());
}

unsigned int Server::SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType,
                                                   const RelayToken::InUse& i_inUse)
{
    const unsigned int l_token = RelayToken::Draw(i_inUse);
    SendMessage(ConnectToPeerCode, ServerMessageWriter().U32(l_token).Str(i_user).Str(i_connectionType).Payload());
    Log("server", 1, QString("Sent indirect connection request to %1").arg(QString::fromStdString(i_user)));
    return l_token;
}

void Server::GetUserAddress(std::string i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    const qint64 l_now = NowMs();
    if (l_user.IsConnected("user_address_request")) {
        // Only an answer ends a look-up, and a server may drop one: a
        // look-up left unanswered would otherwise hold every later one of
        // the user for the rest of the session.
        const auto l_asked = m_addressAskedAt.find(i_user);
        if (l_asked != m_addressAskedAt.end() && l_now - l_asked->second < AddressAnswerWaitMs)
            return;
    } else {
        l_user += d.GetType("user_address_request")->NewItem();
    }
    SendMessage(GetUserAddressCode, ServerMessageWriter().Str(i_user).Payload());
    m_addressAskedAt[i_user] = l_now;
}

void Server::AddressAnswered(ItemPtr i_user)
{
    i_user.Disconnect("user_address_request");
    m_addressAskedAt.erase(i_user.AsString());
}

void Server::AddressWaitEnded(const std::string& i_user)
{
    m_addressAskedAt.erase(i_user);
}

qint64 Server::NowMs() const
{
    return m_clock ? m_clock() : m_monotonicClock.elapsed();
}

void Server::SendCantConnectToPeer(unsigned int i_req, std::string i_user)
{
    SendMessage(CantConnectToPeerCode, ServerMessageWriter().U32(i_req).Str(i_user).Payload());
}

void Server::TrackUser(std::string i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (l_user.IsConnected("is_tracked"))
        return;
    l_user += d.GetType("is_tracked")->GetGlobalNullItem();
    AddUser(i_user);
}

void Server::AddUser(std::string i_user)
{
    SendMessage(AddUserCode, ServerMessageWriter().Str(i_user).Payload());
}

void Server::SendFilesFolders(int i_folders, int i_files)
{
    SendMessage(SendFilesFoldersCode, ServerMessageWriter().U32(quint32(i_folders)).U32(quint32(i_files)).Payload());
}

void Server::GetUserStats(std::string i_user)
{
    SendMessage(GetUserStatsCode, ServerMessageWriter().Str(i_user).Payload());
}

void Server::SendUploadSpeed(int i_bytesPerSecond)
{
    SendMessage(SendUploadSpeedCode, ServerMessageWriter().U32(quint32(i_bytesPerSecond)).Payload());
}

void Server::GetOwnPrivilegesStatus()
{
    SendMessage(PrivilegesCode, QByteArray());
}

void Server::GetRoomList()
{
    SendMessage(RoomListCode, QByteArray());
}

void Server::EnterRoom(std::string i_room)
{
    SendMessage(JoinRoomCode, ServerMessageWriter().Str(i_room).Payload());
}

void Server::LeaveRoom(std::string i_room)
{
    ItemPtr l_room = d.GetType("room")->HasItem(i_room);
    if (l_room.IsNull() || !l_room.IsConnected("in_room"))
        return;
    SendMessage(LeaveRoomCode, ServerMessageWriter().Str(i_room).Payload());
}

void Server::SendRoomChat(std::string i_room, std::string i_text)
{
    SendMessage(RoomChatCode, ServerMessageWriter().Str(i_room).Str(i_text).Payload());
}

void Server::SendPrivateChat(std::string i_user, std::string i_text)
{
    SendMessage(PrivateChatCode, ServerMessageWriter().Str(i_user).Str(i_text).Payload());
}

void Server::AcknowledgePrivateChat(quint32 i_messageId)
{
    SendMessage(AckPrivateChatCode, ServerMessageWriter().U32(i_messageId).Payload());
}

void Server::SendHaveNoParent(bool i_haveNoParent)
{
    SendMessage(HaveNoParentCode, ServerMessageWriter().U8(i_haveNoParent ? 1 : 0).Payload());
}

void Server::SendAcceptChildren(bool i_acceptChildren)
{
    SendMessage(AcceptChildrenCode, ServerMessageWriter().U8(i_acceptChildren ? 1 : 0).Payload());
}

void Server::SendBranchLevel(int i_level)
{
    SendMessage(BranchLevelCode, ServerMessageWriter().U32(quint32(i_level)).Payload());
}

void Server::SendBranchRoot(std::string i_root)
{
    SendMessage(BranchRootCode, ServerMessageWriter().Str(i_root).Payload());
}
