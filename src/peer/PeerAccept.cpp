// Connections accepted on the listening ports, and connections made back to
// peers whose requests the server relayed.
#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerNetwork.h"

#include <QPointer>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <utility>

using namespace PeerItems;

void PeerMessenger::OnNewConnection()
{
    AcceptWaiting();
}

void PeerMessenger::OnNewObfuscatedConnection()
{
    AcceptWaiting();
}

QTcpServer* PeerMessenger::LongestWaiting(bool& o_obfuscated)
{
    // A listener holds one connection at most; it waits from the moment it
    // is first seen here.
    for (auto [lp_listener, lp_since] : {std::pair{&m_server, &m_plainWaitingSince},
                                         std::pair{&m_obfuscatedServer, &m_obfuscatedWaitingSince}}) {
        if (!lp_listener->hasPendingConnections())
            *lp_since = 0;
        else if (*lp_since == 0)
            *lp_since = ++m_waitOrder;
    }
    if (m_plainWaitingSince == 0 && m_obfuscatedWaitingSince == 0)
        return nullptr;
    o_obfuscated = m_obfuscatedWaitingSince != 0
                   && (m_plainWaitingSince == 0 || m_obfuscatedWaitingSince < m_plainWaitingSince);
    return o_obfuscated ? &m_obfuscatedServer : &m_server;
}

void PeerMessenger::AcceptWaiting()
{
    // A connection closed for room may run code that comes back here.
    if (m_accepting) {
        AcceptWaitingLater();
        return;
    }
    m_accepting = true;
    // One reading of the clock for the whole pass: a crowd refused at once
    // costs little else.
    const QDateTime l_now = PeerNow();
    // Room goes to our own attempts first: one that misses its turn may
    // wait until it expires.
    StartWaitingAttempts(l_now);
    bool l_obfuscated = false;
    while (QTcpServer* lp_listener = LongestWaiting(l_obfuscated)) {
        // A connection left waiting stops its listener: the toolkit
        // accepts no more while one is pending.
        if (AcceptingHeld())
            break;
        if (!CanMakeRoom(l_now)) {
            PauseListeners(l_now);
            m_accepting = false;
            return;
        }
        QTcpSocket* lp_socket = lp_listener->nextPendingConnection();
        (l_obfuscated ? m_obfuscatedWaitingSince : m_plainWaitingSince) = 0;
        StartTurn();
        // At the bound nothing is closed for a newcomer before it said what
        // it is, and what it said matches a rule (PeerBoundRules).
        if (!m_connections.HasRoom()) {
            // A peer of a network that room would be made for is heard as
            // one taken; the crowd of a refused network has its share.
            const quint32 l_from = lp_socket->peerAddress().toIPv4Address();
            const bool l_refusedNetwork = !MayTake(l_from, l_now) && !ExpectedFrom(l_from);
            if (!l_refusedNetwork)
                ++m_takenThisTurn;
            if (!TakeToHearOut(lp_socket, l_obfuscated, l_refusedNetwork, l_now))
                Refuse(lp_socket, l_now);
            continue;
        }
        ++m_takenThisTurn;
        TakeConnection(lp_socket, l_obfuscated, l_now);
    }
    EndPause(l_now);
    m_accepting = false;
}

void PeerMessenger::AcceptWaitingLater()
{
    OnceLater(m_acceptQueued, [this] { AcceptWaiting(); });
}

void PeerMessenger::OnceLater(bool& io_queued, std::function<void()> i_call)
{
    if (io_queued)
        return;
    io_queued = true;
    QMetaObject::invokeMethod(
        this,
        [&io_queued, l_call = std::move(i_call)] {
            io_queued = false;
            l_call();
        },
        Qt::QueuedConnection);
}

bool PeerMessenger::AcceptingHeld() const
{
    return m_turnResting || m_takenThisTurn >= AcceptsPerTurn || m_refusedThisTurn >= RefusalsPerTurn;
}

void PeerMessenger::StartTurn()
{
    if (!m_turnTimer.isActive())
        m_turnTimer.start(0);
}

void PeerMessenger::OnTurnEnd()
{
    // Every turn of the event loop polls every connection: a crowd that
    // connects again as soon as it is refused must not have a turn of its
    // own for each connection.
    if (m_refusedThisTurn > 0 && !m_turnResting) {
        m_turnResting = true;
        m_turnTimer.start(RefusedRestMs);
        return;
    }
    m_turnResting = false;
    m_takenThisTurn = 0;
    m_refusedThisTurn = 0;
    m_heardOutThisTurn = 0;
    AcceptWaiting();
}

