#pragma once

#include "SilentListener.h"

#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <string>

class FakeCentralServer;

// A hostile user of the relayed runs: online, as the server tells it, at
// its address and a port there that never accepts. At its rate the server
// relays to the client its request for a connection back, every third one a
// file connection, so the client's connects to it hang until the client
// gives them up. The relay run has one, ten times a second, at 127.0.0.3
// (the network of the keepalive connections); relaynets has one on each of
// its networks, five times a second.
class RelayHostileUser : public QObject
{
    Q_OBJECT

public:
    static constexpr int FileEvery = 3;

    // Makes the user known to the server; its requests go to i_client.
    // i_address: a loopback address in host order.
    RelayHostileUser(FakeCentralServer& io_server, const std::string& i_client, const std::string& i_user,
                     quint32 i_address, int i_requestsPerSecond);

    // Whether its port holds a connect unanswered, as the run needs.
    bool Ready() const { return m_port.ConnectHangs(1500); }
    void Start() { m_timer.start(); }
    // Requests delivered to the client so far; none goes while it is not
    // logged in.
    qint64 Delivered() const { return m_delivered; }

private:
    void Request();

    FakeCentralServer& m_server;
    std::string m_client;
    std::string m_user;
    SilentListener m_port;
    QTimer m_timer;
    quint32 m_nextToken = 1;
    qint64 m_delivered = 0;
};
