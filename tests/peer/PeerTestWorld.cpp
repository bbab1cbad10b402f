#include "PeerTestWorld.h"

#include "LoopbackPorts.h"
#include "WireBytes.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "server/Server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace
{
const char* const g_socketTypes[] = {"peer_connection_request_socket", "uninitialized_socket", "peer_socket",
                                     "connect_to_peer_request_socket"};
}

PeerTestWorld::PeerTestWorld(bool i_withSettings)
    : m_now(QDate(2024, 5, 1), QTime(12, 0, 0))
{
    d.Reset();
    if (m_logFolder.isValid())
        SetLogFolder(m_logFolder.path());
    m_logStart = GetLogHistory().LastSequence();
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    SetPeerClock([this] { return m_now; });
    SetPeerListenFunction([this](QTcpServer& io_server, quint16 i_port) {
        m_configuredPorts.push_back(i_port);
        m_listeners.push_back(&io_server);
        if (m_listenBacklog > 0)
            io_server.setListenBacklogSize(m_listenBacklog);
        return io_server.listen(QHostAddress::LocalHost, m_bindConfigured ? i_port : 0);
    });
    mp_messenger = new PeerMessenger;
    if (i_withSettings) {
        Settings::DeclareTypes();
        Settings::Set("username", "me");
    }
}

PeerTestWorld::~PeerTestWorld()
{
    // Let closed connections reach their disposal first.
    Settle(100);
    if (!mp_messenger) {
        Settle(0);
        TearDown();
        return;
    }
    for (ItemPtr l_entry : d.GetType("unsent_message")->GetItems()) {
        delete l_entry.AsObject<MemStream>();
        l_entry.Remove();
    }
    std::vector<QTcpSocket*> l_sockets;
    for (const char* lp_type : g_socketTypes) {
        for (ItemPtr l_item : d.GetType(lp_type)->GetItems()) {
            if (auto* lp_socket = l_item.AsObject<QTcpSocket>())
                l_sockets.push_back(lp_socket);
            l_item.Remove();
        }
    }
    for (QTcpSocket* lp_socket : l_sockets) {
        QObject::disconnect(lp_socket, nullptr, nullptr, nullptr);
        delete lp_socket;
    }
    delete mp_messenger;
    mp_messenger = nullptr;
    Settle(0);
    TearDown();
}

void PeerTestWorld::TearDown()
{
    SetPeerListenFunction({});
    SetPeerClock({});
    mp_server.reset();
    mp_saver.reset();
    mp_timers.reset();
    d.Reset();
}

void PeerTestWorld::DestroyMessenger()
{
    delete mp_messenger;
    mp_messenger = nullptr;
}

void PeerTestWorld::Load()
{
    dataSaver->EmitDataLoaded();
}

quint16 PeerTestWorld::PlainPort() const
{
    return m_listeners.size() > 0 ? m_listeners[0]->serverPort() : 0;
}

quint16 PeerTestWorld::ObfuscatedPort() const
{
    return m_listeners.size() > 1 ? m_listeners[1]->serverPort() : 0;
}

bool PeerTestWorld::PlainListening() const
{
    return m_listeners.size() > 0 && m_listeners[0]->isListening();
}

bool PeerTestWorld::ObfuscatedListening() const
{
    return m_listeners.size() > 1 && m_listeners[1]->isListening();
}

void PeerTestWorld::GiveAddress(const std::string& i_user, quint32 i_address, int i_port, int i_obfuscatedPort)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    l_user += d.GetType("user_address")->GetItem(std::to_string(i_address));
    l_user += d.GetType("user_port")->GetItem(std::to_string(i_port));
    l_user += d.GetType("user_obfuscated_port")->GetItem(std::to_string(i_obfuscatedPort));
    l_user.Disconnect("user_address_request");
}

ItemPtr PeerTestWorld::RelayRequest(const std::string& i_user, unsigned int i_token, const std::string& i_type,
                                    quint32 i_address, int i_port, int i_obfuscatedPort)
{
    ItemPtr l_request = d.GetType("peer_connection_request")->NewItem();
    l_request += d.GetType("peer_connection_request_id")->GetItem(std::to_string(i_token));
    l_request += d.GetType("peer_connection_type")->GetItem(i_type);
    l_request += d.GetType("user")->GetItem(i_user);
    GiveAddress(i_user, i_address, i_port, i_obfuscatedPort);
    return l_request;
}

