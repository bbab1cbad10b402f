#include "peer/PeerEnvironment.h"

#include "core/util/WallClock.h"
#include "server/Server.h"

#include <QHostAddress>
#include <QString>
#include <QTcpServer>

namespace
{
std::function<QDateTime()>& Clock()
{
    static std::function<QDateTime()> s_clock;
    return s_clock;
}

PeerListenFunction& ListenFunction()
{
    static PeerListenFunction s_listen;
    return s_listen;
}

PeerServerRequests*& RequestsOverride()
{
    static PeerServerRequests* sp_requests = nullptr;
    return sp_requests;
}
}

QDateTime PeerNow()
{
    const auto& l_clock = Clock();
    return l_clock ? l_clock() : WallClock::LocalNow();
}

qint64 PeerNowMs()
{
    const auto& l_clock = Clock();
    return l_clock ? l_clock().toMSecsSinceEpoch() : WallClock::NowMs();
}

void SetPeerClock(std::function<QDateTime()> i_clock)
{
    Clock() = std::move(i_clock);
}

std::string PeerTimeStamp()
{
    return WallClock::Text(PeerNow()).toLatin1().toStdString();
}

bool PeerStampAge(const std::string& i_stamp, const QDateTime& i_now, qint64& o_ageMs)
{
    if (i_stamp.empty())
        return false;
    const QDateTime l_time = QDateTime::fromString(QString::fromLatin1(i_stamp.c_str()), Qt::TextDate);
    if (!l_time.isValid())
        return false;
    o_ageMs = l_time.msecsTo(i_now);
    return true;
}

bool PeerListen(QTcpServer& io_server, quint16 i_port)
{
    const auto& l_listen = ListenFunction();
    if (l_listen)
        return l_listen(io_server, i_port);
    // QHostAddress::Any would mean both IPv4 and IPv6 here.
    return io_server.listen(QHostAddress::AnyIPv4, i_port);
}

void SetPeerListenFunction(PeerListenFunction i_listen)
{
    ListenFunction() = std::move(i_listen);
}

unsigned int PeerServerRequests::SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType,
                                                               const RelayToken::InUse& i_inUse)
{
    return gp_server ? gp_server->SendIndirectConnectionRequest(i_user, i_connectionType, i_inUse) : 0;
}

void PeerServerRequests::GetUserAddress(std::string i_user)
{
    if (gp_server)
        gp_server->GetUserAddress(i_user);
}

void PeerServerRequests::AddressWaitEnded(const std::string& i_user)
{
    if (gp_server)
        gp_server->AddressWaitEnded(i_user);
}

bool PeerServerRequests::CanAskAddress() const
{
    return gp_server && gp_server->IsConnected();
}

void PeerServerRequests::SendCantConnectToPeer(unsigned int i_req, std::string i_user)
{
    if (gp_server)
        gp_server->SendCantConnectToPeer(i_req, i_user);
}

void PeerServerRequests::SetWaitPort(int i_port, int i_obfuscatedPort)
{
    if (gp_server)
        gp_server->SetWaitPort(i_port, i_obfuscatedPort);
}

PeerServerRequests& GetPeerServerRequests()
{
    static PeerServerRequests s_default;
    PeerServerRequests* lp_override = RequestsOverride();
    return lp_override ? *lp_override : s_default;
}

void SetPeerServerRequests(PeerServerRequests* ip_requests)
{
    RequestsOverride() = ip_requests;
}
