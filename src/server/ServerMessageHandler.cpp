#include "server/ServerMessageHandler.h"

#include "core/io/UserStats.h"
#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "server/Server.h"
#include "server/ServerMessageReader.h"

#include <limits>
#include <vector>

ServerMessageHandler::ServerMessageHandler(Server& io_server) : m_server(io_server)
{
}

void ServerMessageHandler::Handle(quint32 i_code, const QByteArray& i_payload)
{
    switch (i_code) {
    case Server::LoginCode: HandleLogin(i_payload); break;
    case Server::GetUserAddressCode: HandleUserAddress(i_payload); break;
    case Server::AddUserCode: HandleAddUser(i_payload); break;
    case Server::UserStatusCode: HandleUserStatus(i_payload); break;
    case Server::RoomChatCode: HandleRoomChat(i_payload); break;
    case Server::JoinRoomCode: HandleJoinRoom(i_payload); break;
    case Server::LeaveRoomCode: HandleLeaveRoom(i_payload); break;
    case Server::UserJoinedRoomCode: HandleUserJoinedRoom(i_payload); break;
    case Server::UserLeftRoomCode: HandleUserLeftRoom(i_payload); break;
    case Server::ConnectToPeerCode: HandleConnectToPeer(i_payload); break;
    case Server::PrivateChatCode: HandlePrivateChat(i_payload); break;
    case Server::GetUserStatsCode: HandleUserStats(i_payload); break;
    case Server::RoomListCode: HandleRoomList(i_payload); break;
    case Server::PrivilegesCode: HandlePrivileges(i_payload); break;
    case Server::WishListIntervalCode: HandleWishListInterval(i_payload); break;
    case Server::CantConnectToPeerCode: HandleCantConnectToPeer(i_payload); break;
    case Server::EmbeddedDistributedCode:
    case Server::ParentCandidatesCode:
    case Server::DistributedResetCode:
        emit m_server.DistributedNetworkMessage(i_code, i_payload);
        break;
    default:
        Log("server", 1, QString("Unknown server message %1 skipped").arg(i_code));
        break;
    }
}

void ServerMessageHandler::Malformed(quint32 i_code)
{
    Log("server", 1, QString("Malformed server message %1 ignored").arg(i_code));
}

void ServerMessageHandler::HandleLogin(const QByteArray& i_payload)
{
    if (m_server.GetState() != Server::State::LoggingIn) {
        Log("server", 1, "Login answer outside of a login ignored");
        return;
    }
    ServerMessageReader l_reader(i_payload);
    quint8 l_success = 0;
    if (!l_reader.U8(l_success).Ok())
        return Malformed(Server::LoginCode);
    if (l_success == 0) {
        std::string l_reason;
        if (!l_reader.Str(l_reason).Ok())
            return Malformed(Server::LoginCode);
        m_server.OnLoginRefused(l_reason);
        return;
    }
    // Greeting, own address, digest and supporter flag: read so that a
    // broken answer is not taken for an acceptance, and otherwise unused.
    std::string l_greeting;
    quint32 l_ownAddress = 0;
    std::string l_digest;
    quint8 l_supporter = 0;
    if (!l_reader.Str(l_greeting).U32(l_ownAddress).Str(l_digest).U8(l_supporter).Ok())
        return Malformed(Server::LoginCode);
    m_server.OnLoginAccepted();
}

quint32 ServerMessageHandler::ReadObfuscatedPort(ServerMessageReader& io_reader)
{
    if (io_reader.AtEnd())
        return 0;
    quint32 l_type = 0;
    quint32 l_port = 0;
    io_reader.U32(l_type).U32(l_port);
    return l_port;
}

void ServerMessageHandler::SetUserFigures(ItemPtr i_user, qint32 i_averageSpeed, qint32 i_files, const std::string& i_countryCode)
{
    i_user += d.GetType("average_download_speed")->GetItem(Value(i_averageSpeed));
    i_user += d.GetType("shared_files_count")->GetItem(Value(i_files));
    i_user += d.GetType("country_code")->GetItem(Value(i_countryCode));
}

void ServerMessageHandler::SetOnline(const std::string& i_user, bool i_online)
{
    // An offline report also for a user who was not online: the report
    // itself tells an offline user from one whose status is not known. It
    // makes no item for a user the store does not know.
    if (i_online)
        Server::SetUserStatus(d.GetType("user")->GetItem(i_user), true);
    else if (ItemPtr l_user = d.GetType("user")->HasItem(i_user))
        Server::SetUserStatus(l_user, false);
}

