#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <string>

// A far end's plain, non-blocking socket, made when the object is and
// closed with it: tests that need the kernel's view of a connection (the
// handshake done whether or not the listener accepts, a close seen at once,
// a chosen source address) use it in place of a toolkit socket.
class RawClient
{
public:
    RawClient();
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool Valid() const { return m_fd >= 0; }
    // Hands the descriptor over; the object no longer closes it.
    int Release();
    // Closes at once with a reset, as a peer that vanishes does.
    void Reset();
    // Starts connecting to the loopback address i_to (host order) at the
    // port, from the loopback address i_from when it is not 0; the
    // handshake ends in the system, whether or not the listener accepts.
    bool Connect(quint16 i_port, quint32 i_from = 0, quint32 i_to = 0x7F000001);
    // Waits five seconds at most for room to send, then sends it all.
    bool Send(const QByteArray& i_bytes);
    // The listening side closed the connection.
    bool ClosedByPeer() const;

    // The frame that opens a messaging connection as the user, masked when
    // it goes to the obfuscated port.
    static QByteArray Introduction(const std::string& i_user, bool i_obfuscated = false);
    // The plain frame that opens a file connection as the user.
    static QByteArray FileIntroduction(const std::string& i_user);

private:
    int m_fd;
};
