#include "peer/PeerReceivedFiles.h"

#include <utility>

namespace PeerReceivedFiles
{
namespace
{
Result ReadAttributes(InputStream& io_stream, AttributeMap& o_attributes)
{
    unsigned int l_count = 0;
    if (!io_stream.Read(o_attributes.m_extension) || !io_stream.Read(l_count))
        return Result::Unreadable;
    if (l_count > MaxAttributes)
        return Result::TooManyAttributes;
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        unsigned int l_code = 0;
        int l_value = 0;
        if (!io_stream.Read(l_code) || !io_stream.Read(l_value))
            return Result::Unreadable;
        o_attributes.m_map.emplace_back(l_code, l_value);
    }
    return Result::Read;
}

Result ReadFolder(InputStream& io_stream, std::set<FileInfo>& o_files)
{
    unsigned int l_count = 0;
    if (!io_stream.Read(l_count) || l_count > InputStream::MaxCount)
        return Result::Unreadable;
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        FileInfo l_file;
        bool l_present = false;
        if (const Result l_result = ReadFile(io_stream, l_file, l_present); l_result != Result::Read)
            return l_result;
        if (l_present)
            o_files.insert(std::move(l_file));
    }
    return Result::Read;
}
}

Result ReadFile(InputStream& io_stream, FileInfo& o_file, bool& o_present)
{
    o_present = false;
    quint8 l_marker = 0;
    if (!io_stream.Read(l_marker))
        return Result::Unreadable;
    if (l_marker == 0)
        return Result::Read;
    FileInfo l_file;
    if (!io_stream.Read(l_file.m_name) || !io_stream.Read(l_file.m_fileSize))
        return Result::Unreadable;
    if (const Result l_result = ReadAttributes(io_stream, l_file.m_attributeMap); l_result != Result::Read)
        return l_result;
    o_file = std::move(l_file);
    o_present = true;
    return Result::Read;
}

Result ReadListing(InputStream& io_stream, FileInfoMap& o_listing)
{
    unsigned int l_count = 0;
    if (!io_stream.Read(l_count) || l_count > InputStream::MaxCount)
        return Result::Unreadable;
    o_listing.clear();
    for (unsigned int l_index = 0; l_index < l_count; ++l_index) {
        std::string l_folder;
        if (!io_stream.Read(l_folder))
            return Result::Unreadable;
        std::set<FileInfo> l_files;
        if (const Result l_result = ReadFolder(io_stream, l_files); l_result != Result::Read)
            return l_result;
        o_listing.insert_or_assign(std::move(l_folder), std::move(l_files));
    }
    return Result::Read;
}
}
