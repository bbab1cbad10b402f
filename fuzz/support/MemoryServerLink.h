#pragma once

#include "support/FrameSplit.h"
#include "support/MemorySocket.h"

#include "server/Server.h"
#include "server/ServerFrameReader.h"

#include <QPointer>

#include <memory>
#include <vector>

// The server link of a fuzz target, connected in memory to a far end that
// the target plays: the link runs over a MemorySocket, so what the far end
// sends is read, and what the link sends is there, before the call that
// caused it returns.
class MemoryServerLink
{
public:
    MemoryServerLink();
    ~MemoryServerLink();
    MemoryServerLink(const MemoryServerLink&) = delete;
    MemoryServerLink& operator=(const MemoryServerLink&) = delete;

    Server& Link() { return *mp_server; }

    // A fresh store with the link's types, the settings, the types of its
    // neighbours that the link writes into, and the own user name "me".
    void ResetStore();
    // Brings the link into the state (LoggingIn or LoggedIn) by the means a
    // server has: a new connection, a login answer.
    void Reach(Server::State i_state);
    // The far end sends the bytes to the link.
    void Send(const QByteArray& i_bytes);
    // The server closes the connection; the link has let go of its socket
    // when this returns.
    void HangUp();
    // The frames the link sent since the last call; an oracle fails when
    // they are not well-formed frames.
    std::vector<ReadFrame> TakeSent();

private:
    std::unique_ptr<Server> mp_server;
    // Owned by the link.
    QPointer<MemorySocket> mp_socket;
    ServerFrameReader m_sentReader;
};
