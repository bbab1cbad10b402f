#include "peer/PeerMessenger.h"

#include "core/log/Log.h"
#include "core/runtime/TimerManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerSchema.h"
#include "server/Server.h"

#include <QTcpSocket>

#include <set>

PeerMessenger* peerMessenger = nullptr;
bool g_peerMessengerDeleted = false;

using namespace PeerItems;

namespace
{
// The value of a setting read as a number; 0 when it has none. Nothing is
// created by the lookup.
int SettingAsInt(const char* ip_name)
{
    return d.GetType("global")->HasItem(ip_name)["global_value"].AsInt();
}

// Gives the setting its default when the setting does not exist at all; a
// setting that exists without a value keeps having none.
void EnsureSetting(const char* ip_name, const char* ip_default)
{
    Type* lp_global = d.GetType("global");
    if (lp_global->HasItem(ip_name))
        return;
    lp_global->GetItem(ip_name) += d.GetType("global_value")->GetItem(ip_default);
}
}

PeerMessenger::PeerMessenger() : QObject(nullptr)
{
    peerMessenger = this;
    // A messenger made after an earlier one went (a restart of the window)
    // takes its sockets down again.
    g_peerMessengerDeleted = false;
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &PeerMessenger::OnConnectedToServer);

    PeerSchema::DeclareConnectionTypes();
    Type* lp_peerSocket = d.GetType("peer_socket");
    lp_peerSocket->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&PeerMessenger::OnPeerSocketItemAdded));
    lp_peerSocket->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&PeerMessenger::OnPeerSocketItemRemoved));

    PeerSchema::DeclareRelayedRequestTypes();
    {
        auto* lp_root = new PathNode(&d, "peer_connection_request");
        new PathNode(lp_root, "peer_connection_request_id", Connected);
        new PathNode(lp_root, "peer_connection_type", Connected);
        auto* lp_user = new PathNode(lp_root, "user", Connected);
        new PathNode(lp_user, "user_address", Connected);
        new PathNode(lp_user, "user_port", Connected);
        new PathNode(lp_user, "user_obfuscated_port", Connected);
        d.AddPathEventHandler(lp_root, MakeHandler(&PeerMessenger::OnPeerConnectionRequest));
    }
    d.GetType("peer_connection_request")
        ->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&PeerMessenger::OnPeerConnectionRequestRemoved));

    PeerSchema::DeclareSearchTypes();
    d.GetType("search_request")
        ->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&PeerMessenger::OnSearchRequestRemoved));
    PeerSchema::DeclareQueueTypes();
    PeerSchema::DeclareAttemptTypes();
    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "user_address", Connected);
        new PathNode(lp_root, "user_port", Connected);
        new PathNode(lp_root, "user_obfuscated_port", Connected);
        d.AddPathEventHandler(lp_root, MakeHandler(&PeerMessenger::OnUserAddress));
    }

    if (gp_server) {
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this, &PeerMessenger::OnIndirectPeerConnectionFailure);
        // Address look-ups the link took with it are answered by nobody.
        connect(gp_server, &Server::Disconnected, this, &PeerMessenger::OnServerLost);
    }
    if (timerManager)
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &PeerMessenger::EveryHalfMinute);
    m_roomTimer.setSingleShot(true);
    // A coarse timer could let a waiting peer wait longer than the idle age.
    m_roomTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_roomTimer, &QTimer::timeout, this, &PeerMessenger::OnRoomTimer);
    // A timer, not a queued call: queued calls run before the event loop
    // polls the sockets taken in this turn.
    m_turnTimer.setSingleShot(true);
    connect(&m_turnTimer, &QTimer::timeout, this, &PeerMessenger::OnTurnEnd);
    m_addressWaitTimer.setSingleShot(true);
    connect(&m_addressWaitTimer, &QTimer::timeout, this, [this] { EndAddressWaits(PeerNowMs()); });
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.insert(this);
    // The obfuscation masks come from the shared random source, which seeds
    // itself from the clock on first use.
}

