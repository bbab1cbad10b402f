#pragma once

#include "server/RelayToken.h"

#include <QDateTime>
#include <QtGlobal>

#include <functional>
#include <string>

class QTcpServer;

// What the peer layer takes from its surroundings: the clock, the way its
// listeners bind, and the requests it sends through the server link. The
// program uses the defaults; tests replace each one to drive time, to bind
// the loopback address only, and to see the requests.

// The local date and time every time stamp of the peer layer is taken from
// (WallClock's: no zone look-up per reading).
QDateTime PeerNow();
// The same moment in milliseconds since the epoch, for the stamps that
// order and time connections.
qint64 PeerNowMs();
// Replaces the clock; an empty function brings back the system clock.
void SetPeerClock(std::function<QDateTime()> i_clock);

// A text stamp of "now": the local date and time in the toolkit's text date
// format, to the whole second.
std::string PeerTimeStamp();
// Milliseconds from the stamp to i_now (negative when the stamp lies ahead).
// false when the text is missing or cannot be read as a stamp.
bool PeerStampAge(const std::string& i_stamp, const QDateTime& i_now, qint64& o_ageMs);

// Makes a listener listen on the port. The default listens on every local
// IPv4 address.
using PeerListenFunction = std::function<bool(QTcpServer& io_server, quint16 i_port)>;
bool PeerListen(QTcpServer& io_server, quint16 i_port);
// Replaces the way of listening; an empty function brings back the default.
void SetPeerListenFunction(PeerListenFunction i_listen);

// The requests the peer layer makes of the central server. The default
// object passes each to the server link `gp_server` (and does nothing while
// there is none).
class PeerServerRequests
{
public:
    virtual ~PeerServerRequests() = default;

    // Asks the server to have the user connect to us; returns the token, one
    // that i_inUse does not name, or 0 when there is no server link to ask.
    virtual unsigned int SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType,
                                                       const RelayToken::InUse& i_inUse);
    virtual void GetUserAddress(std::string i_user);
    // The peer layer stopped waiting for the answer to the user's look-up:
    // the next one goes to the server however recently this one went.
    virtual void AddressWaitEnded(const std::string& i_user);
    // Whether the server can be asked now (the link is logged in): a user's
    // address asked for then comes.
    virtual bool CanAskAddress() const;
    virtual void SendCantConnectToPeer(unsigned int i_req, std::string i_user);
    virtual void SetWaitPort(int i_port, int i_obfuscatedPort);
};

PeerServerRequests& GetPeerServerRequests();
// Replaces the requests object (not owned); null brings back the default.
void SetPeerServerRequests(PeerServerRequests* ip_requests);
