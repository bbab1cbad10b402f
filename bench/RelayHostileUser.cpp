#include "RelayHostileUser.h"

#include "BenchPeerWire.h"
#include "FakeCentralServer.h"

namespace
{
const quint32 Address = BenchPeerWire::Loopback(0, 0, 3);
}

RelayHostileUser::RelayHostileUser(FakeCentralServer& io_server, const std::string& i_client)
    : m_server(io_server), m_client(i_client), m_port(Address)
{
    m_port.Fill();
    FakeCentralServer::KnownUser l_user;
    l_user.m_address = Address;
    l_user.m_port = m_port.Port();
    m_server.AddKnownUser(User, l_user);
    m_timer.setInterval(1000 / RequestsPerSecond);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RelayHostileUser::Request);
}

void RelayHostileUser::Request()
{
    const quint32 l_token = m_nextToken++;
    const char* lp_type = l_token % FileEvery == 0 ? "F" : "P";
    if (m_server.RelayConnectRequest(m_client, User, lp_type, l_token))
        ++m_delivered;
}
