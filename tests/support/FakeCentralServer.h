#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QtGlobal>

#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

class QTcpSocket;

// A central server for tests, on 127.0.0.1 (or an address it is given) and a
// port of the system's choosing. Each logged-in client is reported at the
// address its connection comes from. It speaks the server protocol: logins (accepted, refused or left
// unanswered), addresses, user lookups, rooms and room chat (sent back to
// every member, the sender included), private chat (not echoed to the
// sender), relayed connection requests, statistics, the room list and
// privileges, user watching (a client that looked a user up with 5 or 7 is
// told by 7 when that user logs in or drops), and the distributed network: it keeps each client's reported
// place in the tree (71, 100, 126, 127), names the candidates that accept
// children as parents to a client that reports having none (102), passes
// every search on to the clients without a parent (93), and resets a client
// on request (130). Everything a client sends is recorded; tests send
// anything else themselves with Send/SendRaw.
class FakeCentralServer : public QObject
{
    Q_OBJECT

public:
    struct Message
    {
        std::string m_user;  // the client's login name; empty before login
        quint32 m_code = 0;
        QByteArray m_payload;
    };

    // A user the server knows without a connected client: looked up by 5,
    // 3 and 36, and listed as member of rooms it was put in.
    struct KnownUser
    {
        quint32 m_status = 2;
        qint32 m_averageSpeed = 0;
        qint64 m_downloadCount = 0;
        qint32 m_files = 0;
        qint32 m_folders = 0;
        quint32 m_slotsFull = 0;
        std::string m_countryCode;
        quint32 m_address = 0;
        quint32 m_port = 0;
        quint32 m_obfuscatedPort = 0;
        // Named as a parent candidate (with the address and port above).
        bool m_acceptsChildren = false;
    };

    // What a client last told about its place in the distributed network;
    // a field it never reported keeps its "Reported" flag false.
    struct DistributedState
    {
        bool m_haveNoParentReported = false;
        bool m_haveNoParent = false;
        bool m_acceptChildrenReported = false;
        bool m_acceptChildren = false;
        bool m_branchLevelReported = false;
        quint32 m_branchLevel = 0;
        bool m_branchRootReported = false;
        std::string m_branchRoot;
    };

    struct ParentCandidate
    {
        std::string m_user;
        quint32 m_address = LoopbackAddress;
        quint32 m_port = 0;
    };

    static constexpr quint32 LoopbackAddress = 0x7F000001;

    explicit FakeCentralServer(QObject* ip_parent = nullptr);
    ~FakeCentralServer() override;

    // Listens on the address (127.0.0.1 unless given), port 0. False when
    // that fails.
    bool Start(const QHostAddress& i_address = QHostAddress(QHostAddress::LocalHost));
    quint16 Port() const;
    // Stops listening and drops every client, whose users leave every room
    // (members put in with AddRoomMember stay); Start may be called again
    // and gets a new port.
    void Stop();

    // Login answers: accept (default), refuse with the reason, or stay
    // silent. A per-user refusal wins over the general rule.
    void AcceptLogins() { m_refusal.clear(); m_silentLogin = false; }
    void RefuseLogins(const std::string& i_reason) { m_refusal = i_reason; }
    void RefuseUser(const std::string& i_user, const std::string& i_reason) { m_userRefusals[i_user] = i_reason; }
    void SetSilentLogin(bool i_silent) { m_silentLogin = i_silent; }
    void SetPrivilegeSeconds(quint32 i_seconds) { m_privilegeSeconds = i_seconds; }
    // A relayed connection request to a user with no client fails at once
    // (default), or gets no answer at all.
    void SetSilentOnAbsentRelays(bool i_silent) { m_silentOnAbsentRelays = i_silent; }
    // Look-ups of the user's address get no answer at all.
    void LeaveAddressUnanswered(const std::string& i_user) { m_unansweredAddresses.insert(i_user); }

    void AddKnownUser(const std::string& i_user, const KnownUser& i_info) { m_knownUsers[i_user] = i_info; }
    // Puts a known user (no client) into a room.
    void AddRoomMember(const std::string& i_room, const std::string& i_user) { m_rooms[i_room].insert(i_user); }
    std::set<std::string> RoomMembers(const std::string& i_room) const;

    // To one logged-in user's client; false when it has none.
    bool Send(const std::string& i_user, quint32 i_code, const QByteArray& i_payload);
    bool SendRaw(const std::string& i_user, const QByteArray& i_bytes);
    // To the most recent client, logged in or not.
    bool SendToLatest(quint32 i_code, const QByteArray& i_payload);
    bool SendRawToLatest(const QByteArray& i_bytes);
    // Relays a connection request of i_from, a known user or a logged-in
    // client, to i_to's client as the server relays a client's request: with
    // i_from's address and ports as the server knows them, and the token.
    // False when i_to has no client.
    bool RelayConnectRequest(const std::string& i_to, const std::string& i_from, const std::string& i_type,
                             quint32 i_token);
    // The distributed network's messages to a logged-in user's client.
    bool SendParentCandidates(const std::string& i_user, const std::vector<ParentCandidate>& i_candidates);
    bool SendEmbeddedSearch(const std::string& i_user, const std::string& i_from, quint32 i_token, const std::string& i_query);
    bool SendDistributedReset(const std::string& i_user);
    // The state of the logged-in user's client (all unreported when none).
    DistributedState DistributedStateOf(const std::string& i_user) const;

