#include "shares/PayloadCompression.h"

#include "peer/PeerFrameCodec.h"

#include <zlib.h>

#include <algorithm>

#include <memory>
#include <new>

namespace PayloadCompression {

Outcome Frame(unsigned int i_code, const MemStream& i_payload, MemStream& o_body)
{
    const MemStream::Buffer& l_payload = *i_payload.mp_buffer;
    const uLong l_length = static_cast<uLong>(l_payload.m_writeIndex);
    // 2n + 12 bytes always hold zlib's worst case for n >= 1; the bound
    // covers the empty payload too.
    uLongf l_room = std::max<uLong>(2 * l_length + 12, compressBound(l_length));
    std::unique_ptr<Bytef[]> lp_out(new (std::nothrow) Bytef[l_room]);
    if (!lp_out)
        return Outcome::CompressionFailed;
    if (compress2(lp_out.get(), &l_room, reinterpret_cast<const Bytef*>(l_payload.mp_buffer), l_length, 9) != Z_OK)
        return Outcome::CompressionFailed;
    if (static_cast<qint64>(l_room) + 4 > PeerFrameCodec::MaxBodyLength)
        return Outcome::TooLarge;
    MemStream l_body;
    l_body.Write(i_code);
    l_body.WriteBuffer(lp_out.get(), l_room);
    o_body = l_body;
    return Outcome::Built;
}

}  // namespace PayloadCompression
