#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QtGlobal>

#include <memory>
#include <vector>

class QTcpSocket;

// Peer frames as another client writes and reads them, written apart from
// the code under test: [u32 length][body], and on an obfuscated connection
// [mask][length and body masked with the mask turned left by one more bit
// for every 4 bytes, starting at one].
namespace FakePeerFrames
{
quint32 Turn(quint32 i_value, int i_bits);
QByteArray Plain(const QByteArray& i_body);
QByteArray Masked(const QByteArray& i_body, quint32 i_mask);
}

// One connection as the far end sees it: what it sent, and the frames it got.
class FakePeerConnection
{
public:
    FakePeerConnection(QTcpSocket* ip_socket, bool i_obfuscated);
    ~FakePeerConnection();
    FakePeerConnection(const FakePeerConnection&) = delete;
    FakePeerConnection& operator=(const FakePeerConnection&) = delete;

    QTcpSocket* Socket() const { return mp_socket; }
    bool IsObfuscated() const { return m_obfuscated; }

    void SendRaw(const QByteArray& i_bytes);
    // Closes at once with a reset, as a peer at its bound that drops a new
    // connection does.
    void Reset();
    // One frame, masked on an obfuscated connection with the given mask.
    void SendFrame(const QByteArray& i_body, quint32 i_mask = 0x9E3779B9);

    // Every byte received so far.
    QByteArray Received();
    // The complete frames received so far, unmasked, and their masks.
    QList<QByteArray> Frames();
    QList<quint32> Masks();

    // Process events until the condition holds; false on time-out.
    bool WaitForFrames(int i_count, int i_timeoutMs = 5000);
    bool WaitForBytes(int i_count, int i_timeoutMs = 5000);
    bool WaitForDisconnect(int i_timeoutMs = 5000);

private:
    void Pull();

    QTcpSocket* mp_socket;
    bool m_obfuscated;
    QByteArray m_received;
};

// The far end of peer connections: a listener on 127.0.0.1 (or another
// loopback address) with a port of the system's choosing, and outgoing
// connections to a listener of ours.
class FakePeer
{
public:
    FakePeer();
    ~FakePeer();

    // i_address: a loopback address in host order.
    bool Listen(quint32 i_address = 0x7F000001);
    quint16 Port() const;
    void StopListening();

    // The next connection accepted by the listener.
    FakePeerConnection* WaitForConnection(bool i_obfuscated, int i_timeoutMs = 5000);
    // Connects to 127.0.0.1 at the port, from the loopback address i_from
    // (host order) when it is not 0; null when that fails.
    FakePeerConnection* ConnectTo(quint16 i_port, bool i_obfuscated, int i_timeoutMs = 5000, quint32 i_from = 0);
    int AcceptedCount() const { return m_accepted; }

private:
    QTcpServer m_listener;
    std::vector<std::unique_ptr<FakePeerConnection>> m_connections;
    int m_accepted = 0;
};