    // Closes the connection of the user (or, for "", of the latest client).
    void DropClient(const std::string& i_user = std::string());

    int ConnectionCount() const { return m_connectionCount; }
    int ClientCount() const { return static_cast<int>(m_clients.size()); }
    bool IsLoggedIn(const std::string& i_user) const;

    QList<Message> m_received;
    QList<Message> Received(quint32 i_code) const;
    int CountOf(quint32 i_code) const { return static_cast<int>(Received(i_code).size()); }
    // Runs the event loop until that many messages of the code have arrived
    // in all (or the time is up).
    bool WaitFor(quint32 i_code, int i_count = 1, int i_timeoutMs = 5000);
    void ClearReceived() { m_received.clear(); }

    std::set<quint32> m_acknowledgedMessageIds;

signals:
    void ClientConnected();
    void MessageReceived(QString user, quint32 code, QByteArray payload);
    // A client's relayed connection request to a known user, who has no
    // client here, after the failure or the silence that
    // SetSilentOnAbsentRelays chose: the user, and the request as the
    // server passes it on (with the asker's name, the type, the asker's
    // address and ports, the token), for whatever plays that user's client.
    void RelayedToKnownUser(QString user, QByteArray payload);

private:
    struct Client
    {
        QTcpSocket* mp_socket = nullptr;
        QByteArray m_buffer;
        std::string m_user;
        bool m_loggedIn = false;
        quint32 m_address = LoopbackAddress;  // where the connection comes from
        quint32 m_port = 0;
        quint32 m_obfuscatedPort = 0;
        qint32 m_files = 0;
        qint32 m_folders = 0;
        qint32 m_speed = 0;
        DistributedState m_distributed;
    };

    void OnNewConnection();
    void OnReadyRead(QTcpSocket* ip_socket);
    void OnDisconnected(QTcpSocket* ip_socket);
    void Handle(Client& io_client, quint32 i_code, const QByteArray& i_payload);
    void HandleLogin(Client& io_client, const QByteArray& i_payload);
    void HandleJoin(Client& io_client, const std::string& i_room);
    void HandleLeave(Client& io_client, const std::string& i_room);
    void HandleConnectToPeer(Client& io_client, const QByteArray& i_payload);
    void HandlePrivateChat(Client& io_client, const QByteArray& i_payload);
    void DeliverPrivateChat(Client& io_target, const std::string& i_from, const std::string& i_text, bool i_new);
    void AnswerAddUser(Client& io_client, const std::string& i_user);
    void AnswerAddress(Client& io_client, const std::string& i_user);
    void AnswerStats(Client& io_client, const std::string& i_user);
    void AnswerStatus(Client& io_client, const std::string& i_user);
    // Tells the clients watching the user its new status (7).
    void NotifyWatchers(const std::string& i_user, quint32 i_status);
    void AnswerRoomList(Client& io_client);
    void HandleDistributedState(Client& io_client, quint32 i_code, const QByteArray& i_payload);
    void OfferParents(Client& io_client);
    void PassSearchToRoots(const Client& i_from, const QByteArray& i_payload);
    void AppendMemberFigures(const std::string& i_user, QByteArray& io_payload) const;
    KnownUser FiguresOf(const std::string& i_user) const;
    Client* FindClient(QTcpSocket* ip_socket);
    Client* FindUser(const std::string& i_user);
    const Client* FindUser(const std::string& i_user) const;
    void WriteFrame(Client& io_client, quint32 i_code, const QByteArray& i_payload);
    static QByteArray ConnectToPeerPayload(const std::string& i_from, const std::string& i_type, quint32 i_address,
                                           quint32 i_port, quint32 i_token, quint32 i_obfuscatedPort);

    QTcpServer m_listener;
    std::list<Client> m_clients;
    int m_connectionCount = 0;
    std::string m_refusal;
    std::map<std::string, std::string> m_userRefusals;
    bool m_silentLogin = false;
    bool m_silentOnAbsentRelays = false;
    std::set<std::string> m_unansweredAddresses;
    quint32 m_privilegeSeconds = 0;
    std::map<std::string, KnownUser> m_knownUsers;
    std::map<std::string, std::set<std::string>> m_rooms;
    // Private lines for users that were offline, delivered at their login.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> m_offlineChat;
    quint32 m_nextMessageId = 1;
    // Who looked whom up: the watched user's name to the watchers' names.
    std::map<std::string, std::set<std::string>> m_watchers;
};
