#include "SilentListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

SilentListener::SilentListener(quint32 i_address)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_address(i_address)
{
    sockaddr_in l_address{};
    l_address.sin_family = AF_INET;
    l_address.sin_addr.s_addr = htonl(i_address);
    socklen_t l_length = sizeof l_address;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&l_address), sizeof l_address) != 0
        || ::listen(m_fd, 0) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&l_address), &l_length) != 0)
        return;
    m_port = ntohs(l_address.sin_port);
}

SilentListener::~SilentListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SilentListener::Fill()
{
    return m_port != 0 && m_filler.Connect(m_port, 0, m_address);
}
