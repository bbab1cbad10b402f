#include "core/io/UserStats.h"

#include "core/io/Stream.h"

bool UserStats::Read(InputStream& io_stream)
{
    // Read into locals so that a short record leaves this one as it was.
    int l_averageDownloadSpeed = 0;
    qint64 l_downloadCount = 0;
    int l_sharedFiles = 0;
    int l_sharedFolders = 0;
    if (!io_stream.Read(l_averageDownloadSpeed) || !io_stream.Read(l_downloadCount)
        || !io_stream.Read(l_sharedFiles) || !io_stream.Read(l_sharedFolders))
        return false;
    m_averageDownloadSpeed = l_averageDownloadSpeed;
    m_downloadCount = l_downloadCount;
    m_sharedFiles = l_sharedFiles;
    m_sharedFolders = l_sharedFolders;
    return true;
}

bool UserStats::Write(OutputStream& io_stream) const
{
    return io_stream.Write(m_averageDownloadSpeed) && io_stream.Write(m_downloadCount)
        && io_stream.Write(m_sharedFiles) && io_stream.Write(m_sharedFolders);
}
