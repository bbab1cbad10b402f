#include "peer/PeerInflate.h"

#include <zlib.h>

#include <limits>
#include <new>
#include <vector>

namespace
{
// Ends the inflater however the inflation ends, also on an exception.
struct InflaterGuard
{
    z_stream& m_stream;
    ~InflaterGuard() { inflateEnd(&m_stream); }
};

constexpr std::size_t ChunkSize = 64 * 1024;

using PeerInflate::Result;

Result InflateInto(const char* ip_data, qint64 i_length, MemStream& o_payload, qint64 i_limit)
{
    if (i_length <= 0)
        return Result::Unreadable;
    // A frame body never comes near this; zlib counts input in uInt.
    if (i_length > std::numeric_limits<uInt>::max())
        return Result::TooLarge;

    z_stream l_stream{};
    l_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(ip_data));
    l_stream.avail_in = static_cast<uInt>(i_length);
    const int l_init = inflateInit(&l_stream);
    if (l_init == Z_MEM_ERROR)
        return Result::OutOfMemory;
    if (l_init != Z_OK)
        return Result::Unreadable;
    InflaterGuard l_guard{l_stream};

    try {
        std::vector<char> l_chunk(ChunkSize);
        qint64 l_total = 0;
        for (;;) {
            l_stream.next_out = reinterpret_cast<Bytef*>(l_chunk.data());
            l_stream.avail_out = static_cast<uInt>(l_chunk.size());
            const int l_status = inflate(&l_stream, Z_NO_FLUSH);
            if (l_status == Z_MEM_ERROR)
                return Result::OutOfMemory;
            // Corrupt data, a preset dictionary we do not have, or (with room
            // left for output) a stream cut short.
            if (l_status != Z_OK && l_status != Z_STREAM_END)
                return Result::Unreadable;

            const qint64 l_produced = qint64(l_chunk.size()) - l_stream.avail_out;
            l_total += l_produced;
            if (l_total > i_limit)
                return Result::TooLarge;
            if (l_produced > 0 && !o_payload.WriteBuffer(l_chunk.data(), static_cast<unsigned long>(l_produced)))
                return Result::TooLarge;

            if (l_status == Z_STREAM_END)
                return Result::Inflated;
        }
    } catch (const std::bad_alloc&) {
        return Result::OutOfMemory;
    }
}
}

namespace PeerInflate
{
Result Inflate(const char* ip_data, qint64 i_length, MemStream& o_payload, qint64 i_limit)
{
    const Result l_result = InflateInto(ip_data, i_length, o_payload, i_limit);
    // Part of a stream is no payload: whoever reads on reads nothing.
    if (l_result != Result::Inflated)
        o_payload.ResetPositions();
    return l_result;
}
}
