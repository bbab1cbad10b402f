#include "server/ServerMessageWriter.h"

ServerMessageWriter& ServerMessageWriter::U8(quint8 i_value)
{
    m_stream.Write(i_value);
    return *this;
}

ServerMessageWriter& ServerMessageWriter::U32(quint32 i_value)
{
    m_stream.Write(static_cast<unsigned int>(i_value));
    return *this;
}

ServerMessageWriter& ServerMessageWriter::I32(qint32 i_value)
{
    m_stream.Write(static_cast<int>(i_value));
    return *this;
}

ServerMessageWriter& ServerMessageWriter::I64(qint64 i_value)
{
    m_stream.Write(i_value);
    return *this;
}

ServerMessageWriter& ServerMessageWriter::Str(const std::string& i_text)
{
    m_stream.Write(i_text);
    return *this;
}

QByteArray ServerMessageWriter::Payload() const
{
    return QByteArray(m_stream.GetReadBuffer(), m_stream.GetPendingReadLength());
}

QByteArray ServerMessageWriter::Frame(quint32 i_code, const QByteArray& i_payload)
{
    MemStream l_header;
    l_header.Write(static_cast<unsigned int>(i_payload.size() + 4));
    l_header.Write(static_cast<unsigned int>(i_code));
    QByteArray l_frame(l_header.GetReadBuffer(), l_header.GetPendingReadLength());
    l_frame.append(i_payload);
    return l_frame;
}