void PeerMessenger::Refuse(QTcpSocket* ip_socket, const QDateTime& i_now)
{
    NoteRefusal(ip_socket->peerAddress().toIPv4Address(), i_now);
    ip_socket->abort();
    ip_socket->deleteLater();
    ++m_refusedThisTurn;
}

void PeerMessenger::NoteRefusal(quint32 i_address, const QDateTime& i_now)
{
    if (m_refusalNotes.MayLog(PeerNetwork::Of(i_address), i_now)) {
        Log(LogArea, 1,
            QString("Peer connections at their bound of %1, and %2: refusing its new connections while no room can "
                    "be made for them (said once a minute).")
                .arg(m_connections.Limit())
                .arg(NetworkHolds(i_address)));
    }
}

void PeerMessenger::TakeConnection(QTcpSocket* ip_socket, bool i_obfuscated, const QDateTime& i_now)
{
    m_connections.Track(ip_socket);
    Introduce(ip_socket, i_obfuscated, i_now);
}

bool PeerMessenger::TakeToHearOut(QTcpSocket* ip_socket, bool i_obfuscated, bool i_refusedNetwork,
                                  const QDateTime& i_now)
{
    if (i_refusedNetwork && m_heardOutThisTurn >= HeardOutPerTurn)
        return false;
    // Only one that has not spoken gives its place: a file connection that
    // awaits its token, or a claim kept, is not closed for a newcomer. No
    // network holds more than its share (PeerAllowanceShare).
    const quint32 l_address = ip_socket->peerAddress().toIPv4Address();
    for (int l_read = 0;; ++l_read) {
        QTcpSocket* lp_giver = nullptr;
        if (!m_allowanceShare.Place(
                l_address, PeerBoundRules::Allowance(), m_heardOut.Count(),
                [this](QTcpSocket* ip_holder) { return m_heardOut.Counts(ip_holder); },
                [](QTcpSocket* ip_holder) { return bool(SocketItem("uninitialized_socket", ip_holder)); }, lp_giver))
            return false;
        if (!lp_giver)
            break;
        // A holder not yet read may have brought its introduction: what it
        // sent is read before it gives its place, which it gives only if it
        // still has not spoken.
        if (l_read < ReadsBeforeGiving) {
            QPointer<QTcpSocket> l_giver(lp_giver);
            HearNow(lp_giver);
            if (!l_giver || !m_heardOut.Counts(l_giver) || !SocketItem("uninitialized_socket", l_giver))
                continue;
        }
        DisposeOfSocket(lp_giver);
        break;
    }
    if (i_refusedNetwork) {
        ++m_heardOutThisTurn;
        // It counts in the turn as a refusal would: a crowd heard out costs
        // no more than a refused one.
        ++m_refusedThisTurn;
    }
    m_heardOut.Track(ip_socket);
    m_allowanceShare.Took(ip_socket, l_address);
    Introduce(ip_socket, i_obfuscated, i_now);
    // One that room would be made for is heard at once when it brought its
    // introduction, as a peer taken at once was: the room it says it may
    // have goes to it before the next newcomer is looked at, and newcomers
    // keep the order they came in.
    if (!i_refusedNetwork)
        HearNow(ip_socket);
    return true;
}

void PeerMessenger::HearNow(QTcpSocket* ip_socket)
{
    {
        // Takes in what the system holds for it without waiting; the
        // time-out this reports is no error of the connection's.
        const QSignalBlocker l_quiet(ip_socket);
        ip_socket->waitForReadyRead(0);
    }
    if (ip_socket->bytesAvailable() > 0)
        CatchUp(ip_socket);
}

bool PeerMessenger::ExpectedFrom(quint32 i_address) const
{
    // The server tells the addresses, not the peers: a crowd cannot make
    // itself expected, and an address has few users.
    ItemPtr l_address = d.GetType("user_address")->HasItem(ToString(i_address));
    if (!l_address || i_address == 0)
        return false;
    for (ItemPtr l_user : l_address.GetItems("user")) {
        if (HasWorkWith(l_user.AsString()))
            return true;
    }
    return false;
}

