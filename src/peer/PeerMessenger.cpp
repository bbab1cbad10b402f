#include "peer/PeerMessenger.h"

#include "log/Log.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerItems.h"
#include "peer/PeerSchema.h"
#include "runtime/TimerManager.h"
#include "server/Server.h"

#include <QTcpSocket>

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

    PeerSchema::DeclareSearchTypes();
    PeerSchema::DeclareQueueTypes();
    PeerSchema::DeclareAttemptTypes();
    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "user_address", Connected);
        new PathNode(lp_root, "user_port", Connected);
        new PathNode(lp_root, "user_obfuscated_port", Connected);
        d.AddPathEventHandler(lp_root, MakeHandler(&PeerMessenger::OnUserAddress));
    }

    if (gp_server)
        connect(gp_server, &Server::IndirectPeerConnectionFailure, this, &PeerMessenger::OnIndirectPeerConnectionFailure);
    if (timerManager)
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &PeerMessenger::EveryHalfMinute);
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.insert(this);
    // The obfuscation masks come from the shared random source, which seeds
    // itself from the clock on first use.
}

PeerMessenger::~PeerMessenger()
{
    // Sockets that close while the listeners and records go away must not
    // reach the store.
    g_peerMessengerDeleted = true;
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    m_socketBufferInfoMap.clear();
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
    switch (i_code) {
    case 1: return "PM_SAY";
    case 4: return "PM_GET_SHARED_FILE_LIST";
    case 5: return "PM_SHARED_FILE_LIST";
    case 8: return "PM_FILE_SEARCH_REQUEST";
    case 9: return "PM_FILE_SEARCH_RESULT";
    case 10: return "PM_INVITE_USER_TO_ROOM";
    case 14: return "PM_CANCELLED_QUEUED_TRANSFER";
    case 15: return "PM_USER_INFO_REQUEST";
    case 16: return "PM_USER_INFO_REPLY";
    case 33: return "PM_SEND_CONNECT_TOKEN";
    case 34: return "PM_MOVE_DOWNLOAD_TO_TOP";
    case 36: return "PM_GET_SHARED_FILES_IN_FOLDER";
    case 37: return "PM_SHARED_FILES_IN_FOLDER";
    case 40: return "PM_TRANSFER_REQUEST";
    case 41: return "PM_TRANSFER_RESPONSE";
    case 42: return "PM_PLACEHOLD_UPLOAD";
    case 43: return "PM_QUEUE_UPLOAD";
    case 44: return "PM_UPLOAD_PLACE_IN_LINE";
    case 46: return "PM_UPLOAD_FAILED";
    case 47: return "PM_EXACT_FILE_SEARCH_REQUEST";
    case 48: return "PM_QUEUED_DOWNLOADS";
    case 49: return "PM_INDIRECT_FILE_SEARCH_REQUEST";
    case 50: return "PM_UPLOAD_DENIED";
    case 51: return "PM_UPLOAD_PLACE_IN_LINE_REQUEST";
    case 52: return "PM_NOTHING";
    default: return QString("%1 (unknown)").arg(i_code);
    }
}
