#include "WireBytes.h"

#include <QtEndian>

WireWriter& WireWriter::U8(quint8 i_value)
{
    m_bytes.append(static_cast<char>(i_value));
    return *this;
}

WireWriter& WireWriter::U32(quint32 i_value)
{
    char l_bytes[4];
    qToLittleEndian(i_value, l_bytes);
    m_bytes.append(l_bytes, 4);
    return *this;
}

WireWriter& WireWriter::I32(qint32 i_value)
{
    return U32(static_cast<quint32>(i_value));
}

WireWriter& WireWriter::I64(qint64 i_value)
{
    char l_bytes[8];
    qToLittleEndian(i_value, l_bytes);
    m_bytes.append(l_bytes, 8);
    return *this;
}

WireWriter& WireWriter::Str(const std::string& i_text)
{
    U32(static_cast<quint32>(i_text.size()));
    m_bytes.append(i_text.data(), static_cast<qsizetype>(i_text.size()));
    return *this;
}

WireWriter& WireWriter::Raw(const QByteArray& i_bytes)
{
    m_bytes.append(i_bytes);
    return *this;
}

QByteArray WireWriter::Frame(quint32 i_code, const QByteArray& i_payload)
{
    WireWriter l_frame;
    l_frame.U32(static_cast<quint32>(i_payload.size() + 4)).U32(i_code).Raw(i_payload);
    return l_frame.Bytes();
}

bool WireReader::Take(qsizetype i_count, const char*& op_data)
{
    if (!m_ok || i_count < 0 || m_bytes.size() - m_position < i_count) {
        m_ok = false;
        return false;
    }
    op_data = m_bytes.constData() + m_position;
    m_position += i_count;
    return true;
}

quint8 WireReader::U8()
{
    const char* lp_data = nullptr;
    return Take(1, lp_data) ? static_cast<quint8>(*lp_data) : 0;
}

quint32 WireReader::U32()
{
    const char* lp_data = nullptr;
    return Take(4, lp_data) ? qFromLittleEndian<quint32>(lp_data) : 0;
}

qint32 WireReader::I32()
{
    return static_cast<qint32>(U32());
}

qint64 WireReader::I64()
{
    const char* lp_data = nullptr;
    return Take(8, lp_data) ? qFromLittleEndian<qint64>(lp_data) : 0;
}

std::string WireReader::Str()
{
    const quint32 l_length = U32();
    const char* lp_data = nullptr;
    if (!Take(static_cast<qsizetype>(l_length), lp_data))
        return std::string();
    return std::string(lp_data, l_length);
}
