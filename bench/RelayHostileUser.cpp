#include "RelayHostileUser.h"

#include "FakeCentralServer.h"

RelayHostileUser::RelayHostileUser(FakeCentralServer& io_server, const std::string& i_client,
                                   const std::string& i_user, quint32 i_address, int i_requestsPerSecond)
    : m_server(io_server), m_client(i_client), m_user(i_user), m_port(i_address)
{
    m_port.Fill();
    FakeCentralServer::KnownUser l_user;
    l_user.m_address = i_address;
    l_user.m_port = m_port.Port();
    m_server.AddKnownUser(m_user, l_user);
    m_timer.setInterval(1000 / i_requestsPerSecond);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &RelayHostileUser::Request);
}

void RelayHostileUser::Request()
{
    const quint32 l_token = m_nextToken++;
    const char* lp_type = l_token % FileEvery == 0 ? "F" : "P";
    if (m_server.RelayConnectRequest(m_client, m_user, lp_type, l_token))
        ++m_delivered;
}
