#include "core/io/ByteArrayInputStream.h"

#include <cstring>

bool ByteArrayInputStream::ReadBuffer(void* op_buffer, unsigned long i_length)
{
    if (i_length > static_cast<unsigned long>(GetPendingReadLength()))
        return false;
    if (i_length == 0)
        return true;
    std::memcpy(op_buffer, m_bytes.constData() + m_readIndex, i_length);
    m_readIndex += static_cast<qsizetype>(i_length);
    return true;
}
