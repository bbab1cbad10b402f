// The distributed-network manager's connections: construction and
// shut-down, the "D" sockets handed over by the peer layer, and the messages
// read from them.
#include "dnet/DNetManager.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"

#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <limits>

DNetManager* dnetManager = nullptr;

namespace
{
const char* const g_area = "Distributed Network";

QString Text(const std::string& i_text)
{
    return QString::fromStdString(i_text);
}

qint64 SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}

DNetManager::DNetManager()
{
    dnetManager = this;
    // No setting is read here: the settings types may not be declared yet.
    // The root gets the own name at the first login.
    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &DNetManager::OnConnectedToServer);
        connect(gp_server, &Server::DistributedNetworkMessage, this, &DNetManager::OnServerMessage);
    }
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::DNetConnectionRequested, this, &DNetManager::OnDNetConnectionRequested);
        connect(peerMessenger, &PeerMessenger::DNetConnectionAccepted, this, &DNetManager::OnDNetConnectionAccepted);
    }
    if (timerManager)
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &DNetManager::EveryHalfMinute);
}

DNetManager::~DNetManager()
{
    if (dnetManager == this)
        dnetManager = nullptr;
    // Shut-down: no log line and no message to the server, whose services
    // may already be gone. The manager is never deleted from inside one of
    // these sockets' signals, and the event loop may not run again, so the
    // sockets are deleted here rather than later.
    std::vector<QTcpSocket*> l_sockets;
    if (mp_parent)
        l_sockets.push_back(mp_parent->mp_socket);
    for (const auto& lp_child : m_children)
        l_sockets.push_back(lp_child->mp_socket);
    mp_parent.reset();
    m_children.clear();
    for (QTcpSocket* lp_socket : l_sockets) {
        disconnect(lp_socket, nullptr, this, nullptr);
        lp_socket->abort();
        delete lp_socket;
    }
}

void DNetManager::SetConnectionRequester(ConnectionRequester i_requester)
{
    m_requester = std::move(i_requester);
}

void DNetManager::SetClock(Clock i_clock)
{
    m_clock = std::move(i_clock);
}

qint64 DNetManager::Now() const
{
    return m_clock ? m_clock() : SteadyMs();
}

void DNetManager::RequestConnection(const std::string& i_user)
{
    if (m_requester)
        m_requester(i_user);
    else if (peerMessenger)
        peerMessenger->RequestDNetConnection(i_user);
}

std::string DNetManager::ParentName() const
{
    return mp_parent ? mp_parent->m_user : std::string();
}

std::vector<std::string> DNetManager::ChildNames() const
{
    std::vector<std::string> l_names;
    for (const auto& lp_child : m_children)
        l_names.push_back(lp_child->m_user);
    return l_names;
}

// Sockets -----------------------------------------------------------------

void DNetManager::DisposeOfSocket(QTcpSocket* ip_socket)
{
    ip_socket->abort();
    // Possibly inside one of the socket's own signals.
    ip_socket->deleteLater();
}

DNetManager::Link* DNetManager::Adopt(const std::string& i_user, QTcpSocket* ip_socket, bool i_parent)
{
    auto lp_link = std::make_unique<Link>();
    lp_link->m_user = i_user;
    lp_link->mp_socket = ip_socket;
    lp_link->m_lastReceivedAt = Now();
    Link* lp_result = lp_link.get();
    if (i_parent)
        mp_parent = std::move(lp_link);
    else
        m_children.push_back(std::move(lp_link));

    // A peer that vanishes without a word (power cut, dropped route) is
    // otherwise never noticed on an idle connection.
    ip_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    ip_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(ip_socket, &QTcpSocket::readyRead, this, [this, ip_socket] { ReadLink(ip_socket); });
    connect(ip_socket, &QTcpSocket::disconnected, this, [this, ip_socket] { LoseLink(ip_socket); });
    connect(ip_socket, &QTcpSocket::errorOccurred, this, [this, ip_socket](QAbstractSocket::SocketError) { LoseLink(ip_socket); });
    // The peer may have sent more right behind its first message; those
    // bytes raise no new readyRead. They are read from the event loop, not
    // inside the peer layer's hand-over.
    QMetaObject::invokeMethod(this, [this, ip_socket] { ReadLink(ip_socket); }, Qt::QueuedConnection);
    return lp_result;
}

DNetManager::Link* DNetManager::FindLink(QTcpSocket* ip_socket) const
{
    if (mp_parent && mp_parent->mp_socket == ip_socket)
        return mp_parent.get();
    for (const auto& lp_child : m_children) {
        if (lp_child->mp_socket == ip_socket)
            return lp_child.get();
    }
    return nullptr;
}

