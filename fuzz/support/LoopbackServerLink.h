#pragma once

#include "support/FrameSplit.h"

#include "server/Server.h"
#include "server/ServerFrameReader.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The server link of a fuzz target, connected over the loopback to a far
// end that the target plays: a listener on 127.0.0.1 (port 0), the link,
// and the accepted far end. Also makes "D" connection pairs on the same
// listener.
class LoopbackServerLink
{
public:
    LoopbackServerLink();
    ~LoopbackServerLink();
    LoopbackServerLink(const LoopbackServerLink&) = delete;
    LoopbackServerLink& operator=(const LoopbackServerLink&) = delete;

    Server& Link() { return *mp_server; }

    // A fresh store with the link's types, the settings, the types of its
    // neighbours that the link writes into, and the own user name "me".
    void ResetStore();
    // Brings the link into the state (LoggingIn or LoggedIn) by the means a
    // server has: a new connection, a login answer. Aborts when the loopback
    // fails.
    void Reach(Server::State i_state);
    // The server closes the connection; returns once the link has noticed
    // and let go of its socket.
    void HangUp();
    // The frames the link sent since the last call, once the loopback is
    // quiet; an oracle fails when they are not well-formed frames.
    std::vector<ReadFrame> TakeSent();

    // A connected pair on the loopback: op_ours for the code under test (the
    // caller owns it), the returned far end for the harness (owned here
    // until ForgetPairs).
    QTcpSocket* MakePair(QTcpSocket*& op_ours);
    void ForgetPairs();

    // The link's socket, if connected.
    QTcpSocket* LinkSocket() const;
    QTcpSocket* FarEnd() const { return mp_far; }

private:
    void Await(const char* ip_what, const std::function<bool()>& i_done);

    QTcpServer m_listener;
    std::unique_ptr<Server> mp_server;
    QPointer<QTcpSocket> mp_far;
    ServerFrameReader m_sentReader;
    std::vector<std::unique_ptr<QTcpSocket>> m_pairs;
};

// Runs the event loop until every socket of the list has sent what it
// buffered, read what reached it and taken note of a closed connection (the
// loopback hands bytes over within the sending call, so a quiet round means
// nothing is on its way). Closed or deleted sockets count as quiet.
void Settle(const std::vector<QPointer<QTcpSocket>>& i_sockets);
