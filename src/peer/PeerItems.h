#pragma once

#include "core/store/Data.h"

#include <QString>

#include <string>

class QTcpSocket;

// Small helpers shared by the parts of the peer layer.
namespace PeerItems
{
// The log area of every line of the peer layer.
inline const QString LogArea = QStringLiteral("Peer Messenger");

// The item of that socket type that stands for the socket, or null.
inline ItemPtr SocketItem(const char* ip_typeName, QTcpSocket* ip_socket)
{
    return d.GetType(ip_typeName)->HasItem(Value(ip_socket));
}

// The user's item, made when the store does not know the name yet.
inline ItemPtr UserItem(const std::string& i_user)
{
    return d.GetType("user")->GetItem(i_user);
}

inline QString Text(const std::string& i_text)
{
    return QString::fromStdString(i_text);
}

inline QString Text(ItemPtr i_item)
{
    return QString::fromStdString(i_item.AsString());
}
}
