#include "PeerClients.h"

#include "PeerTestWorld.h"

#include <string>

namespace PeerClients
{
bool Introduce(Clients& io_clients, int i_count, quint32 i_from, const QString& i_prefix, quint16 i_port)
{
    for (int l_index = 0; l_index < i_count; ++l_index) {
        auto lp_client = std::make_unique<RawClient>();
        const std::string l_user = QString("%1%2").arg(i_prefix).arg(l_index).toStdString();
        if (!lp_client->Connect(i_port, i_from) || !lp_client->Send(RawClient::Introduction(l_user))
            || !PeerTestWorld::WaitFor([&] { return PeerTestWorld::HasMessagingConnection(l_user); }))
            return false;
        io_clients.push_back(std::move(lp_client));
    }
    return true;
}

int ClosedCount(const Clients& i_clients)
{
    int l_closed = 0;
    for (const auto& lp_client : i_clients)
        l_closed += lp_client->ClosedByPeer() ? 1 : 0;
    return l_closed;
}
}  // namespace PeerClients
