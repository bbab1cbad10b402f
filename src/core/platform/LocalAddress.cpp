#include "core/platform/LocalAddress.h"

#include <QNetworkInterface>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

QString FirstLocalIPv4()
{
    const auto l_interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& l_interface : l_interfaces) {
        const auto l_flags = l_interface.flags();
        if (!(l_flags & QNetworkInterface::IsUp) || !(l_flags & QNetworkInterface::IsRunning) ||
            (l_flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto l_entries = l_interface.addressEntries();
        for (const QNetworkAddressEntry& l_entry : l_entries) {
            const QHostAddress l_address = l_entry.ip();
            if (l_address.protocol() == QAbstractSocket::IPv4Protocol && !l_address.isLoopback())
                return l_address.toString();
        }
    }
    return QString();
}

QString LocalIPv4Towards(const QHostAddress& i_peer)
{
    bool l_isIPv4 = false;
    const quint32 l_peer = i_peer.toIPv4Address(&l_isIPv4);
    if (!l_isIPv4)
        return FirstLocalIPv4();

    const int l_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (l_socket < 0)
        return FirstLocalIPv4();

    QString l_result;
    sockaddr_in l_remote;
    std::memset(&l_remote, 0, sizeof l_remote);
    l_remote.sin_family = AF_INET;
    l_remote.sin_port = htons(9); // any port: connecting a datagram socket sends nothing
    l_remote.sin_addr.s_addr = htonl(l_peer);
    if (::connect(l_socket, reinterpret_cast<const sockaddr*>(&l_remote), sizeof l_remote) == 0) {
        sockaddr_in l_local;
        socklen_t l_length = sizeof l_local;
        std::memset(&l_local, 0, sizeof l_local);
        if (::getsockname(l_socket, reinterpret_cast<sockaddr*>(&l_local), &l_length) == 0 &&
            l_local.sin_family == AF_INET && l_local.sin_addr.s_addr != htonl(INADDR_ANY)) {
            char l_text[INET_ADDRSTRLEN] = {};
            if (::inet_ntop(AF_INET, &l_local.sin_addr, l_text, sizeof l_text))
                l_result = QString::fromLatin1(l_text);
        }
    }
    ::close(l_socket);
    return l_result.isEmpty() ? FirstLocalIPv4() : l_result;
}
