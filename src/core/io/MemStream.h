#pragma once

#include "core/io/rcptr.h"
#include "core/io/Stream.h"

#include <QtGlobal>

// A growable in-memory stream, readable and writable. Copies (also a stream
// passed by value) share one Buffer: the same bytes and the same read and
// write positions; the last copy to go frees it.
class MemStream : public InputStream, public OutputStream
{
public:
    // The shared state. The whole content of a stream is the bytes from the
    // start of mp_buffer up to m_writeIndex; the unread part starts at
    // m_readIndex.
    class Buffer
    {
    public:
        explicit Buffer(qint32 i_size);
        ~Buffer();
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;

        qint32 m_readIndex = 0;
        qint32 m_writeIndex = 0;
        qint32 m_bufferSize = 0;
        char* mp_buffer = nullptr;
    };

    static constexpr qint32 InitialSize = 256;

    MemStream();

    // Fails, consuming nothing, when fewer bytes are unread than asked.
    bool ReadBuffer(void* op_buffer, unsigned long i_length) override;
    // Appends at the write position, doubling the capacity until the bytes
    // fit. Refuses only what would not fit a 32-bit size at all.
    bool WriteBuffer(const void* ip_buffer, unsigned long i_length) override;

    // The unread bytes and their number; neither moves the read position.
    const char* GetReadBuffer() const;
    qint32 GetPendingReadLength() const;

    // Direct work on the storage, for code that fills a stream straight from
    // a socket or a decompressor.

    // Replaces the storage of a stream that holds nothing yet (write position
    // 0) with a block of exactly i_size bytes; nothing is copied. Returns the
    // new storage.
    char* ReplaceStorage(qint32 i_size);
    // Commits i_count bytes that were stored straight into the storage at the
    // write position; the write position may not pass the storage's end.
    void CommitWritten(qint32 i_count);
    // Sets both positions back to 0 and keeps the storage.
    void ResetPositions();

    rcptr<Buffer> mp_buffer;
};
