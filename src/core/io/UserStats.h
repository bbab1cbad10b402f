#pragma once

#include "core/io/Persistent.h"

#include <QtGlobal>

// A user's statistics as the server sends them: average speed (32-bit),
// download count (64-bit), shared files and shared folders (32-bit), all
// signed, in that order.
class UserStats : public Persistent
{
public:
    bool Read(InputStream& io_stream) override;
    bool Write(OutputStream& io_stream) const override;

    int m_averageDownloadSpeed = 0;
    qint64 m_downloadCount = 0;
    int m_sharedFiles = 0;
    int m_sharedFolders = 0;
};
