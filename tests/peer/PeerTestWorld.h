#pragma once

// The surroundings of the peer layer in a test: a fresh store, the timer
// service, a data saver, the server link with its types, the settings, a
// clock that moves only when told, listeners on the loopback address, and a
// recorder in place of the server link's requests.

#include "FakePeer.h"
#include "FakePeerServerRequests.h"

#include "peer/PeerMessenger.h"

#include <QAbstractSocket>
#include <QDateTime>
#include <QHostAddress>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DataSaver;
class Server;
class TimerManager;

struct PeerLogLine
{
    int m_level;
    QString m_text;
};

// Subscribed to the item-added event of a socket record type: notes the
// socket's state when its record is made, and raises a socket error inside
// connectToHost, as the system may.
struct PeerErrorWhileConnecting : DataHandler
{
    void OnRecord(Item* ip_record);

    QAbstractSocket::SocketState m_stateAtRecord = QAbstractSocket::ConnectedState;
    bool m_raised = false;
};

class PeerTestWorld
{
public:
    static constexpr quint32 Loopback = 0x7F000001;

    // i_withSettings false leaves the settings types undeclared, for tests
    // that declare them at another moment.
    explicit PeerTestWorld(bool i_withSettings = true);
    ~PeerTestWorld();
    PeerTestWorld(const PeerTestWorld&) = delete;
    PeerTestWorld& operator=(const PeerTestWorld&) = delete;

    PeerMessenger& Messenger() { return *mp_messenger; }
    Server& Link() { return *mp_server; }
    // Deletes the messenger now, as the shut-down does; the test then owns
    // whatever its sockets left in the store.
    void DestroyMessenger();

    // Runs the data-loaded step. The listeners bind 127.0.0.1 at a port of
    // the system's choosing (or at the configured one, when BindConfigured
    // was called); the configured ports are recorded.
    void Load();
    void BindConfigured() { m_bindConfigured = true; }
    // The listeners' queue of connections the system completes before they
    // are accepted, when more than the toolkit's default is to wait there.
    void SetListenBacklog(int i_size) { m_listenBacklog = i_size; }
    quint16 PlainPort() const;
    quint16 ObfuscatedPort() const;
    bool PlainListening() const;
    bool ObfuscatedListening() const;
    // The messenger's listeners, plain first, once loaded.
    const std::vector<QTcpServer*>& Listeners() const { return m_listeners; }
    std::vector<quint16> m_configuredPorts;

    // The peer layer's clock.
    QDateTime m_now;
    void Advance(qint64 i_ms) { m_now = m_now.addMSecs(i_ms); }

    // What the server link writes when the server tells a user's address.
    void GiveAddress(const std::string& i_user, quint32 i_address, int i_port, int i_obfuscatedPort);
    // What it writes when the server relays a user's connection request.
    ItemPtr RelayRequest(const std::string& i_user, unsigned int i_token, const std::string& i_type, quint32 i_address,
                         int i_port, int i_obfuscatedPort);

    // The lines of the peer log since the world was made (or last cleared).
    std::vector<PeerLogLine> Log() const;
    QStringList LogTexts() const;
    void ClearLog();
    // How often the text was logged.
    int Count(const QString& i_text) const;

    // Delivers the calls the messenger queued for itself (a relayed request
    // starts its connection back from one), and nothing else: no socket sees
    // an event. Calls queued meanwhile wait for the next turn.
    void RunQueuedCalls();

    // Runs the event loop until the condition holds; false on time-out.
    static bool WaitFor(const std::function<bool()>& i_condition, int i_timeoutMs = 5000);
    // Runs the event loop for a while, then deletes what was handed to
    // deleteLater.
    static void Settle(int i_ms = 50);

    // A plain messaging connection that a far end opened to us as the user,
    // once the peer layer has taken it; null when it did not come about.
    // Unless the test told another address for the user, the server knows
    // the user at the loopback address the far end connects from (at a
    // closed port): the connection is the user's own, and what we send the
    // user goes on it.
    FakePeerConnection* ConnectAs(FakePeer& io_peer, const std::string& i_user);

    // The user listens with io_listener at the address the server gives,
    // and a messaging connection of the user's own (from io_own) carries
    // our request for the whole share; that connection, once the request
    // reached it, or null.
    FakePeerConnection* BrowseOnOwnConnection(FakePeer& io_listener, FakePeer& io_own, const std::string& i_user);

    // The items that stand for the socket, by type name.
    static ItemPtr SocketItem(const char* ip_type, QTcpSocket* ip_socket);
    static int ItemCount(const char* ip_type);
    // Whether a messaging connection of the user stands.
    static bool HasMessagingConnection(const std::string& i_user);

    FakePeerServerRequests m_requests;

private:
    void TearDown();

    QTemporaryDir m_logFolder;
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    PeerMessenger* mp_messenger = nullptr;
    std::vector<QTcpServer*> m_listeners;
    bool m_bindConfigured = false;
    int m_listenBacklog = 0;
    quint64 m_logStart = 0;
};
