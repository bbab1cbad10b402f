#include "BenchPeerWire.h"

#include "core/io/MemStream.h"
#include "peer/PeerFirstMessage.h"
#include "peer/PeerFrameCodec.h"

#include <QtEndian>

namespace BenchPeerWire
{
QByteArray Frame(const QByteArray& i_body, bool i_obfuscated)
{
    return PeerFrameCodec::EncodeFrame(i_body.constData(), quint32(i_body.size()), i_obfuscated,
                                       i_obfuscated ? PeerFrameCodec::MakeMask() : 0);
}

QByteArray Bytes(const MemStream& i_stream)
{
    return QByteArray(i_stream.mp_buffer->mp_buffer, qsizetype(i_stream.mp_buffer->m_writeIndex));
}

QByteArray Introduction(const std::string& i_user, bool i_obfuscated, const std::string& i_type)
{
    MemStream l_body;
    l_body.Write(quint8(1));
    l_body.Write(i_user);
    l_body.Write(i_type);
    l_body.Write(0u);
    return Frame(Bytes(l_body), i_obfuscated);
}

QByteArray Answer(quint32 i_token)
{
    return Frame(Bytes(PeerFirstMessage::MakeIndirect(i_token)));
}

QByteArray Message(quint32 i_code, const MemStream& i_payload, bool i_obfuscated)
{
    MemStream l_body;
    l_body.Write(i_code);
    return Frame(Bytes(l_body) + Bytes(i_payload), i_obfuscated);
}

QByteArray Keepalive()
{
    // A code no message has.
    constexpr quint32 KeepaliveCode = 9999;
    return Message(KeepaliveCode, MemStream());
}

QByteArray Token(quint32 i_token)
{
    char l_token[4];
    qToLittleEndian(i_token, l_token);
    return QByteArray(l_token, sizeof l_token);
}

quint32 Loopback(int i_second, int i_third, int i_fourth)
{
    return 0x7F000000u | quint32(i_second) << 16 | quint32(i_third) << 8 | quint32(i_fourth);
}

// Takes the next whole frame body off the front of io_buffer; false when
// none is complete yet.
bool TakeFrame(QByteArray& io_buffer, bool i_obfuscated, QByteArray& o_body)
{
    const qsizetype l_head = i_obfuscated ? 8 : 4;
    if (io_buffer.size() < l_head)
        return false;
    quint32 l_mask = 0;
    QByteArray l_length = io_buffer.mid(l_head - 4, 4);
    if (i_obfuscated) {
        l_mask = qFromLittleEndian<quint32>(io_buffer.constData());
        PeerFrameCodec::ApplyMask(l_length.data(), 4, l_mask, 0);
    }
    const quint32 l_bodyLength = qFromLittleEndian<quint32>(l_length.constData());
    if (l_bodyLength > PeerFrameCodec::MaxBodyLength * 64 || io_buffer.size() < l_head + qsizetype(l_bodyLength))
        return false;
    o_body = io_buffer.mid(l_head, qsizetype(l_bodyLength));
    if (i_obfuscated)
        PeerFrameCodec::ApplyMask(o_body.data(), o_body.size(), l_mask, 4);
    io_buffer.remove(0, l_head + qsizetype(l_bodyLength));
    return true;
}

MemStream StreamOf(const QByteArray& i_bytes)
{
    MemStream l_stream;
    l_stream.WriteBuffer(i_bytes.constData(), static_cast<unsigned long>(i_bytes.size()));
    return l_stream;
}
}  // namespace BenchPeerWire
