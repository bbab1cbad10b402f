#pragma once

#include <QtGlobal>

// A remote network: the IPv4 addresses that agree in their first three bytes.
// The connection bound and the attempt lanes share out their places by
// network, so that a crowd on one network, or on one address, cannot take
// the places of everyone else.
namespace PeerNetwork
{
inline quint32 Of(quint32 i_address)
{
    return i_address & 0xFFFFFF00u;
}
}  // namespace PeerNetwork