void ServerMessageHandler::HandleUserAddress(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_name;
    quint32 l_address = 0;
    quint32 l_port = 0;
    l_reader.Str(l_name).U32(l_address).U32(l_port);
    const quint32 l_obfuscatedPort = ReadObfuscatedPort(l_reader);
    if (!l_reader.Ok())
        return Malformed(Server::GetUserAddressCode);
    ItemPtr l_user = d.GetType("user")->GetItem(l_name);
    Server::SetUserAddress(l_user, l_address, l_port, l_obfuscatedPort);
    m_server.AddressAnswered(l_user);
}

void ServerMessageHandler::HandleAddUser(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_name;
    quint8 l_exists = 0;
    if (!l_reader.Str(l_name).U8(l_exists).Ok())
        return Malformed(Server::AddUserCode);
    emit m_server.AddUserResponse(l_name, l_exists != 0);
    if (l_exists == 0) {
        SetOnline(l_name, false);
        return;
    }
    quint32 l_status = 0;
    UserStats l_stats;
    if (!l_reader.U32(l_status).Stats(l_stats).Ok())
        return Malformed(Server::AddUserCode);
    // The country code that may follow is of no use here.
    SetOnline(l_name, l_status != 0);
}

void ServerMessageHandler::HandleUserStatus(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_name;
    quint32 l_status = 0;
    quint8 l_privileged = 0;
    if (!l_reader.Str(l_name).U32(l_status).U8(l_privileged).Ok())
        return Malformed(Server::UserStatusCode);
    SetOnline(l_name, l_status != 0);
    if (l_privileged != 0)
        d.GetType("user")->GetItem(l_name) += d.GetType("is_privileged")->GetGlobalNullItem();
    else if (ItemPtr l_user = d.GetType("user")->HasItem(l_name))
        l_user.Disconnect("is_privileged");
}

void ServerMessageHandler::HandleRoomChat(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_room;
    std::string l_user;
    std::string l_text;
    if (!l_reader.Str(l_room).Str(l_user).Str(l_text).Ok())
        return Malformed(Server::RoomChatCode);
    // A line of nobody would show up as said by no one.
    if (l_user.empty())
        return;
    emit m_server.RoomChat(l_room, l_user, l_text);
}

void ServerMessageHandler::HandleJoinRoom(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_roomName;
    std::vector<std::string> l_users;
    std::vector<quint32> l_statuses;
    std::vector<UserStats> l_stats;
    std::vector<quint32> l_slotsFull;
    std::vector<std::string> l_countries;
    l_reader.Str(l_roomName).StrList(l_users).U32List(l_statuses).StatsList(l_stats).U32List(l_slotsFull).StrList(l_countries);
    const std::size_t l_count = l_users.size();
    if (!l_reader.Ok() || l_statuses.size() != l_count || l_stats.size() != l_count || l_slotsFull.size() != l_count
        || l_countries.size() != l_count)
        return Malformed(Server::JoinRoomCode);

    ItemPtr l_room = d.GetType("room")->GetItem(l_roomName);
    l_room += d.GetType("in_room")->GetGlobalNullItem();
    l_room.Disconnect("user");
    for (std::size_t l_index = 0; l_index < l_count; ++l_index) {
        if (l_users[l_index].empty())
            continue;
        ItemPtr l_user = d.GetType("user")->GetItem(l_users[l_index]);
        SetUserFigures(l_user, l_stats[l_index].m_averageDownloadSpeed, l_stats[l_index].m_sharedFiles, l_countries[l_index]);
        l_room += l_user;
    }
}

void ServerMessageHandler::HandleLeaveRoom(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_roomName;
    if (!l_reader.Str(l_roomName).Ok())
        return Malformed(Server::LeaveRoomCode);
    ItemPtr l_room = d.GetType("room")->HasItem(l_roomName);
    if (l_room.IsNull())
        return;
    l_room.Disconnect("in_room");
    l_room.Disconnect("user");
}

void ServerMessageHandler::HandleUserJoinedRoom(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_roomName;
    std::string l_userName;
    quint32 l_status = 0;
    UserStats l_stats;
    quint32 l_slotsFull = 0;
    std::string l_country;
    if (!l_reader.Str(l_roomName).Str(l_userName).U32(l_status).Stats(l_stats).U32(l_slotsFull).Str(l_country).Ok())
        return Malformed(Server::UserJoinedRoomCode);
    if (l_userName.empty())
        return;
    ItemPtr l_user = d.GetType("user")->GetItem(l_userName);
    SetUserFigures(l_user, l_stats.m_averageDownloadSpeed, l_stats.m_sharedFiles, l_country);
    d.GetType("room")->GetItem(l_roomName) += l_user;
}

