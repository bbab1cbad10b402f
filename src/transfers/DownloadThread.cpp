#include "transfers/DownloadThread.h"

#include <QFile>
#include <QTcpSocket>

DownloadThread::DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize, qint64 i_offset)
    : TransferThread(ip_socket, ip_file), m_fileSize(i_fileSize), m_offset(i_offset)
{
}

bool DownloadThread::PerformDownload()
{
    QElapsedTimer l_started;
    l_started.start();
    qint64 l_received = 0;
    char l_buffer[ChunkBytes];
    for (;;) {
        if (ExitRequested())
            return false;
        const qint64 l_remaining = m_fileSize - m_offset;
        // A partial file longer than the file: nothing here can mend it.
        if (l_remaining < 0)
            return false;
        const qint64 l_chunk = qMin<qint64>(l_remaining, ChunkBytes);
        qint64 l_filled = 0;
        bool l_connected = true;
        while (l_filled < l_chunk && l_connected) {
            l_connected = WaitForData();
            const qint64 l_read = l_connected ? Socket().read(l_buffer + l_filled, l_chunk - l_filled) : 0;
            l_connected = l_connected && l_read >= 0;
            l_filled += qMax<qint64>(l_read, 0);
        }
        // What arrived before a failure is kept: a later offer resumes after
        // it.
        m_offset += l_filled;
        l_received += l_filled;
        if (l_filled > 0 && File().write(l_buffer, l_filled) != l_filled)
            return false;
        NoteProgress(m_offset, Speed(l_received, l_started.elapsed()));
        if (!l_connected)
            return false;
        if (m_offset == m_fileSize) {
            // Buffered bytes that cannot be written are a failed write too.
            if (!File().flush())
                return false;
            Socket().close();
            return true;
        }
    }
}
