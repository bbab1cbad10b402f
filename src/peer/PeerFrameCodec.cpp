#include "peer/PeerFrameCodec.h"

#include "core/platform/RandomSource.h"

#include <QtEndian>

#include <cstring>

namespace PeerFrameCodec
{
quint32 RotateLeft(quint32 i_value, unsigned int i_bits)
{
    i_bits %= 32;
    if (i_bits == 0)
        return i_value;
    return (i_value << i_bits) | (i_value >> (32 - i_bits));
}

quint32 MakeMask()
{
    quint32 l_mask = 0;
    for (int l_draw = 0; l_draw < 4; ++l_draw)
        l_mask = (l_mask << 8) | (NextRandom() % 256);
    return l_mask;
}

void ApplyMask(char* io_bytes, qint64 i_length, quint32 i_mask, qint64 i_firstIndex)
{
    if (i_length <= 0)
        return;
    // The key of the group that holds the first byte; it turns by one more
    // bit for every following group of four.
    quint32 l_key = RotateLeft(i_mask, static_cast<unsigned int>(((i_firstIndex / 4) + 1) % 32));
    qint64 l_position = i_firstIndex;
    for (qint64 l_index = 0; l_index < i_length; ++l_index, ++l_position) {
        if (l_index > 0 && l_position % 4 == 0)
            l_key = RotateLeft(l_key, 1);
        const unsigned int l_shift = static_cast<unsigned int>(l_position % 4) * 8;
        io_bytes[l_index] = static_cast<char>(static_cast<quint8>(io_bytes[l_index]) ^ ((l_key >> l_shift) & 0xff));
    }
}

QByteArray EncodeFrame(const char* ip_body, quint32 i_length, bool i_obfuscate, quint32 i_mask)
{
    const qsizetype l_header = i_obfuscate ? 8 : 4;
    QByteArray l_frame(l_header + qsizetype(i_length), Qt::Uninitialized);
    char* lp_out = l_frame.data();
    if (i_obfuscate) {
        qToLittleEndian(i_mask, lp_out);
        lp_out += 4;
    }
    qToLittleEndian(i_length, lp_out);
    if (i_length > 0)
        std::memcpy(lp_out + 4, ip_body, i_length);
    if (i_obfuscate)
        ApplyMask(lp_out, 4 + qint64(i_length), i_mask);
    return l_frame;
}
}
