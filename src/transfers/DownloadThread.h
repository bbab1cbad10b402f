#pragma once

#include "transfers/TransferThread.h"

// Receives a file on its file connection: from the start offset, which the
// partial file already holds, up to the size the download expects, in
// chunks of at most ChunkBytes written straight to the partial file. Bytes
// beyond the expected size are never read. Closes the connection once the
// file is whole.
class DownloadThread : public TransferThread
{
    Q_OBJECT

public:
    DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize, qint64 i_offset);

    // The receive loop; true when the whole file arrived and was written.
    bool PerformDownload();

protected:
    bool Perform() override { return PerformDownload(); }

private:
    qint64 m_fileSize;
    qint64 m_offset;
};
