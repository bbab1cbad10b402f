#include "core/io/MemStream.h"

#include <cstring>
#include <limits>

MemStream::Buffer::Buffer(qint32 i_size) : m_bufferSize(i_size), mp_buffer(new char[i_size > 0 ? i_size : 1])
{
}

MemStream::Buffer::~Buffer()
{
    delete[] mp_buffer;
}

MemStream::MemStream() : mp_buffer(new Buffer(InitialSize))
{
}

bool MemStream::ReadBuffer(void* op_buffer, unsigned long i_length)
{
    Buffer& l_buffer = *mp_buffer;
    const qint32 l_pending = l_buffer.m_writeIndex - l_buffer.m_readIndex;
    if (l_pending < 0 || i_length > static_cast<unsigned long>(l_pending))
        return false;
    if (i_length == 0)
        return true;
    std::memcpy(op_buffer, l_buffer.mp_buffer + l_buffer.m_readIndex, i_length);
    l_buffer.m_readIndex += static_cast<qint32>(i_length);
    return true;
}

bool MemStream::WriteBuffer(const void* ip_buffer, unsigned long i_length)
{
    Buffer& l_buffer = *mp_buffer;
    const qint64 l_needed = qint64(l_buffer.m_writeIndex) + qint64(i_length);
    if (i_length > static_cast<unsigned long>(std::numeric_limits<qint32>::max())
        || l_needed > std::numeric_limits<qint32>::max())
        return false;
    if (i_length == 0)
        return true;

    if (l_needed > l_buffer.m_bufferSize) {
        qint64 l_size = l_buffer.m_bufferSize > 0 ? l_buffer.m_bufferSize : InitialSize;
        while (l_size < l_needed)
            l_size *= 2;
        if (l_size > std::numeric_limits<qint32>::max())
            l_size = std::numeric_limits<qint32>::max();
        char* lp_storage = new char[l_size];
        if (l_buffer.m_writeIndex > 0)
            std::memcpy(lp_storage, l_buffer.mp_buffer, l_buffer.m_writeIndex);
        delete[] l_buffer.mp_buffer;
        l_buffer.mp_buffer = lp_storage;
        l_buffer.m_bufferSize = static_cast<qint32>(l_size);
    }
    std::memcpy(l_buffer.mp_buffer + l_buffer.m_writeIndex, ip_buffer, i_length);
    l_buffer.m_writeIndex = static_cast<qint32>(l_needed);
    return true;
}

const char* MemStream::GetReadBuffer() const
{
    return mp_buffer->mp_buffer + mp_buffer->m_readIndex;
}

qint32 MemStream::GetPendingReadLength() const
{
    return mp_buffer->m_writeIndex - mp_buffer->m_readIndex;
}

char* MemStream::ReplaceStorage(qint32 i_size)
{
    KSTR_REQUIRE(mp_buffer->m_writeIndex == 0, "mp_buffer->m_writeIndex == 0");
    KSTR_REQUIRE(i_size >= 0, "i_size >= 0");
    char* lp_storage = new char[i_size > 0 ? i_size : 1];
    delete[] mp_buffer->mp_buffer;
    mp_buffer->mp_buffer = lp_storage;
    mp_buffer->m_bufferSize = i_size;
    mp_buffer->m_readIndex = 0;
    return lp_storage;
}

void MemStream::CommitWritten(qint32 i_count)
{
    KSTR_REQUIRE(i_count >= 0 && qint64(mp_buffer->m_writeIndex) + i_count <= mp_buffer->m_bufferSize,
                 "mp_buffer->m_writeIndex <= mp_buffer->m_bufferSize");
    mp_buffer->m_writeIndex += i_count;
}

void MemStream::ResetPositions()
{
    mp_buffer->m_readIndex = 0;
    mp_buffer->m_writeIndex = 0;
}
