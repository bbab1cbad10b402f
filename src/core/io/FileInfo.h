#pragma once

#include "core/io/Persistent.h"

#include <QtGlobal>

#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>

// The extension and the numbered attributes (bitrate, duration and the like)
// of a shared file: the extension text, then a u32 count and per attribute a
// u32 code and a signed 32-bit value, in the order they were added.
class AttributeMap : public Persistent
{
public:
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    std::string m_extension;
    std::list<std::pair<unsigned int, int>> m_map;
};

// A shared file as it travels: a byte 1, the name, the 64-bit size and the
// attribute map. A leading byte 0 is an empty record that carries no file.
class FileInfo : public Persistent
{
public:
    // An empty record succeeds and leaves every field as it was.
    bool Read(InputStream& io_stream) override;
    // The same, telling whether the record carried a file (o_present true)
    // or was an empty record.
    bool Read(InputStream& io_stream, bool& o_present);
    bool Write(OutputStream& io_stream) const override;

    // Set order: names compared byte by byte as unsigned values, a name
    // before every longer name that starts with it; equal names by size.
    bool operator<(const FileInfo& i_other) const;

    std::string m_name;
    qint64 m_fileSize = 0;
    AttributeMap m_attributeMap;
};

// Attribute code to attribute name.
typedef std::map<int, std::string> AttributeTranslationTable;
// Folder name to the files it holds.
typedef std::map<std::string, std::set<FileInfo>> FileInfoMap;
