#include "server/ServerMessageReader.h"

#include "core/io/UserStats.h"

ServerMessageReader::ServerMessageReader(const QByteArray& i_payload) : m_stream(i_payload)
{
}

ServerMessageReader& ServerMessageReader::U8(quint8& o_value)
{
    m_ok = m_ok && m_stream.Read(o_value);
    return *this;
}

ServerMessageReader& ServerMessageReader::U32(quint32& o_value)
{
    unsigned int l_value = 0;
    m_ok = m_ok && m_stream.Read(l_value);
    if (m_ok)
        o_value = l_value;
    return *this;
}

ServerMessageReader& ServerMessageReader::I32(qint32& o_value)
{
    int l_value = 0;
    m_ok = m_ok && m_stream.Read(l_value);
    if (m_ok)
        o_value = l_value;
    return *this;
}

ServerMessageReader& ServerMessageReader::I64(qint64& o_value)
{
    m_ok = m_ok && m_stream.Read(o_value);
    return *this;
}

ServerMessageReader& ServerMessageReader::Str(std::string& o_text)
{
    m_ok = m_ok && m_stream.Read(o_text);
    return *this;
}

ServerMessageReader& ServerMessageReader::Stats(UserStats& o_stats)
{
    m_ok = m_ok && o_stats.Read(m_stream);
    return *this;
}

bool ServerMessageReader::ReadCount(quint32& o_count)
{
    unsigned int l_count = 0;
    m_ok = m_ok && m_stream.Read(l_count) && l_count <= InputStream::MaxCount;
    o_count = m_ok ? l_count : 0;
    return m_ok;
}

// Elements are read one by one, never reserved ahead: a count that the
// payload cannot back fails at the first missing element.
template <typename T>
ServerMessageReader& ServerMessageReader::List(std::vector<T>& o_list, ServerMessageReader& (ServerMessageReader::*ip_readElement)(T&))
{
    quint32 l_count = 0;
    o_list.clear();
    if (!ReadCount(l_count))
        return *this;
    for (quint32 l_index = 0; l_index < l_count && m_ok; ++l_index) {
        T l_element{};
        if ((this->*ip_readElement)(l_element).Ok())
            o_list.push_back(std::move(l_element));
    }
    return *this;
}

ServerMessageReader& ServerMessageReader::StrList(std::vector<std::string>& o_list)
{
    return List(o_list, &ServerMessageReader::Str);
}

ServerMessageReader& ServerMessageReader::U32List(std::vector<quint32>& o_list)
{
    return List(o_list, &ServerMessageReader::U32);
}

ServerMessageReader& ServerMessageReader::StatsList(std::vector<UserStats>& o_list)
{
    return List(o_list, &ServerMessageReader::Stats);
}
