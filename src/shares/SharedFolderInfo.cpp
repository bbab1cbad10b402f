#include "shares/SharedFolderInfo.h"

#include "core/io/Stream.h"

bool SharedFolderInfo::Read(InputStream& io_stream)
{
    m_fileSet.clear();
    if (!io_stream.Read(m_fileSet))
        return false;
    unsigned int l_trailer = 0;
    return io_stream.Read(l_trailer);
}

bool SharedFolderInfo::Write(OutputStream& io_stream) const
{
    return io_stream.Write(m_fileSet) && io_stream.Write(0u);
}
