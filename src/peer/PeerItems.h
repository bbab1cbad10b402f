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

// The line of an event counted by a PeerLogCounter, with i_count events
// since the last such line (0: no line came before).
inline void LogCount(const QString& i_text, int i_count, ItemPtr i_user)
{
    if (i_count == 0)
        Log(LogArea, 1, QString("%1 (said once a minute).").arg(i_text), i_user);
    else
        Log(LogArea, 1, QString("%1 (said once a minute; %2 since the last such line).").arg(i_text).arg(i_count), i_user);
}

// Writes the line of an event that may come many times a second, once a
// minute at most, with how often it came since the last such line; the
// text is made only then (LogDue writes what is left).
template <class MakeText>
void LogCounted(PeerLogCounter& io_lines, const QDateTime& i_now, MakeText i_text)
{
    int l_count = 0;
    if (io_lines.Count(i_now, l_count, [i_text](const QString&) { return i_text(); }))
        LogCount(i_text(), l_count, ItemPtr());
}

// The same for an event of a user: the text is made from the user's name,
// and the line is filed under the user.
template <class MakeText>
void LogCounted(PeerLogCounter& io_lines, const QDateTime& i_now, MakeText i_text, ItemPtr i_user)
{
    int l_count = 0;
    if (io_lines.Count(i_now, l_count, i_text, i_user.AsCStr()))
        LogCount(i_text(Text(i_user)), l_count, i_user);
}

// Writes the line of the events counted since the last one, with i_count
// of them. The user of the latest event may be gone by then: the line is
// filed under the user only while it stands.
inline void LogPendingCount(const PeerLogCounter& i_lines, int i_count)
{
    const std::string& l_user = i_lines.User();
    LogCount(i_lines.Text(), i_count, l_user.empty() ? ItemPtr() : d.GetType("user")->HasItem(l_user));
}

// Writes the line of the events counted since the last one once it is due,
// with no new event to bring it.
inline void LogDue(PeerLogCounter& io_lines, const QDateTime& i_now)
{
    int l_count = 0;
    if (io_lines.Due(i_now, l_count))
        LogPendingCount(io_lines, l_count);
}

// Writes the line of the events counted since the last one now, due or not.
inline void LogPending(PeerLogCounter& io_lines, const QDateTime& i_now)
{
    int l_count = 0;
    if (io_lines.Pending(i_now, l_count))
        LogPendingCount(io_lines, l_count);
}
}
