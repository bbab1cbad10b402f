#include "core/io/Stream.h"

#include "core/io/FileInfo.h"
#include "core/io/Persistent.h"

#include <QtEndian>

#include <cstring>
#include <limits>

namespace {

template <class T>
bool ReadLittleEndian(InputStream& io_stream, T& o_value)
{
    uchar l_bytes[sizeof(T)];
    if (!io_stream.ReadBuffer(l_bytes, sizeof(T)))
        return false;
    o_value = qFromLittleEndian<T>(l_bytes);
    return true;
}

template <class T>
bool WriteLittleEndian(OutputStream& io_stream, T i_value)
{
    uchar l_bytes[sizeof(T)];
    qToLittleEndian<T>(i_value, l_bytes);
    return io_stream.WriteBuffer(l_bytes, sizeof(T));
}

} // namespace

bool InputStream::Read(int& o_value)
{
    qint32 l_value = 0;
    if (!ReadLittleEndian(*this, l_value))
        return false;
    o_value = l_value;
    return true;
}

bool InputStream::Read(unsigned int& o_value)
{
    quint32 l_value = 0;
    if (!ReadLittleEndian(*this, l_value))
        return false;
    o_value = l_value;
    return true;
}

bool InputStream::Read(qint64& o_value)
{
    return ReadLittleEndian(*this, o_value);
}

bool InputStream::Read(quint64& o_value)
{
    return ReadLittleEndian(*this, o_value);
}

bool InputStream::Read(bool& o_value)
{
    quint8 l_byte = 0;
    if (!ReadBuffer(&l_byte, 1))
        return false;
    o_value = l_byte != 0;
    return true;
}

bool InputStream::Read(quint8& o_value)
{
    return ReadBuffer(&o_value, 1);
}

bool InputStream::ReadCount(unsigned int& o_count)
{
    unsigned int l_count = 0;
    if (!Read(l_count) || l_count > MaxCount)
        return false;
    o_count = l_count;
    return true;
}

bool InputStream::Read(std::string& o_value)
{
    unsigned int l_length = 0;
    if (!ReadCount(l_length))
        return false;
    std::string l_text(l_length, '\0');
    if (l_length > 0 && !ReadBuffer(l_text.data(), l_length))
        return false;
    const std::size_t l_end = l_text.find('\0');
    if (l_end != std::string::npos)
        l_text.resize(l_end);
    o_value = std::move(l_text);
    return true;
}

bool InputStream::Read(StreamReadable& o_record)
{
    return o_record.Read(*this);
}

bool InputStream::Read(std::set<FileInfo>& o_files)
{
    unsigned int l_count = 0;
    if (!ReadCount(l_count))
        return false;
    o_files.clear();
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        FileInfo l_file;
        bool l_present = false;
        if (!l_file.Read(*this, l_present))
            return false;
        if (l_present)
            o_files.insert(std::move(l_file));
    }
    return true;
}

bool OutputStream::Write(int i_value)
{
    return WriteLittleEndian<qint32>(*this, i_value);
}

bool OutputStream::Write(unsigned int i_value)
{
    return WriteLittleEndian<quint32>(*this, i_value);
}

bool OutputStream::Write(qint64 i_value)
{
    return WriteLittleEndian<qint64>(*this, i_value);
}

bool OutputStream::Write(quint64 i_value)
{
    return WriteLittleEndian<quint64>(*this, i_value);
}

bool OutputStream::Write(bool i_value)
{
    const quint8 l_byte = i_value ? 1 : 0;
    return WriteBuffer(&l_byte, 1);
}

bool OutputStream::Write(quint8 i_value)
{
    return WriteBuffer(&i_value, 1);
}

bool OutputStream::WriteCount(std::size_t i_count)
{
    // A count that does not fit the u32 field would be written truncated and
    // desynchronise the reader: refuse it instead.
    if (i_count > std::numeric_limits<quint32>::max())
        return false;
    return Write(static_cast<unsigned int>(i_count));
}

bool OutputStream::Write(const std::string& i_value)
{
    if (!WriteCount(i_value.size()))
        return false;
    return i_value.empty() || WriteBuffer(i_value.data(), i_value.size());
}

bool OutputStream::Write(const char* ip_text)
{
    return Write(std::string(ip_text ? ip_text : ""));
}

bool OutputStream::Write(const StreamWritable& i_record)
{
    return i_record.Write(*this);
}
