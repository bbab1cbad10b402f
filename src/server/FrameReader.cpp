#include "server/FrameReader.h"

#include <QtEndian>

#include <utility>

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

void FrameReader::Append(QByteArray&& i_bytes)
{
    if (Buffered() > 0) {
        Append(static_cast<const QByteArray&>(i_bytes));
        return;
    }
    m_buffer = std::move(i_bytes);
    m_readIndex = 0;
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
    const qsizetype l_payloadStart = m_readIndex + 4 + m_codeBytes;
    const qsizetype l_frameEnd = m_readIndex + 4 + static_cast<qsizetype>(l_length);
    const qsizetype l_payloadSize = l_frameEnd - l_payloadStart;
    const qsizetype l_after = m_buffer.size() - l_frameEnd;
    if (l_payloadSize == 0 || l_payloadSize < l_after) {
        o_payload = QByteArray(m_buffer.constData() + l_payloadStart, l_payloadSize);
        m_readIndex = l_frameEnd;
        if (m_readIndex == m_buffer.size())
            Clear();
        return Result::Frame;
    }
    // Hand the storage over: cutting the end and then the front of an array
    // that nothing else shares moves no byte.
    QByteArray l_frames = std::move(m_buffer);
    m_buffer = l_after > 0 ? QByteArray(l_frames.constData() + l_frameEnd, l_after) : QByteArray();
    m_readIndex = 0;
    l_frames.truncate(l_frameEnd);
    l_frames.remove(0, l_payloadStart);
    o_payload = std::move(l_frames);
    return Result::Frame;
}

void FrameReader::Clear()
{
    m_buffer.clear();
    m_readIndex = 0;
}
