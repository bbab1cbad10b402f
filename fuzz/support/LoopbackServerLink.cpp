#include "support/LoopbackServerLink.h"

#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "portmap/PortForwarderInterface.h"
#include "server/ServerMessageWriter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <algorithm>

namespace
{
bool IsQuiet(const QTcpSocket* ip_socket)
{
    if (!ip_socket || ip_socket->state() != QAbstractSocket::ConnectedState)
        return true;
    if (ip_socket->bytesToWrite() > 0)
        return false;
    // Bytes the kernel holds back from sending, and bytes it received that
    // the socket has not read.
    const int l_descriptor = int(ip_socket->socketDescriptor());
    int l_unsent = 0;
    int l_unread = 0;
    if (::ioctl(l_descriptor, SIOCOUTQNSD, &l_unsent) == 0 && l_unsent > 0)
        return false;
    return ::ioctl(l_descriptor, FIONREAD, &l_unread) != 0 || l_unread == 0;
}

// Small writes go out at once rather than wait for the acknowledgement of
// the last ones (which the loopback may delay by tens of milliseconds).
void SendAtOnce(QTcpSocket* ip_socket)
{
    if (ip_socket)
        ip_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

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

void Settle(const std::vector<QPointer<QTcpSocket>>& i_sockets)
{
    int l_quietRounds = 0;
    for (int l_round = 0; l_round < 10000 && l_quietRounds < 2; ++l_round) {
        QCoreApplication::processEvents();
        const bool l_quiet = std::all_of(i_sockets.begin(), i_sockets.end(),
                                         [](const QPointer<QTcpSocket>& ip_socket) { return IsQuiet(ip_socket.data()); });
        l_quietRounds = l_quiet ? l_quietRounds + 1 : 0;
    }
}

LoopbackServerLink::LoopbackServerLink()
{
    if (!m_listener.listen(QHostAddress::LocalHost, 0))
        OracleFailed("set-up: cannot listen on the loopback");
    mp_server = std::make_unique<Server>();
    // No router is ever asked for a port.
    mp_server->SetPortForwarder(nullptr);
    mp_server->SetServerAddress("127.0.0.1", m_listener.serverPort());
    // Neither attempt may time out in the middle of a run.
    mp_server->SetAttemptTimeouts(3600 * 1000, 3600 * 1000);
}

LoopbackServerLink::~LoopbackServerLink()
{
    mp_server.reset();
    ForgetPairs();
    delete mp_far.data();
}

void LoopbackServerLink::ResetStore()
{
    d.Reset();
    mp_server->CreateData();
    Settings::DeclareTypes();
    DeclareNeighbourTypes();
    Settings::Set("username", "me");
    Settings::Set("password", "pw");
}

void LoopbackServerLink::Await(const char* ip_what, const std::function<bool()>& i_done)
{
    QDeadlineTimer l_deadline(5000);
    while (!i_done()) {
        if (l_deadline.hasExpired())
            OracleFailed(std::string("set-up: ") + ip_what + " did not happen on the loopback");
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void LoopbackServerLink::Reach(Server::State i_state)
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
            mp_server->Connect();
            Await("the link's connection", [this] {
                return m_listener.hasPendingConnections() && mp_server->GetState() != Server::State::Connecting;
            });
            mp_far = m_listener.nextPendingConnection();
            SendAtOnce(mp_far);
            SendAtOnce(LinkSocket());
            break;
        case Server::State::Connecting:
            Await("the link's connection", [this] { return mp_server->GetState() != Server::State::Connecting; });
            break;
        case Server::State::LoggingIn:
            if (i_state == Server::State::LoggingIn)
                return;
            mp_far->write(ServerMessageWriter::Frame(
                Server::LoginCode, ServerMessageWriter().U8(1).Str("welcome").U32(0x7F000001).Str("digest").U8(0).Payload()));
            mp_far->flush();
            Await("the login", [this] { return mp_server->GetState() != Server::State::LoggingIn; });
            break;
        }
    }
    OracleFailed("set-up: the link does not reach the state it is asked for");
}

void LoopbackServerLink::HangUp()
{
    if (mp_far) {
        mp_far->abort();
        Await("the link's loss of the connection", [this] { return mp_server->GetState() == Server::State::Disconnected; });
        delete mp_far.data();
    }
    m_sentReader.Clear();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QTcpSocket* LoopbackServerLink::LinkSocket() const
{
    if (!mp_far)
        return nullptr;
    for (QTcpSocket* lp_socket : mp_server->findChildren<QTcpSocket*>()) {
        if (lp_socket->state() == QAbstractSocket::ConnectedState && lp_socket->localPort() == mp_far->peerPort())
            return lp_socket;
    }
    return nullptr;
}

std::vector<ReadFrame> LoopbackServerLink::TakeSent()
{
    Settle({LinkSocket(), mp_far});
    std::vector<ReadFrame> l_frames;
    if (!mp_far)
        return l_frames;
    m_sentReader.Append(mp_far->readAll());
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

QTcpSocket* LoopbackServerLink::MakePair(QTcpSocket*& op_ours)
{
    op_ours = new QTcpSocket;
    op_ours->connectToHost(QHostAddress::LocalHost, m_listener.serverPort());
    QTcpSocket* lp_ours = op_ours;
    Await("a loopback connection", [this, lp_ours] {
        return m_listener.hasPendingConnections() && lp_ours->state() == QAbstractSocket::ConnectedState;
    });
    QTcpSocket* lp_far = m_listener.nextPendingConnection();
    lp_far->setParent(nullptr);
    SendAtOnce(lp_far);
    SendAtOnce(op_ours);
    m_pairs.emplace_back(lp_far);
    return lp_far;
}

void LoopbackServerLink::ForgetPairs()
{
    m_pairs.clear();
}
