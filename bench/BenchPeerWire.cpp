#include "BenchPeerWire.h"

#include "core/io/MemStream.h"
#include "peer/PeerFrameCodec.h"

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

QByteArray Message(quint32 i_code, const MemStream& i_payload, bool i_obfuscated)
{
    MemStream l_body;
    l_body.Write(i_code);
    return Frame(Bytes(l_body) + Bytes(i_payload), i_obfuscated);
}

quint32 Loopback(int i_second, int i_third, int i_fourth)
{
    return 0x7F000000u | quint32(i_second) << 16 | quint32(i_third) << 8 | quint32(i_fourth);
}
}  // namespace BenchPeerWire
