#pragma once

#include <QByteArray>
#include <QTcpSocket>

// A connected socket without a connection, for feeding code that reads and
// writes a QTcpSocket in memory: what the harness gives it is read through
// readyRead at once, what the code writes is kept for the harness, and a
// close of the far end is signalled at once. Nothing waits for the event
// loop.
class MemorySocket : public QTcpSocket
{
public:
    MemorySocket();

    // The far end sends the bytes: the socket signals readyRead before this
    // returns (when it is still connected).
    void Receive(const QByteArray& i_bytes);
    // The far end closes: the socket signals disconnected before this
    // returns.
    void CloseFarEnd();
    // What was written to the socket since the last call.
    QByteArray TakeWritten();

    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char* op_data, qint64 i_maxSize) override;
    qint64 writeData(const char* ip_data, qint64 i_size) override;

private:
    QByteArray m_incoming;
    QByteArray m_written;
};
