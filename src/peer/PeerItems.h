#pragma once

#include "core/log/Log.h"
#include "core/store/Data.h"
#include "peer/PeerLogNotes.h"

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

// Writes the line of an event that may come many times a second, once a
// minute at most, with how often it came since the last such line; the
// text is made only then.
template <class MakeText>
void LogCounted(PeerLogCounter& io_lines, const QDateTime& i_now, MakeText i_text, ItemPtr i_user = ItemPtr())
{
    int l_count = 0;
    if (!io_lines.Count(i_now, l_count))
        return;
    if (l_count == 0)
        Log(LogArea, 1, QString("%1 (said once a minute).").arg(i_text()), i_user);
    else
        Log(LogArea, 1, QString("%1 (said once a minute; %2 since the last such line).").arg(i_text()).arg(l_count), i_user);
}
}
