#include "transfers/UploadThread.h"

#include "transfers/UploadThrottle.h"

#include <QFile>
#include <QTcpSocket>
#include <QtEndian>

UploadThread::UploadThread(QTcpSocket* ip_socket, QFile* ip_file, quint32 i_transferReq, qint64 i_offeredSize,
                           UploadSpeedLimit& io_limit)
    : TransferThread(ip_socket, ip_file), m_transferReq(i_transferReq), m_offeredSize(i_offeredSize), m_limit(io_limit)
{
}

bool UploadThread::ReadOffset(qint64& o_offset)
{
    char l_bytes[8];
    for (qint64 l_filled = 0; l_filled < 8;) {
        if (!WaitForData())
            return false;
        const qint64 l_read = Socket().read(l_bytes + l_filled, 8 - l_filled);
        if (l_read < 0)
            return false;
        l_filled += l_read;
    }
    o_offset = qFromLittleEndian<qint64>(l_bytes);
    return true;
}

bool UploadThread::Send(const char* ip_bytes, qint64 i_count)
{
    return Socket().write(ip_bytes, i_count) == i_count && WaitUntilWritten();
}

bool UploadThread::PerformUpload()
{
    char l_token[4];
    qToLittleEndian(m_transferReq, l_token);
    if (!Send(l_token, sizeof l_token))
        return false;

    qint64 l_position = 0;
    if (!ReadOffset(l_position))
        return false;
    const qint64 l_size = m_offeredSize;
    if (File().size() < l_size || l_position < 0 || l_position > l_size || !File().seek(l_position))
        return false;
    if (l_position == l_size)
        NoteProgress(l_position, 0);

    UploadThrottle l_throttle(m_limit);
    l_throttle.SetStopCheck([this] { return ExitRequested(); });
    QElapsedTimer l_measured;
    l_measured.start();
    qint64 l_measuredBytes = 0;
    char l_buffer[ChunkBytes];
    while (l_position < l_size) {
        if (ExitRequested())
            return false;
        // A new share starts a new measurement.
        if (l_throttle.BeforeChunk()) {
            l_measured.restart();
            l_measuredBytes = 0;
        }
        if (ExitRequested())
            return false;
        const qint64 l_chunk = qMin<qint64>(ChunkBytes, l_size - l_position);
        if (File().read(l_buffer, l_chunk) != l_chunk || !Send(l_buffer, l_chunk))
            return false;
        l_position += l_chunk;
        l_measuredBytes += l_chunk;
        l_throttle.Sent(l_chunk);
        NoteProgress(l_position, Speed(l_measuredBytes, l_measured.elapsed()));
    }
    // The peer closes once it holds the file; either way the file is sent.
    WaitForClose();
    return true;
}
