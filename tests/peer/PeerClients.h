#pragma once

#include "RawClient.h"

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

// Far ends that open messaging connections to the peer layer from loopback
// addresses of their choosing, so that it sees distinct remote networks.
namespace PeerClients
{
using Clients = std::vector<std::unique_ptr<RawClient>>;

// An address of a network of its own: 127.0.<network>.<last>.
inline quint32 Address(int i_network, int i_last)
{
    return 0x7F000000u | quint32(i_network) << 8 | quint32(i_last);
}

// Opens messaging connections one after another, so that they open in
// their order, each as its own user (the prefix and its index), and waits
// for each to be taken.
bool Introduce(Clients& io_clients, int i_count, quint32 i_from, const QString& i_prefix, quint16 i_port);

// How many the peer layer closed.
int ClosedCount(const Clients& i_clients);
}  // namespace PeerClients
