#pragma once

#include "core/store/Item.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>

class Server;
class ServerMessageReader;

// Reads every message that comes from the server and turns it into item
// changes and signals of the server link. A message that cannot be read is
// logged and ignored; the connection stays.
class ServerMessageHandler
{
public:
    explicit ServerMessageHandler(Server& io_server);

    void Handle(quint32 i_code, const QByteArray& i_payload);

private:
    void HandleLogin(const QByteArray& i_payload);
    void HandleUserAddress(const QByteArray& i_payload);
    void HandleAddUser(const QByteArray& i_payload);
    void HandleUserStatus(const QByteArray& i_payload);
    void HandleRoomChat(const QByteArray& i_payload);
    void HandleJoinRoom(const QByteArray& i_payload);
    void HandleLeaveRoom(const QByteArray& i_payload);
    void HandleUserJoinedRoom(const QByteArray& i_payload);
    void HandleUserLeftRoom(const QByteArray& i_payload);
    void HandleConnectToPeer(const QByteArray& i_payload);
    void HandlePrivateChat(const QByteArray& i_payload);
    void HandleUserStats(const QByteArray& i_payload);
    void HandleRoomList(const QByteArray& i_payload);
    void HandlePrivileges(const QByteArray& i_payload);
    void HandleWishListInterval(const QByteArray& i_payload);
    void HandleCantConnectToPeer(const QByteArray& i_payload);

    // The optional [u32 obfuscation type][u32 obfuscated port] tail: absent
    // gives port 0; a partial tail fails the reader.
    static quint32 ReadObfuscatedPort(ServerMessageReader& io_reader);
    // Called before the user is connected to a room: a room tab makes a
    // member's row once, when the user joins, from the figures it has then.
    static void SetUserFigures(ItemPtr i_user, qint32 i_averageSpeed, qint32 i_files, const std::string& i_countryCode);
    // The user's status as the server tells it: online, or reported
    // offline. A user without an item gets none for an offline report.
    static void SetOnline(const std::string& i_user, bool i_online);
    static void Malformed(quint32 i_code);

    Server& m_server;
};
