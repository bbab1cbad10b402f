// Our outgoing attempts: starting one at once or in its turn (the rule is
// PeerAttemptLanes'), and ending one that never started.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerNetwork.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

using namespace PeerItems;
using Lane = PeerAttemptLanes::Lane;
using Outcome = PeerAttemptLanes::Outcome;

void PeerMessenger::StartConnecting(QTcpSocket* ip_socket, quint32 i_address, int i_port, Lane i_lane,
                                    void (PeerMessenger::*ip_onFailure)(QTcpSocket*))
{
    const quint16 l_port = static_cast<quint16>(i_port & 0xffff);
    if (i_address == 0 || l_port == 0) {
        // 0.0.0.0 would reach this very machine, and port 0 nobody: such an
        // address fails like an unreachable one, once the caller is done.
        FailLater(ip_socket, ip_onFailure);
        return;
    }
    if (m_lanes.MayStartNow(i_lane, i_address) && m_connections.HasRoom()) {
        BeginConnecting(i_lane, ip_socket, i_address, l_port);
        return;
    }
    const QDateTime l_now = PeerNow();
    if (m_attemptWaitNotes.MayLog(PeerNetwork::Of(i_address), l_now)) {
        Log(LogArea, 2,
            QString("Too many connections or connection attempts, the attempt to %1 waits its turn (said once a "
                    "minute for its network).")
                .arg(QHostAddress(i_address).toString()));
    }
    for (QTcpSocket* lp_dropped : m_lanes.Wait(i_lane, {ip_socket, i_address, l_port})) {
        LogCounted(m_droppedAttemptLines, l_now, [] {
            return QString("More than %1 connection attempts wait, dropping the oldest of the network with the most")
                .arg(PeerAttemptQueue::MaxWaiting);
        });
        FailLater(lp_dropped, &PeerMessenger::FailAttempt);
    }
    // Room may be made for it, which closes a connection: not from within
    // whatever asked for this one.
    StartWaitingAttemptsLater();
}

void PeerMessenger::BeginConnecting(Lane i_lane, QTcpSocket* ip_socket, quint32 i_address, quint16 i_port)
{
    m_connections.Track(ip_socket);
    // The next waiting attempt may start once this one stops connecting.
    connect(ip_socket, &QAbstractSocket::stateChanged, this, [this](QAbstractSocket::SocketState i_state) {
        if (i_state != QAbstractSocket::HostLookupState && i_state != QAbstractSocket::ConnectingState)
            StartWaitingAttemptsLater();
    });
    ip_socket->connectToHost(QHostAddress(i_address), i_port, QIODevice::ReadWrite);
    m_lanes.Started(i_lane, ip_socket, i_address);
}

void PeerMessenger::StartWaitingAttempts(const QDateTime& i_now)
{
    // Closing a connection for room may run code that asks again.
    if (m_startingAttempts) {
        StartWaitingAttemptsLater();
        return;
    }
    m_startingAttempts = true;
    m_attemptsWaitForRoom = m_lanes.StartWaiting(
        {[&](Lane i_lane, const PeerAttemptLanes::Attempt& i_attempt) {
             return StartWaitingAttempt(i_lane, i_attempt, i_now);
         },
         [&](QTcpSocket* ip_socket) { GiveUpConnectionBack(ip_socket, i_now); }});
    // As for a stranger waiting in a listener, a connection that becomes
    // idle enough makes room.
    if (m_attemptsWaitForRoom)
        WatchForRoom(i_now);
    m_startingAttempts = false;
}

Outcome PeerMessenger::StartWaitingAttempt(Lane i_lane, const PeerAttemptLanes::Attempt& i_attempt,
                                           const QDateTime& i_now)
{
    // Only an attempt that still stands: one that expired meanwhile lost its
    // record.
    auto l_stands = [&i_attempt] {
        QTcpSocket* lp_socket = i_attempt.mp_socket;
        return lp_socket
               && (SocketItem("connect_to_peer_request_socket", lp_socket)
                   || SocketItem("peer_connection_request_socket", lp_socket));
    };
    if (!l_stands())
        return Outcome::Gone;
    if (!CanMakeRoom(i_now))
        return Outcome::NoRoomForAny;
    if (!MakeRoom(i_attempt.m_address, i_now, IsWorkOfOurs(i_lane, i_attempt.mp_socket)))
        return Outcome::NoRoom;
    // What closing a connection for room set off may have ended this
    // attempt.
    if (!l_stands())
        return Outcome::Gone;
    BeginConnecting(i_lane, i_attempt.mp_socket, i_attempt.m_address, i_attempt.m_port);
    return Outcome::Started;
}

bool PeerMessenger::IsWorkOfOurs(Lane i_lane, QTcpSocket* ip_socket) const
{
    ItemPtr l_record = SocketItem("connect_to_peer_request_socket", ip_socket);
    return m_rules.IsWorkOfOurs(i_lane, l_record ? l_record["user"].AsString() : std::string(),
                                PeerNowMs());
}

void PeerMessenger::GiveUpConnectionBack(QTcpSocket* ip_socket, const QDateTime& i_now)
{
    LogCounted(m_givenUpAttemptLines, i_now, [] {
        return QString("Connections back at their bound of %1, ending the oldest of the network with the most to "
                       "make room for another network")
            .arg(PeerAttemptQueue::MaxInFlight);
    });
    // A connecting socket may never signal after close(); taking it down
    // also tells the server.
    QObject::disconnect(ip_socket, nullptr, this, nullptr);
    ip_socket->abort();
    DisposeOfSocket(ip_socket);
}

void PeerMessenger::StartWaitingAttemptsLater()
{
    OnceLater(m_attemptsQueued, [this] { StartWaitingAttempts(PeerNow()); });
}

void PeerMessenger::FailLater(QTcpSocket* ip_socket, void (PeerMessenger::*ip_onFailure)(QTcpSocket*))
{
    QPointer<QTcpSocket> l_socket(ip_socket);
    QMetaObject::invokeMethod(
        this,
        [this, l_socket, ip_onFailure] {
            if (l_socket)
                (this->*ip_onFailure)(l_socket);
        },
        Qt::QueuedConnection);
}

void PeerMessenger::FailAttempt(QTcpSocket* ip_socket)
{
    if (SocketItem("connect_to_peer_request_socket", ip_socket))
        FailDirectAttempt(ip_socket);
    else
        FailConnectionBack(ip_socket);
}
