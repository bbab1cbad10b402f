#include "peer/PeerFrameReader.h"

#include "peer/PeerFrameCodec.h"

#include <QIODevice>
#include <cstring>
#include <QtEndian>

namespace
{
bool ReadU32(QIODevice& io_device, quint32& o_value)
{
    char l_bytes[4];
    if (io_device.read(l_bytes, 4) != 4)
        return false;
    o_value = qFromLittleEndian<quint32>(l_bytes);
    return true;
}
}

namespace PeerFrameReader
{
PeerReadStep Next(PeerSocketBufferInfo& io_info, QIODevice& io_device, qint64& io_available, MemStream& o_message,
                  quint32& o_token)
{
    if (io_info.m_readFileConnectionReq) {
        if (io_available < 4)
            return PeerReadStep::NeedMore;
        // The token follows the frames raw: never masked.
        if (!ReadU32(io_device, o_token))
            return PeerReadStep::ReadError;
        io_available -= 4;
        return PeerReadStep::Token;
    }

    if (!io_info.m_messageLengthRead) {
        if (io_info.m_obfuscated) {
            // The mask is taken only together with the length it masks.
            if (io_available < 8)
                return PeerReadStep::NeedMore;
            quint32 l_mask = 0;
            quint32 l_length = 0;
            if (!ReadU32(io_device, l_mask) || !ReadU32(io_device, l_length))
                return PeerReadStep::ReadError;
            io_available -= 8;
            io_info.m_mask = PeerFrameCodec::RotateLeft(l_mask, 1);
            io_info.m_messageLength = l_length ^ io_info.m_mask;
        } else {
            if (io_available < 4)
                return PeerReadStep::NeedMore;
            if (!ReadU32(io_device, io_info.m_messageLength))
                return PeerReadStep::ReadError;
            io_available -= 4;
        }
        if (io_info.m_messageLength > io_info.m_lengthLimit)
            return PeerReadStep::TooLong;
        io_info.m_messageLengthRead = true;
    }

    MemStream& l_stream = io_info.m_readBuffer;
    MemStream::Buffer& l_buffer = *l_stream.mp_buffer;
    const qint32 l_length = static_cast<qint32>(io_info.m_messageLength);
    const qint64 l_wanted = qMin<qint64>(l_length - l_buffer.m_writeIndex, io_available);
    if (l_wanted > 0) {
        // The length is only the peer's word: storage grows with the bytes
        // that have arrived, never ahead of them, so a body announced and
        // then sent a byte at a time holds no more than was sent. A body
        // that is here whole gets one block of its exact size.
        if (l_buffer.m_writeIndex == 0 && l_wanted == l_length && l_buffer.m_bufferSize < l_length)
            l_stream.ReplaceStorage(l_length);

        // What fits the storage goes straight in; the rest goes through the
        // stream, which enlarges the storage as it is written.
        const qint64 l_direct = qMin<qint64>(l_wanted, l_buffer.m_bufferSize - l_buffer.m_writeIndex);
        if (l_direct > 0) {
            const qint64 l_read = io_device.read(l_buffer.mp_buffer + l_buffer.m_writeIndex, l_direct);
            if (l_read < 0)
                return PeerReadStep::ReadError;
            l_stream.CommitWritten(static_cast<qint32>(l_read));
            io_available -= l_read;
            if (l_read < l_direct)
                return PeerReadStep::ReadError;
        }
        char l_chunk[16384];
        for (qint64 l_rest = l_wanted - l_direct; l_rest > 0;) {
            const qint64 l_step = qMin<qint64>(l_rest, qint64(sizeof l_chunk));
            const qint64 l_read = io_device.read(l_chunk, l_step);
            if (l_read < 0)
                return PeerReadStep::ReadError;
            // Cannot fail: a body never passes the frame limit.
            l_stream.WriteBuffer(l_chunk, static_cast<unsigned long>(l_read));
            io_available -= l_read;
            l_rest -= l_read;
            if (l_read < l_step)
                return PeerReadStep::ReadError;
        }
    }
    if (l_buffer.m_writeIndex < l_length)
        return PeerReadStep::NeedMore;

    if (!io_info.m_obfuscated) {
        l_buffer.m_readIndex = 0;
        o_message = io_info.m_readBuffer;
        return PeerReadStep::Message;
    }
    MemStream l_plain;
    if (l_length > 0) {
        char* lp_bytes = l_plain.ReplaceStorage(l_length);
        std::memcpy(lp_bytes, l_buffer.mp_buffer, static_cast<size_t>(l_length));
        // The body follows the 4 bytes of the length field.
        PeerFrameCodec::ApplyMask(lp_bytes, l_length, PeerFrameCodec::RotateLeft(io_info.m_mask, 31), 4);
        l_plain.CommitWritten(l_length);
    }
    o_message = l_plain;
    return PeerReadStep::Message;
}

void MessageDone(PeerSocketBufferInfo& io_info)
{
    io_info.m_messageLengthRead = false;
    // A copy of the message still held elsewhere keeps the old storage
    // alive until it goes.
    if (io_info.m_readBuffer.mp_buffer->m_bufferSize > KeptStorage)
        io_info.m_readBuffer = MemStream();
    else
        io_info.m_readBuffer.ResetPositions();
}
}
