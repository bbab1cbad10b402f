#pragma once

#include "core/io/MemStream.h"

#include <QtGlobal>

#include <string>

// The first message of a peer connection, written by the side that opened
// it. Unlike every later frame its body carries no message code:
// - opened directly: u8 1, our user name, the connection type, u32 0;
// - opened back on a request the server relayed: u8 0, the request's token.
// On receipt a direction byte 0 means the second form, any other the first.
namespace PeerFirstMessage
{
// The longest first frame taken from a connection: a user name and a
// connection type fit many times over. A connection that has not said who
// it is may not make us hold a whole frame of the largest size.
constexpr quint32 MaxLength = 4096;

MemStream MakeDirect(const std::string& i_ownUser, const std::string& i_connectionType);
MemStream MakeIndirect(quint32 i_token);

enum class Kind {
    NoDirection,         // the body is empty
    Direct,              // user and type read
    DirectUnreadable,    // user, type or token missing or too long
    Indirect,            // token read
    IndirectUnreadable,  // fewer than 4 bytes after the direction
};

struct Parsed
{
    Kind m_kind = Kind::NoDirection;
    std::string m_user;
    std::string m_connectionType;
    quint32 m_token = 0;
};

// Reads one first message from the stream's read position.
Parsed Read(MemStream& io_message);
}
