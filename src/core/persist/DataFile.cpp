#include "core/persist/DataFile.h"

#include <algorithm>
#include <cstring>

namespace DataFile {

namespace {

class Reader
{
public:
    explicit Reader(const QByteArray& i_bytes) : mp_at(i_bytes.constData()), mp_end(i_bytes.constData() + i_bytes.size()) {}

    std::size_t Remaining() const { return std::size_t(mp_end - mp_at); }

    bool U8(std::uint8_t& o_value)
    {
        if (Remaining() < 1)
            return false;
        o_value = std::uint8_t(*mp_at++);
        return true;
    }
    bool U32(std::uint32_t& o_value)
    {
        if (Remaining() < 4)
            return false;
        const auto* lp_bytes = reinterpret_cast<const unsigned char*>(mp_at);
        o_value = std::uint32_t(lp_bytes[0]) | std::uint32_t(lp_bytes[1]) << 8 | std::uint32_t(lp_bytes[2]) << 16 |
                  std::uint32_t(lp_bytes[3]) << 24;
        mp_at += 4;
        return true;
    }
    bool Text(std::string_view& o_text)
    {
        std::uint32_t l_length = 0;
        if (!U32(l_length) || Remaining() < l_length)
            return false;
        o_text = std::string_view(mp_at, l_length);
        mp_at += l_length;
        return true;
    }

private:
    const char* mp_at;
    const char* mp_end;
};

}  // namespace

bool Parse(const QByteArray& i_bytes, Contents& o_contents, std::string& o_reason)
{
    o_contents = Contents();
    Reader l_reader(i_bytes);
    std::uint32_t l_sectionCount = 0;
    if (!l_reader.U32(l_sectionCount)) {
        o_reason = "the file ends before its first record";
        return false;
    }
    // Every section takes at least nine bytes: a bound before reserving.
    if (l_sectionCount > l_reader.Remaining() / 9) {
        o_reason = "impossible number of type sections";
        return false;
    }
    o_contents.m_sections.reserve(l_sectionCount);
    std::uint64_t l_nextId = 0;
    for (std::uint32_t l_index = 0; l_index < l_sectionCount; ++l_index) {
        Section l_section;
        std::uint8_t l_null = 0;
        std::uint32_t l_count = 0;
        if (!l_reader.Text(l_section.m_typeName) || !l_reader.U8(l_null) || !l_reader.U32(l_count)) {
            o_reason = "the file ends inside a type section";
            return false;
        }
        if (l_null > 1) {
            o_reason = "bad type section";
            return false;
        }
        l_section.m_null = l_null == 1;
        const std::size_t l_minimum = l_section.m_null ? 1 : 4;
        if (l_count > l_reader.Remaining() / l_minimum) {
            o_reason = "the file ends inside the items of \"" + std::string(l_section.m_typeName) + "\"";
            return false;
        }
        l_section.m_firstId = std::uint32_t(l_nextId);
        if (l_section.m_null) {
            l_section.m_sharedFlags.resize(l_count);
            for (std::uint32_t l_item = 0; l_item < l_count; ++l_item)
                l_reader.U8(l_section.m_sharedFlags[l_item]);
        } else {
            l_section.m_values.resize(l_count);
            for (std::uint32_t l_item = 0; l_item < l_count; ++l_item) {
                if (!l_reader.Text(l_section.m_values[l_item])) {
                    o_reason = "the file ends inside the items of \"" + std::string(l_section.m_typeName) + "\"";
                    return false;
                }
            }
        }
        l_nextId += l_count;
        if (l_nextId > 0xFFFFFFFFull) {
            o_reason = "too many items";
            return false;
        }
        o_contents.m_sections.push_back(std::move(l_section));
    }
    o_contents.m_itemCount = std::uint32_t(l_nextId);
    std::uint32_t l_connectionCount = 0;
    if (!l_reader.U32(l_connectionCount) || l_connectionCount > l_reader.Remaining() / 8) {
        o_reason = "the file ends inside the connections";
        return false;
    }
    o_contents.m_connections.resize(std::size_t(l_connectionCount) * 2);
    for (std::uint32_t& l_id : o_contents.m_connections) {
        l_reader.U32(l_id);
        if (l_id >= o_contents.m_itemCount) {
            o_reason = "a connection names an item that does not exist";
            return false;
        }
    }
    if (l_reader.Remaining() != 0) {
        o_reason = "unexpected bytes after the last record";
        return false;
    }
    return true;
}

void Writer::Reserve(std::size_t i_more)
{
    if (m_bytes.capacity() < m_bytes.size() + i_more)
        m_bytes.reserve(std::max(m_bytes.capacity() * 2, m_bytes.size() + i_more));
}

void Writer::PutU32(std::uint32_t i_value)
{
    const char l_bytes[4] = {char(i_value & 0xFF), char((i_value >> 8) & 0xFF), char((i_value >> 16) & 0xFF),
                             char((i_value >> 24) & 0xFF)};
    PutBytes(l_bytes, 4);
}

void Writer::PutBytes(const char* ip_bytes, std::size_t i_length)
{
    Reserve(i_length);
    m_bytes.insert(m_bytes.end(), ip_bytes, ip_bytes + i_length);
}

void Writer::SetSectionCount(std::uint32_t i_count)
{
    // The count leads the file; it is written first as a placeholder.
    if (m_bytes.size() < 4)
        m_bytes.resize(4);
    const char l_bytes[4] = {char(i_count & 0xFF), char((i_count >> 8) & 0xFF), char((i_count >> 16) & 0xFF),
                             char((i_count >> 24) & 0xFF)};
    std::memcpy(m_bytes.data(), l_bytes, 4);
}

void Writer::BeginSection(const std::string& i_typeName, bool i_null, std::uint32_t i_count)
{
    if (m_bytes.empty())
        SetSectionCount(0);
    PutU32(std::uint32_t(i_typeName.size()));
    PutBytes(i_typeName.data(), i_typeName.size());
    const char l_null = i_null ? 1 : 0;
    PutBytes(&l_null, 1);
    PutU32(i_count);
}

void Writer::AddValue(const std::string& i_value)
{
    PutU32(std::uint32_t(i_value.size()));
    PutBytes(i_value.data(), i_value.size());
}

void Writer::AddNullItem(bool i_sharedFlagItem)
{
    const char l_flag = i_sharedFlagItem ? 1 : 0;
    PutBytes(&l_flag, 1);
}

void Writer::BeginConnections(std::size_t i_expected)
{
    if (m_bytes.empty())
        SetSectionCount(0);
    Reserve(4 + 8 * i_expected);
    m_connectionCountAt = m_bytes.size();
    PutU32(0);
}

std::vector<char> Writer::Finish()
{
    if (m_connectionCountAt == 0)
        BeginConnections();
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        m_bytes[m_connectionCountAt + std::size_t(l_byte)] = char((m_connectionCount >> (8 * l_byte)) & 0xFF);
    m_connectionCountAt = 0;
    m_connectionCount = 0;
    return std::move(m_bytes);
}

}  // namespace DataFile
