#pragma once

#include "transfers/TransferThread.h"

class UploadSpeedLimit;

// Sends a file on its file connection: writes the transfer token, reads the
// offset the peer asks for, then sends the file from there up to the size
// offered to the peer in chunks of at most ChunkBytes, each one written out
// before the next is read, held to the upload speed limit's share. After the
// last byte it gives the peer up to NetworkWaitMs to close.
//
// The offered size is what the peer expects, whatever the file on disk has
// become since it was indexed: bytes the file gained are not sent, and a
// file shorter than the offer (when opened or when a read comes up short)
// fails at once rather than leave the peer waiting for bytes that never
// come.
//
// An offset equal to the offered size (an empty file, or one the peer holds
// whole) leaves nothing to send and succeeds; an offset outside it fails.
class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    UploadThread(QTcpSocket* ip_socket, QFile* ip_file, quint32 i_transferReq, qint64 i_offeredSize,
                 UploadSpeedLimit& io_limit);

    // The data phase; true only when every byte from the offset to the
    // offered size was sent.
    bool PerformUpload();

protected:
    bool Perform() override { return PerformUpload(); }

private:
    // The peer's 8-byte start offset, however it is split.
    bool ReadOffset(qint64& o_offset);
    bool Send(const char* ip_bytes, qint64 i_count);

    quint32 m_transferReq;
    qint64 m_offeredSize;
    UploadSpeedLimit& m_limit;
};
