#include "core/io/FileInfo.h"

#include "core/io/Stream.h"

#include <algorithm>
#include <cstring>

bool AttributeMap::Read(InputStream& io_stream)
{
    // Emptied before anything is read, so a record object reused for many
    // files never keeps pairs of an earlier one.
    m_map.clear();
    if (!io_stream.Read(m_extension))
        return false;
    return io_stream.Read(m_map);
}

bool AttributeMap::Write(OutputStream& io_stream) const
{
    return io_stream.Write(m_extension) && io_stream.Write(m_map);
}

bool FileInfo::Read(InputStream& io_stream)
{
    bool l_present = false;
    return Read(io_stream, l_present);
}

bool FileInfo::Read(InputStream& io_stream, bool& o_present)
{
    o_present = false;
    quint8 l_marker = 0;
    if (!io_stream.Read(l_marker))
        return false;
    if (l_marker == 0)
        return true;

    // Read into locals so that a short record leaves this one as it was.
    std::string l_name;
    qint64 l_fileSize = 0;
    AttributeMap l_attributeMap;
    if (!io_stream.Read(l_name) || !io_stream.Read(l_fileSize) || !io_stream.Read(l_attributeMap))
        return false;
    m_name = std::move(l_name);
    m_fileSize = l_fileSize;
    m_attributeMap = std::move(l_attributeMap);
    o_present = true;
    return true;
}

bool FileInfo::Write(OutputStream& io_stream) const
{
    return io_stream.Write(quint8(1)) && io_stream.Write(m_name) && io_stream.Write(m_fileSize)
        && io_stream.Write(m_attributeMap);
}

bool FileInfo::operator<(const FileInfo& i_other) const
{
    const std::size_t l_common = std::min(m_name.size(), i_other.m_name.size());
    // memcmp compares bytes as unsigned char.
    const int l_order = l_common ? std::memcmp(m_name.data(), i_other.m_name.data(), l_common) : 0;
    if (l_order != 0)
        return l_order < 0;
    if (m_name.size() != i_other.m_name.size())
        return m_name.size() < i_other.m_name.size();
    return m_fileSize < i_other.m_fileSize;
}
