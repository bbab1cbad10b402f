#include "shares/PayloadCompression.h"

#include "peer/PeerFrameCodec.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace PayloadCompression {

namespace {

// One deflate state per thread, reset for each payload: setting one up (a
// quarter of a megabyte) costs more than compressing a small search reply.
// A reset state with the same settings writes the same bytes as compress2.
class Deflater
{
public:
    Deflater() = default;
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }

    // The state, ready for a new stream; null when zlib has no memory.
    z_stream* Fresh()
    {
        if (m_ready && deflateReset(&m_stream) == Z_OK)
            return &m_stream;
        if (m_ready)
            deflateEnd(&m_stream);
        m_stream = z_stream{};
        m_ready = deflateInit(&m_stream, 9) == Z_OK;
        return m_ready ? &m_stream : nullptr;
    }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

thread_local Deflater t_deflater;

}  // namespace

Outcome Frame(unsigned int i_code, const MemStream& i_payload, MemStream& o_body)
{
    const MemStream::Buffer& l_payload = *i_payload.mp_buffer;
    const uLong l_length = static_cast<uLong>(l_payload.m_writeIndex);
    // 2n + 12 bytes always hold zlib's worst case for n >= 1; the bound
    // covers the empty payload too.
    const uLong l_room = std::max<uLong>(2 * l_length + 12, compressBound(l_length));
    std::unique_ptr<Bytef[]> lp_out(new (std::nothrow) Bytef[l_room]);
    z_stream* lp_stream = t_deflater.Fresh();
    if (!lp_out || !lp_stream)
        return Outcome::CompressionFailed;
    // A payload is under 2 GiB, so one call takes it all; its stream needs
    // little more room than that, whatever the cap on one call's output.
    lp_stream->next_in = reinterpret_cast<Bytef*>(l_payload.mp_buffer);
    lp_stream->avail_in = static_cast<uInt>(l_length);
    lp_stream->next_out = lp_out.get();
    lp_stream->avail_out = static_cast<uInt>(std::min<uLong>(l_room, std::numeric_limits<uInt>::max()));
    if (deflate(lp_stream, Z_FINISH) != Z_STREAM_END)
        return Outcome::CompressionFailed;
    const uLong l_written = lp_stream->total_out;
    if (static_cast<qint64>(l_written) + 4 > PeerFrameCodec::MaxBodyLength)
        return Outcome::TooLarge;
    MemStream l_body;
    l_body.Write(i_code);
    l_body.WriteBuffer(lp_out.get(), l_written);
    o_body = l_body;
    return Outcome::Built;
}

}  // namespace PayloadCompression
