#include "peer/PeerFirstMessage.h"

namespace PeerFirstMessage
{
MemStream MakeDirect(const std::string& i_ownUser, const std::string& i_connectionType)
{
    MemStream l_message;
    l_message.Write(quint8(1));
    l_message.Write(i_ownUser);
    l_message.Write(i_connectionType);
    l_message.Write(0u);
    return l_message;
}

MemStream MakeIndirect(quint32 i_token)
{
    MemStream l_message;
    l_message.Write(quint8(0));
    l_message.Write(static_cast<unsigned int>(i_token));
    return l_message;
}

Parsed Read(MemStream& io_message)
{
    Parsed l_parsed;
    quint8 l_direction = 0;
    if (!io_message.Read(l_direction)) {
        l_parsed.m_kind = Kind::NoDirection;
        return l_parsed;
    }
    if (l_direction == 0) {
        unsigned int l_token = 0;
        if (!io_message.Read(l_token)) {
            l_parsed.m_kind = Kind::IndirectUnreadable;
            return l_parsed;
        }
        l_parsed.m_token = l_token;
        l_parsed.m_kind = Kind::Indirect;
        return l_parsed;
    }
    // The token of a direct first message means nothing; it is read only to
    // see that the message is whole.
    int l_unusedToken = 0;
    if (!io_message.Read(l_parsed.m_user) || !io_message.Read(l_parsed.m_connectionType)
        || !io_message.Read(l_unusedToken)) {
        l_parsed.m_kind = Kind::DirectUnreadable;
        return l_parsed;
    }
    l_parsed.m_kind = Kind::Direct;
    return l_parsed;
}
}