bool DNetManager::DropLink(QTcpSocket* ip_socket)
{
    if (mp_parent && mp_parent->mp_socket == ip_socket) {
        mp_parent.reset();
        disconnect(ip_socket, nullptr, this, nullptr);
        DisposeOfSocket(ip_socket);
        return true;
    }
    auto l_it = std::find_if(m_children.begin(), m_children.end(),
                             [ip_socket](const std::unique_ptr<Link>& i_link) { return i_link->mp_socket == ip_socket; });
    if (l_it != m_children.end()) {
        m_children.erase(l_it);
        disconnect(ip_socket, nullptr, this, nullptr);
        DisposeOfSocket(ip_socket);
    }
    return false;
}

void DNetManager::LoseLink(QTcpSocket* ip_socket, const QString& i_reason)
{
    const Link* lp_link = FindLink(ip_socket);
    if (!lp_link)
        return;
    const std::string l_user = lp_link->m_user;
    const bool l_wasParent = DropLink(ip_socket);
    const QString l_why = i_reason.isEmpty() ? QString() : QString(": %1, connection closed").arg(i_reason);
    Log(g_area, 1, QString("Lost %1 %2%3").arg(l_wasParent ? "parent" : "child", Text(l_user), l_why));
    if (l_wasParent)
        BecomeRoot();
}

void DNetManager::ReadLink(QTcpSocket* ip_socket)
{
    Link* lp_link = FindLink(ip_socket);
    if (!lp_link)
        return;
    const QByteArray l_bytes = ip_socket->readAll();
    if (!l_bytes.isEmpty())
        lp_link->m_lastReceivedAt = Now();
    lp_link->m_reader.Append(l_bytes);
    for (;;) {
        quint8 l_code = 0;
        QByteArray l_payload;
        const DNetFrameReader::Result l_result = lp_link->m_reader.Next(l_code, l_payload);
        if (l_result == DNetFrameReader::Result::NeedMore)
            break;
        if (l_result == DNetFrameReader::Result::Error) {
            LoseLink(ip_socket, "message of impossible length");
            return;
        }
        if (!HandleFrame(*lp_link, l_code, l_payload))
            return;
        // Receivers of the search may have changed the tree.
        lp_link = FindLink(ip_socket);
        if (!lp_link)
            return;
    }
    // A socket handed over after its peer had gone raises no signal of its
    // own any more.
    if (ip_socket->state() == QAbstractSocket::UnconnectedState)
        LoseLink(ip_socket);
}

// Messages on "D" connections ---------------------------------------------

bool DNetManager::HandleFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload)
{
    return IsParent(&io_link) ? HandleParentFrame(io_link, i_code, i_payload) : HandleChildFrame(io_link, i_code, i_payload);
}

bool DNetManager::HandleParentFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload)
{
    QTcpSocket* lp_socket = io_link.mp_socket;
    switch (i_code) {
    case DNetCode::Ping:
        return true;
    case DNetCode::Search: {
        DNetSearch l_search;
        if (!DNetMessages::ReadSearch(i_payload, l_search)) {
            LoseLink(lp_socket, "malformed search");
            return false;
        }
        PassOnSearch(l_search, i_payload);
        return FindLink(lp_socket) != nullptr;
    }
    case DNetCode::BranchLevel: {
        qint32 l_level = 0;
        if (!DNetMessages::ReadBranchLevel(i_payload, l_level) || l_level < 0 || l_level == std::numeric_limits<qint32>::max()) {
            LoseLink(lp_socket, "malformed branch level");
            return false;
        }
        SetParentLevel(l_level);
        return true;
    }
    case DNetCode::BranchRoot: {
        std::string l_root;
        if (!DNetMessages::ReadBranchRoot(i_payload, l_root)) {
            LoseLink(lp_socket, "malformed branch root");
            return false;
        }
        // Our own name as the root: the parent hangs below us, and searches
        // would circle for ever.
        if (l_root == Settings::Get("username")) {
            LoseLink(lp_socket, "it belongs to our own branch");
            return false;
        }
        SetParentRoot(l_root);
        return true;
    }
    case DNetCode::ChildDepth:
        if (!DNetMessages::ReadChildDepth(i_payload)) {
            LoseLink(lp_socket, "malformed child depth");
            return false;
        }
        return true;
    default:
        Log(g_area, 2, QString("Message %1 from parent %2 ignored").arg(i_code).arg(Text(io_link.m_user)));
        return true;
    }
}

bool DNetManager::HandleChildFrame(Link& io_link, quint8 i_code, const QByteArray& i_payload)
{
    // Nothing a child says changes the tree; what it says must still be
    // readable.
    bool l_readable = true;
    switch (i_code) {
    case DNetCode::Ping:
        break;
    case DNetCode::Search: {
        DNetSearch l_search;
        l_readable = DNetMessages::ReadSearch(i_payload, l_search);
        break;
    }
    case DNetCode::BranchLevel: {
        qint32 l_level = 0;
        l_readable = DNetMessages::ReadBranchLevel(i_payload, l_level);
        break;
    }
    case DNetCode::BranchRoot: {
        std::string l_root;
        l_readable = DNetMessages::ReadBranchRoot(i_payload, l_root);
        break;
    }
    case DNetCode::ChildDepth:
        l_readable = DNetMessages::ReadChildDepth(i_payload);
        break;
    default:
        Log(g_area, 2, QString("Message %1 from child %2 ignored").arg(i_code).arg(Text(io_link.m_user)));
        break;
    }
    if (!l_readable) {
        LoseLink(io_link.mp_socket, QString("malformed message %1").arg(i_code));
        return false;
    }
    return true;
}

