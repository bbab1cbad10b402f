#include "SilentListener.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
sockaddr_in At(quint32 i_address, quint16 i_port)
{
    sockaddr_in l_at{};
    l_at.sin_family = AF_INET;
    l_at.sin_addr.s_addr = htonl(i_address);
    l_at.sin_port = htons(i_port);
    return l_at;
}
}  // namespace

SilentListener::SilentListener(quint32 i_address)
    : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), m_address(i_address)
{
    sockaddr_in l_at = At(i_address, 0);
    socklen_t l_length = sizeof l_at;
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&l_at), sizeof l_at) != 0 || ::listen(m_fd, 0) != 0
        || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&l_at), &l_length) != 0)
        return;
    m_port = ntohs(l_at.sin_port);
}

SilentListener::~SilentListener()
{
    for (int l_fd : {m_filler, m_fd}) {
        if (l_fd >= 0)
            ::close(l_fd);
    }
}

bool SilentListener::Fill()
{
    if (m_port == 0 || m_filler >= 0)
        return m_filler >= 0;
    m_filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in l_at = At(m_address, m_port);
    if (m_filler < 0 || ::connect(m_filler, reinterpret_cast<const sockaddr*>(&l_at), sizeof l_at) != 0)
        return false;
    // The listener takes the filler's last acknowledgement into its queue a
    // moment after the connect returns; a listening socket is readable once
    // its queue holds a connection.
    pollfd l_queue{m_fd, POLLIN, 0};
    return ::poll(&l_queue, 1, 5000) == 1;
}

bool SilentListener::ConnectHangs(int i_waitMs) const
{
    if (m_port == 0)
        return false;
    QTcpSocket l_probe;
    l_probe.connectToHost(QHostAddress(m_address), m_port);
    QElapsedTimer l_wait;
    l_wait.start();
    while (l_wait.elapsed() < i_waitMs && l_probe.state() == QAbstractSocket::ConnectingState)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const bool l_hangs = l_probe.state() == QAbstractSocket::ConnectingState;
    l_probe.abort();
    return l_hangs;
}
