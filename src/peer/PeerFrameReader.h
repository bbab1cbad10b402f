#pragma once

#include "core/io/MemStream.h"
#include "peer/PeerFrameCodec.h"

#include <QtGlobal>

#include <string>

class QIODevice;

// The receive state of one peer socket: where the reader stands in the
// current frame, and what the first message of the connection decided.
struct PeerSocketBufferInfo
{
    // The current frame's length field has been read; its body is arriving.
    bool m_messageLengthRead = false;
    // The current frame's body length, unmasked.
    quint32 m_messageLength = 0;
    // The longest body taken on this socket; a longer one is TooLong.
    quint32 m_lengthLimit = PeerFrameCodec::MaxBodyLength;
    // The next 4 bytes are the raw transfer token of a file connection.
    bool m_readFileConnectionReq = false;
    // The socket was handed to another owner during the current message.
    bool m_abandonSocket = false;
    // The peer's name, passed on with the transfer token.
    std::string m_user;
    // The current frame's body as it arrives. Its storage grows only with
    // the bytes received; up to PeerFrameReader::KeptStorage of it is kept
    // and reused for later frames.
    MemStream m_readBuffer;
    // Frames on this socket are masked.
    bool m_obfuscated = false;
    // The current frame's mask, already turned left by one bit.
    quint32 m_mask = 0;
};

// What one step of reading a socket produced.
enum class PeerReadStep {
    NeedMore,   // every complete field has been taken; wait for more bytes
    Message,    // a whole body is ready
    Token,      // the transfer token of a file connection has arrived
    TooLong,    // the peer announced a body above the limit
    ReadError,  // the device did not give the bytes it reported
};

// Reassembles frames from a byte stream, one step at a time. The device is
// read only as far as io_available says, and every byte taken is counted off
// it; nothing is consumed beyond complete fields.
namespace PeerFrameReader
{
// The most receive storage a connection keeps between messages. A larger
// message's storage is given back once it has been handled, so that a
// connection that once took a large message holds little while it idles.
constexpr qint32 KeptStorage = 64 * 1024;

// On Message, o_message holds the body from its first byte: on a plain
// socket the receive stream itself (valid until MessageDone), on an
// obfuscated one an unmasked copy. On Token, o_token holds the raw token.
PeerReadStep Next(PeerSocketBufferInfo& io_info, QIODevice& io_device, qint64& io_available, MemStream& o_message,
                  quint32& o_token);

// Readies the record for the next frame once a message has been handled,
// giving back storage beyond KeptStorage.
void MessageDone(PeerSocketBufferInfo& io_info);
}