void DNetManager::PassOnSearch(const DNetSearch& i_search, const QByteArray& i_payload)
{
    if (i_search.m_user != Settings::Get("username"))
        emit DNetSearchRequest(i_search.m_user, i_search.m_token, i_search.m_query);
    SendToChildren(DNetMessages::Frame(DNetCode::Search, i_payload.left(i_search.m_length)));
}

void DNetManager::SendToChildren(const QByteArray& i_frame)
{
    std::vector<QTcpSocket*> l_sockets;
    for (const auto& lp_child : m_children)
        l_sockets.push_back(lp_child->mp_socket);
    // A write may report a failure at once, or leave a child over its limit,
    // and so drop it.
    for (QTcpSocket* lp_socket : l_sockets) {
        if (FindLink(lp_socket))
            SendToLink(lp_socket, i_frame);
    }
}

bool DNetManager::SendToLink(QTcpSocket* ip_socket, const QByteArray& i_frame)
{
    // The far end takes a longer frame for a broken peer and closes.
    if (i_frame.size() > 4 + qsizetype(DNetFrameReader::MaxFrameLength)) {
        Log(g_area, 1, QString("Message of %1 bytes not sent: longer than a connection carries").arg(i_frame.size()));
        return true;
    }
    ip_socket->write(i_frame);
    if (!FindLink(ip_socket))
        return false;
    // A child that stops reading would otherwise have us keep every search
    // sent its way.
    const qint64 l_unsent = ip_socket->bytesToWrite();
    if (l_unsent > PeerMessenger::MaxUnsentBytes) {
        LoseLink(ip_socket, QString("it does not take what we send (%1 bytes waiting)").arg(l_unsent));
        return false;
    }
    return true;
}

// Hand-over of "D" connections ---------------------------------------------

void DNetManager::OnDNetConnectionAccepted(std::string i_user, QTcpSocket* ip_socket)
{
    if (!ip_socket)
        return;
    if (mp_parent) {
        Log(g_area, 2, QString("Connection to parent candidate %1 closed: parent %2 already chosen").arg(Text(i_user), Text(mp_parent->m_user)));
        DisposeOfSocket(ip_socket);
        return;
    }
    const bool l_isChild = std::any_of(m_children.begin(), m_children.end(),
                                       [&i_user](const std::unique_ptr<Link>& i_link) { return i_link->m_user == i_user; });
    if (l_isChild || i_user == Settings::Get("username")) {
        Log(g_area, 1, QString("Connection to parent candidate %1 closed: it belongs to our own branch").arg(Text(i_user)));
        DisposeOfSocket(ip_socket);
        return;
    }
    ClearAttempts();
    Adopt(i_user, ip_socket, true);
    m_parentLevelKnown = false;
    m_parentRootKnown = false;
    Log(g_area, 1, QString("Gained parent %1").arg(Text(i_user)));
    if (gp_server)
        gp_server->SendHaveNoParent(false);
}

void DNetManager::OnDNetConnectionRequested(std::string i_user, QTcpSocket* ip_socket)
{
    if (!ip_socket)
        return;
    const auto l_sameChild = std::find_if(m_children.begin(), m_children.end(),
                                          [&i_user](const std::unique_ptr<Link>& i_link) { return i_link->m_user == i_user; });
    QString l_refusal;
    if (mp_parent && mp_parent->m_user == i_user) {
        l_refusal = "it is our parent";
    } else if (l_sameChild != m_children.end()) {
        // A child that connects again has lost its old connection, which we
        // may not have noticed yet: the new one replaces it. The child keeps
        // its place, so neither the limit nor a pause in taking children
        // stands in the way.
        LoseLink((*l_sameChild)->mp_socket, "it connected again");
    } else if (!m_acceptsChildren) {
        l_refusal = "not accepting children";
    } else if (static_cast<int>(m_children.size()) >= MaxChildren) {
        l_refusal = QString("already %1 children").arg(m_children.size());
    }
    if (!l_refusal.isEmpty()) {
        Log(g_area, 2, QString("Refused child %1: %2").arg(Text(i_user), l_refusal));
        DisposeOfSocket(ip_socket);
        return;
    }
    Adopt(i_user, ip_socket, false);
    Log(g_area, 1, QString("Gained child %1").arg(Text(i_user)));
    if (SendToLink(ip_socket, DNetMessages::BranchLevelFrame(m_level)))
        SendToLink(ip_socket, DNetMessages::BranchRootFrame(m_root));
}