PeerMessenger::~PeerMessenger()
{
    // Counted events not yet written would be lost with the counters.
    const QDateTime l_now = PeerNow();
    for (PeerLogCounter* lp_lines : CountedLines())
        LogPending(*lp_lines, l_now);
    // Sockets that close while the listeners and records go away must not
    // reach the store.
    g_peerMessengerDeleted = true;
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    m_socketBufferInfoMap.clear();
    ReleaseOpenConnections();
}

// Connections still open at shut-down end here: the sockets of this thread
// (outgoing ones have no parent) and the activity times of messaging
// connections. The sockets' records stay, unread, until the store goes.
void PeerMessenger::ReleaseOpenConnections()
{
    std::set<QTcpSocket*> l_sockets;
    for (const char* lp_type : {"peer_connection_request_socket", "uninitialized_socket", "peer_socket",
                                "connect_to_peer_request_socket"}) {
        for (ItemPtr l_item : d.GetType(lp_type)->GetItems()) {
            if (auto* lp_socket = l_item.AsObject<QTcpSocket>(); lp_socket && lp_socket->thread() == thread())
                l_sockets.insert(lp_socket);
        }
    }
    for (ItemPtr l_socket : d.GetType("peer_socket")->GetItems()) {
        ItemPtr l_activity = l_socket["last_activity_time"];
        delete l_activity.AsObject<QDateTime>();
        l_activity.Remove();
    }
    for (QTcpSocket* lp_socket : l_sockets) {
        QObject::disconnect(lp_socket, nullptr, this, nullptr);
        delete lp_socket;
    }
}

void PeerMessenger::DataLoaded()
{
    EnsureSetting("listening_port", "2235");
    EnsureSetting("obfuscated_listening_port", "8973");

    // A port chosen during the last run takes effect now.
    Type* lp_global = d.GetType("global");
    ItemPtr l_newPort = lp_global->HasItem("new_listening_port");
    ItemPtr l_newValue = l_newPort["global_value"];
    if (l_newValue) {
        lp_global->GetItem("listening_port") += l_newValue;
        l_newPort.Remove();
    }

    struct Listener
    {
        QTcpServer* mp_server;
        const char* mp_setting;
    };
    for (const Listener& l_listener : {Listener{&m_server, "listening_port"},
                                       Listener{&m_obfuscatedServer, "obfuscated_listening_port"}}) {
        const quint16 l_port = static_cast<quint16>(SettingAsInt(l_listener.mp_setting) & 0xffff);
        l_listener.mp_server->setListenBacklogSize(ListenBacklog);
        if (!PeerListen(*l_listener.mp_server, l_port)) {
            // Without this line a client that nobody can reach leaves no trace.
            Log(LogArea, 1,
                QString("Could not listen for peer connections on port %1: %2")
                    .arg(l_port)
                    .arg(l_listener.mp_server->errorString()));
        }
    }

    connect(&m_server, &QTcpServer::newConnection, this, &PeerMessenger::OnNewConnection);
    connect(&m_obfuscatedServer, &QTcpServer::newConnection, this, &PeerMessenger::OnNewObfuscatedConnection);
    for (QTcpServer* lp_listener : {&m_server, &m_obfuscatedServer}) {
        // At the connection bound one connection at most waits in a
        // listener: the toolkit accepts until that many are pending.
        lp_listener->setMaxPendingConnections(1);
        connect(lp_listener, &QTcpServer::acceptError, this,
                [this, lp_listener](QAbstractSocket::SocketError) { OnAcceptError(*lp_listener); });
    }
}

void PeerMessenger::RequestFileConnectionToUser(std::string i_user)
{
    ConnectToUser(i_user, "F");
}

void PeerMessenger::RequestDNetConnection(std::string i_user)
{
    ConnectToUser(i_user, "D");
}

void PeerMessenger::OnConnectedToServer()
{
    GetPeerServerRequests().SetWaitPort(SettingAsInt("listening_port"), SettingAsInt("obfuscated_listening_port"));
}

QString PeerMessenger::MessageCodeToString(int i_code)
{
    return PeerMessageCodes::Name(i_code);
}
