#pragma once

#include "core/io/FileInfo.h"
#include "core/io/Persistent.h"

#include <set>

// The file list of one folder as it travels: a u32 count, the records in
// set order, and a u32 trailer (written 0, read and ignored).
class SharedFolderInfo : public Persistent
{
public:
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    std::set<FileInfo> m_fileSet;
};