void ServerMessageHandler::HandleUserLeftRoom(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_roomName;
    std::string l_userName;
    if (!l_reader.Str(l_roomName).Str(l_userName).Ok())
        return Malformed(Server::UserLeftRoomCode);
    ItemPtr l_room = d.GetType("room")->HasItem(l_roomName);
    ItemPtr l_user = d.GetType("user")->HasItem(l_userName);
    if (!l_room.IsNull() && !l_user.IsNull())
        l_room.Disconnect(l_user);
}

void ServerMessageHandler::HandleConnectToPeer(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_name;
    std::string l_type;
    quint32 l_address = 0;
    quint32 l_port = 0;
    quint32 l_token = 0;
    quint8 l_privileged = 0;
    l_reader.Str(l_name).Str(l_type).U32(l_address).U32(l_port).U32(l_token).U8(l_privileged);
    const quint32 l_obfuscatedPort = ReadObfuscatedPort(l_reader);
    if (!l_reader.Ok())
        return Malformed(Server::ConnectToPeerCode);
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += d.GetType("peer_connection_request_id")->GetItem(Value(l_token));
    l_request += d.GetType("peer_connection_type")->GetItem(l_type);
    ItemPtr l_user = d.GetType("user")->GetItem(l_name);
    l_request += l_user;
    Server::SetUserAddress(l_user, l_address, l_port, l_obfuscatedPort);
}

void ServerMessageHandler::HandlePrivateChat(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_id = 0;
    quint32 l_time = 0;
    std::string l_user;
    std::string l_text;
    quint8 l_new = 0;
    if (!l_reader.U32(l_id).U32(l_time).Str(l_user).Str(l_text).U8(l_new).Ok())
        return Malformed(Server::PrivateChatCode);
    // Acknowledged all the same: the server would deliver it again at every
    // login.
    if (l_user.empty())
        Log("server", 1, "Private message without a sender ignored");
    else
        emit m_server.PrivateChat(l_user, l_text, static_cast<time_t>(l_time), l_new != 0);
    m_server.AcknowledgePrivateChat(l_id);
}

void ServerMessageHandler::HandleUserStats(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::string l_user;
    UserStats l_stats;
    if (!l_reader.Str(l_user).Stats(l_stats).Ok())
        return Malformed(Server::GetUserStatsCode);
    emit m_server.ReceivedUserStats(l_user, l_stats);
}

void ServerMessageHandler::HandleRoomList(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    std::vector<std::string> l_rooms;
    std::vector<quint32> l_counts;
    if (!l_reader.StrList(l_rooms).U32List(l_counts).Ok() || l_rooms.size() != l_counts.size())
        return Malformed(Server::RoomListCode);
    for (std::size_t l_index = 0; l_index < l_rooms.size(); ++l_index)
        d.GetType("room")->GetItem(l_rooms[l_index]) += d.GetType("user_count")->GetItem(Value(l_counts[l_index]));
}

void ServerMessageHandler::HandlePrivileges(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_seconds = 0;
    if (!l_reader.U32(l_seconds).Ok())
        return Malformed(Server::PrivilegesCode);
    Settings::Set("privileges_time_left", ToString(l_seconds));
    // More than the signal's int can hold is shown as the most it can.
    const quint32 l_max = static_cast<quint32>(std::numeric_limits<int>::max());
    emit m_server.ReceivedOwnPrivilegesStatus(static_cast<int>(qMin(l_seconds, l_max)));
}

void ServerMessageHandler::HandleWishListInterval(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_seconds = 0;
    if (!l_reader.U32(l_seconds).Ok())
        return Malformed(Server::WishListIntervalCode);
    emit m_server.WishListIntervalReceived(l_seconds);
}

void ServerMessageHandler::HandleCantConnectToPeer(const QByteArray& i_payload)
{
    ServerMessageReader l_reader(i_payload);
    quint32 l_token = 0;
    if (!l_reader.U32(l_token).Ok())
        return Malformed(Server::CantConnectToPeerCode);
    emit m_server.IndirectPeerConnectionFailure(l_token);
}
