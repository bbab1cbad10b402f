#include "support/MemoryServerLink.h"

#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "portmap/PortForwarderInterface.h"
#include "server/ServerMessageWriter.h"

#include <QCoreApplication>

namespace
{
// The types of the peer layer that the link's messages write into.
void DeclareNeighbourTypes()
{
    Type* lp_user = d.GetType("user");
    Type* lp_request = d.NewType("peer_connection_request", true, true, false);
    lp_request->RelateToType(d.NewType("peer_connection_request_id", false, false, true), Many, One, false);
    lp_request->RelateToType(d.NewType("peer_connection_type", false, false, true), Many, One, false);
    lp_request->RelateToType(lp_user, Many, One, false);
    for (const char* lp_name : {"user_address", "user_port", "user_obfuscated_port"})
        lp_user->RelateToType(d.NewType(lp_name, false, false, true), Many, One, false);
}
}  // namespace

MemoryServerLink::MemoryServerLink()
{
    mp_server = std::make_unique<Server>();
    // No router is ever asked for a port.
    mp_server->SetPortForwarder(nullptr);
    // The login may not time out in the middle of a run.
    mp_server->SetAttemptTimeouts(3600 * 1000, 3600 * 1000);
}

MemoryServerLink::~MemoryServerLink() = default;

void MemoryServerLink::ResetStore()
{
    d.Reset();
    mp_server->CreateData();
    Settings::DeclareTypes();
    DeclareNeighbourTypes();
    Settings::Set("username", "me");
    Settings::Set("password", "pw");
}

void MemoryServerLink::Reach(Server::State i_state)
{
    for (int l_step = 0; l_step < 8; ++l_step) {
        switch (mp_server->GetState()) {
        case Server::State::LoggedIn:
            if (i_state == Server::State::LoggedIn)
                return;
            mp_server->Disconnect();
            break;
        case Server::State::Disconnected:
            HangUp();
            mp_socket = new MemorySocket;
            mp_server->ConnectOver(mp_socket);
            break;
        case Server::State::Connecting:
            OracleFailed("set-up: the link waits for a connection it has");
        case Server::State::LoggingIn:
            if (i_state == Server::State::LoggingIn)
                return;
            Send(ServerMessageWriter::Frame(
                Server::LoginCode, ServerMessageWriter().U8(1).Str("welcome").U32(0x7F000001).Str("digest").U8(0).Payload()));
            break;
        }
    }
    OracleFailed("set-up: the link does not reach the state it is asked for");
}

void MemoryServerLink::Send(const QByteArray& i_bytes)
{
    if (mp_socket)
        mp_socket->Receive(i_bytes);
}

void MemoryServerLink::HangUp()
{
    if (mp_socket)
        mp_socket->CloseFarEnd();
    if (mp_server->GetState() != Server::State::Disconnected)
        OracleFailed("set-up: the link did not notice that the server hung up");
    m_sentReader.Clear();
    // What the link left for the event loop, the deletion of its socket
    // among it.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::vector<ReadFrame> MemoryServerLink::TakeSent()
{
    std::vector<ReadFrame> l_frames;
    if (!mp_socket)
        return l_frames;
    m_sentReader.Append(mp_socket->TakeWritten());
    for (;;) {
        ReadFrame l_frame;
        const FrameReader::Result l_result = m_sentReader.Next(l_frame.m_code, l_frame.m_payload);
        if (l_result == FrameReader::Result::NeedMore)
            return l_frames;
        if (l_result == FrameReader::Result::Error)
            OracleFailed("the link sent a frame of impossible length");
        l_frames.push_back(std::move(l_frame));
    }
}
