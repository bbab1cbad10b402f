#pragma once

#include "core/io/Stream.h"

#include <QByteArray>
#include <QtGlobal>

#include <utility>

// Reads the bytes of a QByteArray in place. The stream keeps an implicitly
// shared reference to the array, so a message of many megabytes is read
// without a copy of its bytes, and stays valid while the stream lives.
class ByteArrayInputStream : public InputStream
{
public:
    explicit ByteArrayInputStream(QByteArray i_bytes) : m_bytes(std::move(i_bytes)) {}

    // Fails, consuming nothing, when fewer bytes are unread than asked.
    bool ReadBuffer(void* op_buffer, unsigned long i_length) override;

    qsizetype GetPendingReadLength() const { return m_bytes.size() - m_readIndex; }

private:
    QByteArray m_bytes;
    qsizetype m_readIndex = 0;
};
