#pragma once

#include "WireBytes.h"

#include "core/io/MemStream.h"

#include <QByteArray>
#include <QtGlobal>

#include <string>

// A peer message as the messenger is handed it (its code, then a text when
// one is given), and the same message's body as it reaches the far end.
namespace PeerTestMessages
{
inline MemStream Message(quint32 i_code, const std::string& i_text = {})
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(i_code));
    if (!i_text.empty())
        l_message.Write(i_text);
    return l_message;
}

inline QByteArray Body(quint32 i_code, const std::string& i_text = {})
{
    WireWriter l_writer;
    l_writer.U32(i_code);
    if (!i_text.empty())
        l_writer.Str(i_text);
    return l_writer;
}

// The first message of a connection a far end opens as the user, and the
// one that answers a relayed request by its token.
inline QByteArray Introduction(const std::string& i_user, const std::string& i_type = "P")
{
    return WireWriter().U8(1).Str(i_user).Str(i_type).U32(0);
}

inline QByteArray Indirect(quint32 i_token)
{
    return WireWriter().U8(0).U32(i_token);
}
}  // namespace PeerTestMessages
