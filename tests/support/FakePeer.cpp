#include "FakePeer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include <sys/socket.h>

#include <functional>

namespace
{
void PutU32(QByteArray& io_bytes, quint32 i_value)
{
    for (int l_byte = 0; l_byte < 4; ++l_byte)
        io_bytes.append(static_cast<char>((i_value >> (8 * l_byte)) & 0xff));
}

quint32 GetU32(const QByteArray& i_bytes, qsizetype i_at)
{
    quint32 l_value = 0;
    for (int l_byte = 3; l_byte >= 0; --l_byte)
        l_value = (l_value << 8) | static_cast<quint8>(i_bytes[i_at + l_byte]);
    return l_value;
}

// XOR of the bytes after a mask; the same call masks and unmasks.
QByteArray Xor(const QByteArray& i_bytes, quint32 i_mask, qsizetype i_firstIndex)
{
    QByteArray l_out = i_bytes;
    for (qsizetype l_index = 0; l_index < l_out.size(); ++l_index) {
        const qsizetype l_position = i_firstIndex + l_index;
        const quint32 l_key = FakePeerFrames::Turn(i_mask, static_cast<int>((l_position / 4 + 1) % 32));
        const quint8 l_keyByte = static_cast<quint8>(l_key >> (8 * (l_position % 4)));
        l_out[l_index] = static_cast<char>(static_cast<quint8>(l_out[l_index]) ^ l_keyByte);
    }
    return l_out;
}

bool WaitUntil(const std::function<bool()>& i_condition, int i_timeoutMs)
{
    QDeadlineTimer l_deadline(i_timeoutMs);
    while (!i_condition()) {
        if (l_deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}
}

namespace FakePeerFrames
{
quint32 Turn(quint32 i_value, int i_bits)
{
    quint32 l_value = i_value;
    for (int l_step = 0; l_step < i_bits; ++l_step)
        l_value = (l_value << 1) | (l_value >> 31);
    return l_value;
}

QByteArray Plain(const QByteArray& i_body)
{
    QByteArray l_frame;
    PutU32(l_frame, static_cast<quint32>(i_body.size()));
    return l_frame + i_body;
}

QByteArray Masked(const QByteArray& i_body, quint32 i_mask)
{
    QByteArray l_frame;
    PutU32(l_frame, i_mask);
    return l_frame + Xor(Plain(i_body), i_mask, 0);
}
}

FakePeerConnection::FakePeerConnection(QTcpSocket* ip_socket, bool i_obfuscated)
    : mp_socket(ip_socket), m_obfuscated(i_obfuscated)
{
}

FakePeerConnection::~FakePeerConnection()
{
    mp_socket->abort();
    delete mp_socket;
}

void FakePeerConnection::Reset()
{
    const linger l_now{1, 0};
    ::setsockopt(static_cast<int>(mp_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l_now, sizeof l_now);
    mp_socket->abort();
}

void FakePeerConnection::SendRaw(const QByteArray& i_bytes)
{
    mp_socket->write(i_bytes);
    mp_socket->flush();
}

void FakePeerConnection::SendFrame(const QByteArray& i_body, quint32 i_mask)
{
    SendRaw(m_obfuscated ? FakePeerFrames::Masked(i_body, i_mask) : FakePeerFrames::Plain(i_body));
}

void FakePeerConnection::Pull()
{
    m_received += mp_socket->readAll();
}

QByteArray FakePeerConnection::Received()
{
    Pull();
    return m_received;
}

QList<QByteArray> FakePeerConnection::Frames()
{
    Pull();
    QList<QByteArray> l_frames;
    const qsizetype l_header = m_obfuscated ? 8 : 4;
    qsizetype l_at = 0;
    while (m_received.size() - l_at >= l_header) {
        quint32 l_length = 0;
        quint32 l_mask = 0;
        if (m_obfuscated) {
            l_mask = GetU32(m_received, l_at);
            l_length = GetU32(Xor(m_received.mid(l_at + 4, 4), l_mask, 0), 0);
        } else {
            l_length = GetU32(m_received, l_at);
        }
        if (m_received.size() - l_at - l_header < qsizetype(l_length))
            break;
        QByteArray l_body = m_received.mid(l_at + l_header, l_length);
        l_frames.append(m_obfuscated ? Xor(l_body, l_mask, 4) : l_body);
        l_at += l_header + l_length;
    }
    return l_frames;
}

QList<quint32> FakePeerConnection::Masks()
{
    QList<quint32> l_masks;
    if (!m_obfuscated)
        return l_masks;
    Pull();
    qsizetype l_at = 0;
    while (m_received.size() - l_at >= 8) {
        const quint32 l_mask = GetU32(m_received, l_at);
        const quint32 l_length = GetU32(Xor(m_received.mid(l_at + 4, 4), l_mask, 0), 0);
        if (m_received.size() - l_at - 8 < qsizetype(l_length))
            break;
        l_masks.append(l_mask);
        l_at += 8 + l_length;
    }
    return l_masks;
}

bool FakePeerConnection::WaitForFrames(int i_count, int i_timeoutMs)
{
    return WaitUntil([&] { return Frames().size() >= i_count; }, i_timeoutMs);
}

bool FakePeerConnection::WaitForBytes(int i_count, int i_timeoutMs)
{
    return WaitUntil([&] { return Received().size() >= i_count; }, i_timeoutMs);
}

bool FakePeerConnection::WaitForDisconnect(int i_timeoutMs)
{
    return WaitUntil(
        [&] {
            Pull();
            return mp_socket->state() == QAbstractSocket::UnconnectedState;
        },
        i_timeoutMs);
}

FakePeer::FakePeer() = default;

FakePeer::~FakePeer()
{
    m_connections.clear();
}

bool FakePeer::Listen(quint32 i_address)
{
    return m_listener.listen(QHostAddress(i_address), 0);
}

quint16 FakePeer::Port() const
{
    return m_listener.serverPort();
}

void FakePeer::StopListening()
{
    m_listener.close();
}

FakePeerConnection* FakePeer::WaitForConnection(bool i_obfuscated, int i_timeoutMs)
{
    if (!WaitUntil([&] { return m_listener.hasPendingConnections(); }, i_timeoutMs))
        return nullptr;
    QTcpSocket* lp_socket = m_listener.nextPendingConnection();
    lp_socket->setParent(nullptr);
    ++m_accepted;
    m_connections.push_back(std::make_unique<FakePeerConnection>(lp_socket, i_obfuscated));
    return m_connections.back().get();
}

FakePeerConnection* FakePeer::ConnectTo(quint16 i_port, bool i_obfuscated, int i_timeoutMs, quint32 i_from)
{
    auto* lp_socket = new QTcpSocket;
    if (i_from != 0 && !lp_socket->bind(QHostAddress(i_from), 0)) {
        delete lp_socket;
        return nullptr;
    }
    lp_socket->connectToHost(QHostAddress::LocalHost, i_port);
    if (!WaitUntil([&] { return lp_socket->state() == QAbstractSocket::ConnectedState; }, i_timeoutMs)) {
        delete lp_socket;
        return nullptr;
    }
    m_connections.push_back(std::make_unique<FakePeerConnection>(lp_socket, i_obfuscated));
    return m_connections.back().get();
}
