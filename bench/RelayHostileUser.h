#pragma once

#include "SilentListener.h"

#include <QObject>
#include <QTimer>
#include <QtGlobal>

#include <string>

class FakeCentralServer;

// The hostile user of the relay run: online, as the server tells it, at
// 127.0.0.3 (the network of the keepalive connections) and a port that
// never accepts. Ten times a second the server relays to the client its
// request for a connection back, every third one a file connection, so the
// client's connects to it hang until the client gives them up.
class RelayHostileUser : public QObject
{
    Q_OBJECT

public:
    static constexpr int RequestsPerSecond = 10;
    static constexpr int FileEvery = 3;
    static constexpr const char* User = "hostile relayer";

    // Makes the user known to the server; its requests go to i_client.
    RelayHostileUser(FakeCentralServer& io_server, const std::string& i_client);

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
    SilentListener m_port;
    QTimer m_timer;
    quint32 m_nextToken = 1;
    qint64 m_delivered = 0;
};
