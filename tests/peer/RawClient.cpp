#include "RawClient.h"

#include "FakePeer.h"
#include "WireBytes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

RawClient::RawClient() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {}

RawClient::~RawClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int RawClient::Release()
{
    return std::exchange(m_fd, -1);
}

void RawClient::Reset()
{
    if (m_fd < 0)
        return;
    const linger l_now{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l_now, sizeof l_now);
    ::close(std::exchange(m_fd, -1));
}

bool RawClient::Connect(quint16 i_port, quint32 i_from, quint32 i_to)
{
    if (m_fd < 0)
        return false;
    if (i_from != 0) {
        sockaddr_in l_local{};
        l_local.sin_family = AF_INET;
        l_local.sin_addr.s_addr = htonl(i_from);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&l_local), sizeof l_local) != 0)
            return false;
    }
    sockaddr_in l_remote{};
    l_remote.sin_family = AF_INET;
    l_remote.sin_port = htons(i_port);
    l_remote.sin_addr.s_addr = htonl(i_to);
    return ::connect(m_fd, reinterpret_cast<sockaddr*>(&l_remote), sizeof l_remote) == 0 || errno == EINPROGRESS;
}

bool RawClient::Send(const QByteArray& i_bytes)
{
    pollfd l_poll{m_fd, POLLOUT, 0};
    if (::poll(&l_poll, 1, 5000) != 1)
        return false;
    return ::send(m_fd, i_bytes.constData(), size_t(i_bytes.size()), MSG_NOSIGNAL) == i_bytes.size();
}

bool RawClient::ClosedByPeer() const
{
    char l_byte = 0;
    const ssize_t l_read = ::recv(m_fd, &l_byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return l_read == 0 || (l_read < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

QByteArray RawClient::Introduction(const std::string& i_user, bool i_obfuscated)
{
    const QByteArray l_body = WireWriter().U8(1).Str(i_user).Str("P").U32(0);
    return i_obfuscated ? FakePeerFrames::Masked(l_body, 0x2468ACE0) : FakePeerFrames::Plain(l_body);
}

QByteArray RawClient::FileIntroduction(const std::string& i_user)
{
    return FakePeerFrames::Plain(WireWriter().U8(1).Str(i_user).Str("F").U32(0));
}