bool PeerMessenger::IsUsersAddress(const std::string& i_user, quint32 i_address)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    return l_user && l_user.IsConnected("user_address") && l_user["user_address"].AsUInt() == i_address;
}

bool PeerMessenger::EndHearing(QTcpSocket* ip_socket, const PeerFirstMessage::Parsed& i_first)
{
    const QDateTime l_now = PeerNow();
    const quint32 l_address = ip_socket->peerAddress().toIPv4Address();
    PeerBoundRules::Newcomer l_newcomer{i_first};
    if (i_first.m_kind == PeerFirstMessage::Kind::Indirect)
        l_newcomer.m_answersOurRequest = bool(AnswerableRelayed(i_first.m_token));
    else if (i_first.m_kind == PeerFirstMessage::Kind::Direct)
        l_newcomer.m_fromUsersAddress = IsUsersAddress(i_first.m_user, l_address);
    switch (m_rules.OfIntroduction(l_newcomer, l_now.toMSecsSinceEpoch())) {
    case PeerBoundRules::Claim::Keep:
        KeepClaimed(ip_socket, l_now);
        return true;
    case PeerBoundRules::Claim::AwaitToken:
        // It keeps its place of the allowance until its token tells.
        return true;
    case PeerBoundRules::Claim::AsPeer:
        if (MakeRoom(l_address, l_now)) {
            m_heardOut.Release(ip_socket);
            m_connections.Track(ip_socket);
            return true;
        }
        break;
    case PeerBoundRules::Claim::Refuse:
        break;
    }
    // The caller takes it down.
    NoteRefusal(l_address, l_now);
    return false;
}

bool PeerMessenger::EndTokenWait(QTcpSocket* ip_socket, const std::string& i_user, quint32 i_token)
{
    const QDateTime l_now = PeerNow();
    if (!m_rules.KeepsToken(i_user, i_token)) {
        NoteRefusal(ip_socket->peerAddress().toIPv4Address(), l_now);
        return false;
    }
    KeepClaimed(ip_socket, l_now);
    return true;
}

void PeerMessenger::KeepClaimed(QTcpSocket* ip_socket, const QDateTime& i_now)
{
    // Work of ours: room is made for it as for our own file connection; it
    // keeps its place of the allowance when none can be.
    if (!MakeRoom(ip_socket->peerAddress().toIPv4Address(), i_now, true))
        return;
    m_heardOut.Release(ip_socket);
    m_connections.Track(ip_socket);
}

void PeerMessenger::TimeTokenWait(QTcpSocket* ip_socket)
{
    SocketBufferInfo& l_info = m_socketBufferInfoMap[ip_socket];
    l_info.m_tokenWait = ++m_tokenWaits;
    // The socket itself cannot be the timer's context: once handed over it
    // may live on another thread. Its record names the wait instead.
    QTimer::singleShot(PeerBoundRules::TokenWaitAtBoundMs, this, [this, ip_socket, l_wait = l_info.m_tokenWait] {
        const auto l_record = m_socketBufferInfoMap.find(ip_socket);
        if (l_record == m_socketBufferInfoMap.end() || l_record->second.m_tokenWait != l_wait
            || !l_record->second.m_readFileConnectionReq)
            return;
        LogCounted(m_tokenLateLines, PeerNow(), [] {
            return QString("File connections that sent no transfer token within %1 ms closed")
                .arg(PeerBoundRules::TokenWaitAtBoundMs);
        });
        DisposeOfSocket(ip_socket);
    });
}

