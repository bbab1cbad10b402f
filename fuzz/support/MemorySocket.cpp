#include "support/MemorySocket.h"

#include <algorithm>
#include <cstring>

MemorySocket::MemorySocket()
{
    setSocketState(QAbstractSocket::ConnectedState);
    setOpenMode(QIODevice::ReadWrite);
}

void MemorySocket::Receive(const QByteArray& i_bytes)
{
    if (state() != QAbstractSocket::ConnectedState || i_bytes.isEmpty())
        return;
    m_incoming.append(i_bytes);
    emit readyRead();
}

void MemorySocket::CloseFarEnd()
{
    // With no socket layer under it, this goes straight to the unconnected
    // state and signals disconnected.
    disconnectFromHost();
}

QByteArray MemorySocket::TakeWritten()
{
    QByteArray l_written;
    l_written.swap(m_written);
    return l_written;
}

qint64 MemorySocket::readData(char* op_data, qint64 i_maxSize)
{
    const qint64 l_size = std::min<qint64>(i_maxSize, m_incoming.size());
    std::memcpy(op_data, m_incoming.constData(), size_t(l_size));
    m_incoming.remove(0, l_size);
    return l_size;
}

qint64 MemorySocket::writeData(const char* ip_data, qint64 i_size)
{
    if (state() != QAbstractSocket::ConnectedState)
        return -1;
    m_written.append(ip_data, i_size);
    return i_size;
}

qint64 MemorySocket::bytesAvailable() const
{
    return QTcpSocket::bytesAvailable() + m_incoming.size();
}