std::vector<PeerLogLine> PeerTestWorld::Log() const
{
    static const QRegularExpression s_shape(R"(^\[[^\]]*\] ( *)(.*)$)");
    std::vector<PeerLogLine> l_lines;
    for (const LogEntry& l_entry : GetLogHistory().AreaEntries("Peer Messenger")) {
        if (l_entry.m_sequence <= m_logStart)
            continue;
        const QRegularExpressionMatch l_match = s_shape.match(l_entry.m_line);
        if (l_match.hasMatch())
            l_lines.push_back({int(l_match.captured(1).size() / 3) + 1, l_match.captured(2)});
    }
    return l_lines;
}

QStringList PeerTestWorld::LogTexts() const
{
    QStringList l_texts;
    for (const PeerLogLine& l_line : Log())
        l_texts.append(l_line.m_text);
    return l_texts;
}

void PeerTestWorld::ClearLog()
{
    m_logStart = GetLogHistory().LastSequence();
}

int PeerTestWorld::Count(const QString& i_text) const
{
    return int(LogTexts().count(i_text));
}

void PeerTestWorld::RunQueuedCalls()
{
    QCoreApplication::sendPostedEvents(mp_messenger, QEvent::MetaCall);
}

bool PeerTestWorld::WaitFor(const std::function<bool()>& i_condition, int i_timeoutMs)
{
    QDeadlineTimer l_deadline(i_timeoutMs);
    while (!i_condition()) {
        if (l_deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void PeerTestWorld::Settle(int i_ms)
{
    // Asleep in the event loop until the time is up: a test that measures
    // what the client costs meanwhile measures the client, not a poll.
    QEventLoop l_loop;
    QTimer::singleShot(std::max(i_ms, 0), Qt::PreciseTimer, &l_loop, &QEventLoop::quit);
    l_loop.exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

FakePeerConnection* PeerTestWorld::ConnectAs(FakePeer& io_peer, const std::string& i_user)
{
    FakePeerConnection* lp_far = io_peer.ConnectTo(PlainPort(), false);
    if (!lp_far)
        return nullptr;
    const int l_before = ItemCount("peer_socket");
    lp_far->SendFrame(WireWriter().U8(1).Str(i_user).Str("P").U32(0));
    if (!WaitFor([&] { return ItemCount("peer_socket") == l_before + 1; }))
        return nullptr;
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (l_user && !l_user.IsConnected("user_address"))
        GiveAddress(i_user, Loopback, ClosedLoopbackPort(), 0);
    return lp_far;
}

FakePeerConnection* PeerTestWorld::BrowseOnOwnConnection(FakePeer& io_listener, FakePeer& io_own,
                                                         const std::string& i_user)
{
    if (!io_listener.Listen())
        return nullptr;
    GiveAddress(i_user, Loopback, io_listener.Port(), 0);
    FakePeerConnection* lp_own = ConnectAs(io_own, i_user);
    if (!lp_own)
        return nullptr;
    Messenger().GetUserSharedFiles(i_user);
    if (!lp_own->WaitForFrames(1) || lp_own->Frames() != QList<QByteArray>{WireWriter().U32(4)})
        return nullptr;
    return lp_own;
}

ItemPtr PeerTestWorld::SocketItem(const char* ip_type, QTcpSocket* ip_socket)
{
    return d.GetType(ip_type)->HasItem(Value(ip_socket));
}

int PeerTestWorld::ItemCount(const char* ip_type)
{
    return int(d.GetType(ip_type)->ItemCount());
}

void PeerErrorWhileConnecting::OnRecord(Item* ip_record)
{
    auto* lp_socket = ItemPtr(ip_record).AsObject<QTcpSocket>();
    m_stateAtRecord = lp_socket->state();
    QObject::connect(lp_socket, &QAbstractSocket::stateChanged, [this, lp_socket](QAbstractSocket::SocketState i_state) {
        if (i_state != QAbstractSocket::UnconnectedState && !m_raised) {
            m_raised = true;
            emit lp_socket->errorOccurred(QAbstractSocket::NetworkError);
        }
    });
}

bool PeerTestWorld::HasMessagingConnection(const std::string& i_user)
{
    for (ItemPtr l_connection : d.GetType("peer_socket")->GetItems()) {
        if (l_connection["user"].AsString() == i_user)
            return true;
    }
    return false;
}
