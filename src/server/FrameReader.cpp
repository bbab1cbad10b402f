#include "server/FrameReader.h"

#include <QtEndian>

void FrameReader::Append(const QByteArray& i_bytes)
{
    // Drop what was consumed before growing, so the buffer never holds more
    // than the unread part plus what just arrived.
    if (m_readIndex > 0) {
        m_buffer.remove(0, m_readIndex);
        m_readIndex = 0;
    }
    m_buffer.append(i_bytes);
}

FrameReader::Result FrameReader::Next(quint32& o_code, QByteArray& o_payload)
{
    const qsizetype l_available = m_buffer.size() - m_readIndex;
    if (l_available < 4)
        return Result::NeedMore;
    const char* lp_data = m_buffer.constData() + m_readIndex;
    const quint32 l_length = qFromLittleEndian<quint32>(lp_data);
    if (l_length < quint32(m_codeBytes) || l_length > m_maxLength)
        return Result::Error;
    if (l_available - 4 < static_cast<qsizetype>(l_length))
        return Result::NeedMore;
    o_code = m_codeBytes == 4 ? qFromLittleEndian<quint32>(lp_data + 4) : static_cast<quint8>(lp_data[4]);
    o_payload = QByteArray(lp_data + 4 + m_codeBytes, static_cast<qsizetype>(l_length) - m_codeBytes);
    m_readIndex += 4 + static_cast<qsizetype>(l_length);
    if (m_readIndex == m_buffer.size())
        Clear();
    return Result::Frame;
}

void FrameReader::Clear()
{
    m_buffer.clear();
    m_readIndex = 0;
}