void PeerMessenger::Introduce(QTcpSocket* ip_socket, bool i_obfuscated, const QDateTime& i_now)
{
    ip_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    // Small replies go out at once, not when the peer's delayed acknowledgement
    // of the last one finally comes.
    ip_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(ip_socket, &QIODevice::readyRead, this, &PeerMessenger::OnSocketReadyToRead);
    connect(ip_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(ip_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);
    ItemPtr l_item = d.GetType("uninitialized_socket")->NewItem(Value(ip_socket));
    if (i_obfuscated)
        l_item.NewItem("is_obfuscated");
    if (QTcpSocket* lp_oldest = m_idleWatch.WatchAccepted(ip_socket, i_now.toMSecsSinceEpoch())) {
        LogCounted(m_silentClosedLines, i_now, [] {
            return QString("More than %1 accepted connections wait to introduce themselves, closing the oldest")
                .arg(PeerIdleWatch::AcceptedLimit);
        });
        DisposeOfSocket(lp_oldest);
    }
    // A connection that waited in the listener may have brought its bytes,
    // or gone, before anything listened to its signals: nothing would tell
    // of either again.
    if (ip_socket->bytesAvailable() > 0 || ip_socket->state() != QAbstractSocket::ConnectedState)
        QMetaObject::invokeMethod(this, [this, l_socket = QPointer<QTcpSocket>(ip_socket)] { CatchUp(l_socket); },
                                  Qt::QueuedConnection);
}

void PeerMessenger::CatchUp(QTcpSocket* ip_socket)
{
    auto l_ours = [ip_socket] {
        return ip_socket && (SocketItem("uninitialized_socket", ip_socket) || SocketItem("peer_socket", ip_socket));
    };
    if (!l_ours())
        return;
    QPointer<QTcpSocket> l_socket(ip_socket);
    if (ip_socket->bytesAvailable() > 0)
        ReadFrames(ip_socket);
    if (l_socket && l_ours() && l_socket->state() != QAbstractSocket::ConnectedState)
        DisposeOfSocket(l_socket);
}

void PeerMessenger::OnPeerConnectionRequest(Item* ip_request)
{
    // The server link ties a relayed request to its user before it writes
    // the address the request brought, so this fires first with whatever
    // address the user had before, then again for each fresh value. The
    // connection back starts once the whole message has been applied.
    ItemPtr l_request(ip_request);
    if (l_request.IsConnected("peer_connection_request_socket"))
        return;
    if (!m_pendingConnectionsBack.insert(ip_request).second)
        return;
    QMetaObject::invokeMethod(this, [this, ip_request] { StartConnectionBack(ip_request); }, Qt::QueuedConnection);
}

void PeerMessenger::OnPeerConnectionRequestRemoved(Item* ip_request)
{
    // A later request may be made at the same address; it must not be
    // taken for this one.
    m_pendingConnectionsBack.erase(ip_request);
}

void PeerMessenger::StartConnectionBack(Item* ip_request)
{
    // Only a request that still stands: removal takes it off the list.
    if (m_pendingConnectionsBack.erase(ip_request) == 0)
        return;
    ItemPtr l_request(ip_request);
    if (l_request.IsConnected("peer_connection_request_socket"))
        return;
    // A request that lost part of what it needs meanwhile waits for the
    // subscription to find it whole again.
    ItemPtr l_user = l_request["user"];
    if (!l_request.IsConnected("peer_connection_request_id") || !l_request.IsConnected("peer_connection_type")
        || !l_user.IsConnected("user_address") || !l_user.IsConnected("user_port")
        || !l_user.IsConnected("user_obfuscated_port"))
        return;

    auto* lp_socket = new QTcpSocket;
    const quint32 l_address = l_user["user_address"].AsUInt();
    bool l_obfuscated = false;
    const int l_port = GetUserPort(l_user, l_obfuscated);
    if (l_obfuscated)
        l_request.NewItem("is_obfuscated");

    // The records stand before the socket can report anything.
    ItemPtr l_socketItem = d.GetType("peer_connection_request_socket")->NewItem(Value(lp_socket));
    l_request += l_socketItem;
    l_socketItem += d.GetType("socket_creation_time")->GetItem(PeerTimeStamp());
    connect(lp_socket, &QAbstractSocket::connected, this, &PeerMessenger::OnIndirectResponseSocketConnected);
    connect(lp_socket, &QAbstractSocket::errorOccurred, this, &PeerMessenger::OnSocketError);
    connect(lp_socket, &QAbstractSocket::disconnected, this, &PeerMessenger::OnSocketClosed);

    Log(LogArea, 1, QString("Indirect peer connection requested from user %1").arg(Text(l_user)), l_user);
    StartConnecting(lp_socket, l_address, l_port, PeerAttemptLanes::Lane::ConnectionBack,
                    &PeerMessenger::FailConnectionBack);
}

void PeerMessenger::FailConnectionBack(QTcpSocket* ip_socket)
{
    // Only while the socket still answers its request; otherwise it has
    // been taken down already.
    if (SocketItem("peer_connection_request_socket", ip_socket))
        DisposeOfSocket(ip_socket);
}
