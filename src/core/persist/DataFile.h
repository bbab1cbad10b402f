#pragma once

#include <QByteArray>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Type;

// The layout of the client data file, all integers little-endian:
//   u32 number of type sections
//   per section: u32 name length, name bytes, u8 1 for a null type,
//                u32 item count, then per item either the value (u32 length,
//                bytes) or, for a null type, a u8 that is 1 for the type's
//                shared flag item
//   u32 number of connections, then per connection two u32 item ids
// Item ids are the items' positions in the order the sections list them.
// Unlike wire messages, no count or length is capped here: a share index can
// hold far more than any one message.
namespace DataFile {

struct Section
{
    std::string_view m_typeName;
    bool m_null = false;
    std::uint32_t m_firstId = 0;
    // Valued types: the values; null types: one flag byte per item, 1 for the
    // shared flag item.
    std::vector<std::string_view> m_values;
    std::vector<std::uint8_t> m_sharedFlags;
    std::uint32_t Count() const { return std::uint32_t(m_null ? m_sharedFlags.size() : m_values.size()); }
};

struct Contents
{
    std::vector<Section> m_sections;
    std::vector<std::uint32_t> m_connections;  // pairs of ids, flattened
    std::uint32_t m_itemCount = 0;
};

// Parses the whole file; views point into i_bytes. False, with a reason,
// when the bytes end early or hold an impossible record.
bool Parse(const QByteArray& i_bytes, Contents& o_contents, std::string& o_reason);

// Builds the file's bytes.
class Writer
{
public:
    void BeginSection(const std::string& i_typeName, bool i_null, std::uint32_t i_count);
    void AddValue(const std::string& i_value);
    void AddNullItem(bool i_sharedFlagItem);
    void SetSectionCount(std::uint32_t i_count);
    // i_expected: how many connections will follow, at most (room is made
    // for them at once).
    void BeginConnections(std::size_t i_expected = 0);
    void AddConnection(std::uint32_t i_first, std::uint32_t i_second)
    {
        if (m_bytes.size() + 8 > m_bytes.capacity())
            Reserve(8);
        const std::size_t l_at = m_bytes.size();
        m_bytes.resize(l_at + 8);
        PutLittleEndian(m_bytes.data() + l_at, i_first);
        PutLittleEndian(m_bytes.data() + l_at + 4, i_second);
        ++m_connectionCount;
    }
    // The finished bytes; the writer is empty afterwards.
    std::vector<char> Finish();

private:
    static void PutLittleEndian(char* op_out, std::uint32_t i_value)
    {
        op_out[0] = char(i_value & 0xFF);
        op_out[1] = char((i_value >> 8) & 0xFF);
        op_out[2] = char((i_value >> 16) & 0xFF);
        op_out[3] = char((i_value >> 24) & 0xFF);
    }
    void PutU32(std::uint32_t i_value);
    void PutBytes(const char* ip_bytes, std::size_t i_length);
    void Reserve(std::size_t i_more);

    std::vector<char> m_bytes;
    std::size_t m_connectionCountAt = 0;
    std::uint32_t m_connectionCount = 0;
};

}  // namespace DataFile
