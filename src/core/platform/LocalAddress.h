#pragma once

#include <QHostAddress>
#include <QString>

// The local IPv4 address, as dotted text, of the interface through which this
// machine reaches the given IPv4 peer (the router, for a port mapping). No
// packet is sent: the route is asked of the system by connecting a datagram
// socket. When the peer is not IPv4 or no route exists, the first active
// non-loopback IPv4 address; "" when there is none.
QString LocalIPv4Towards(const QHostAddress& i_peer);

// The first IPv4 address of an interface that is up and not a loopback; "".
QString FirstLocalIPv4();
