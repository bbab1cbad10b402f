#pragma once

#include "transfers/TransferThread.h"

class UploadSpeedLimit;

// Sends a file on its file connection: writes the transfer token, reads the
// offset the peer asks for, then sends the file from there to its end in
// chunks of at most ChunkBytes, each one written out before the next is
// read, held to the upload speed limit's share. After the last byte it
// gives the peer up to NetworkWaitMs to close.
//
// An offset equal to the file's size (an empty file, or one the peer holds
// whole) leaves nothing to send and succeeds; an offset outside the file
// fails.
class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    UploadThread(QTcpSocket* ip_socket, QFile* ip_file, quint32 i_transferReq, UploadSpeedLimit& io_limit);

    // The data phase; true only when every byte from the offset was sent.
    bool PerformUpload();

protected:
    bool Perform() override { return PerformUpload(); }

private:
    // The peer's 8-byte start offset, however it is split.
    bool ReadOffset(qint64& o_offset);
    bool Send(const char* ip_bytes, qint64 i_count);

    quint32 m_transferReq;
    UploadSpeedLimit& m_limit;
};
