#pragma once

#include "core/io/UserStats.h"
#include "core/persist/DataSaver.h"
#include "core/store/Item.h"
#include "server/RelayToken.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtGlobal>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

class PortForwarderInterface;
class QTcpSocket;
class ServerFrameReader;
class ServerMessageHandler;

// The client's one connection to the central server. It logs in, keeps the
// users', rooms' and members' state as items, carries chat and searches, and
// relays connection requests between peers, and tells the server the
// client's place in the distributed network. It owns the UPnP port
// forwarder. Every request is dropped silently unless the client is logged
// in; no request reports a failure.
class Server : public QObject, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    enum class State { Disconnected, Connecting, LoggingIn, LoggedIn };

    // Codes of the messages the link sends or reads.
    enum Code : quint32 {
        LoginCode = 1,
        SetWaitPortCode = 2,
        GetUserAddressCode = 3,
        AddUserCode = 5,
        UserStatusCode = 7,
        RoomChatCode = 13,
        JoinRoomCode = 14,
        LeaveRoomCode = 15,
        UserJoinedRoomCode = 16,
        UserLeftRoomCode = 17,
        ConnectToPeerCode = 18,
        PrivateChatCode = 22,
        AckPrivateChatCode = 23,
        FileSearchCode = 26,
        SendFilesFoldersCode = 35,
        GetUserStatsCode = 36,
        RoomListCode = 64,
        HaveNoParentCode = 71,
        PrivilegesCode = 92,
        EmbeddedDistributedCode = 93,
        AcceptChildrenCode = 100,
        ParentCandidatesCode = 102,
        WishListSearchCode = 103,
        WishListIntervalCode = 104,
        SendUploadSpeedCode = 121,
        BranchLevelCode = 126,
        BranchRootCode = 127,
        DistributedResetCode = 130,
        CantConnectToPeerCode = 1001,
    };

    // Writes a user's status as the server tells it: online, or reported
    // offline. Until it is told (after a login, or while the link is down)
    // a user is neither.
    static void SetUserStatus(ItemPtr i_user, bool i_online);
    // Writes a user's address and listening ports as one answer tells
    // them: whoever waits for the three finds them once, all of this
    // answer, never the new address with an earlier answer's ports.
    static void SetUserAddress(ItemPtr i_user, quint32 i_address, quint32 i_port, quint32 i_obfuscatedPort);

    // The version numbers the login carries.
    static constexpr quint32 LoginVersion = 160;
    static constexpr quint32 LoginMinorVersion = 1;
    // A connection attempt, and then the login, must each finish in this time.
    static constexpr int ConnectTimeoutMs = 30000;
    static constexpr int LoginTimeoutMs = 30000;
    // A look-up of a user's address is asked once while its answer is due;
    // one the server left unanswered this long, or whose wait the peer
    // layer ended (AddressWaitEnded), is asked again when it is next wanted.
    // The server answers within moments.
    static constexpr qint64 AddressAnswerWaitMs = 10000;

    Server();
    ~Server() override;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Declares the link's item types, relations and saved types.
    void CreateData();
    void DataLoaded() override;

    void Connect();
    // Connect over a socket that is connected already, in place of one that
    // the link opens itself: how fuzzing feeds the link in memory. The link
    // takes the socket over.
    void ConnectOver(QTcpSocket* ip_socket);
    // Ends the link, logged in or still connecting or logging in (signalled
    // as Disconnected), and the retries after an abrupt loss.
    void Disconnect();
    bool IsConnected() const;
    // The link was lost while logged in, and the half-minute tick tries again
    // until a login is accepted or refused, or the user disconnects.
    bool IsAbruptlyDisconnected() const;
    State GetState() const { return m_state; }

    // Where Connect goes; the central server unless a test says otherwise.
    void SetServerAddress(const QString& i_host, quint16 i_port);
    // How long a connection attempt, and then the login, may take.
    void SetAttemptTimeouts(int i_connectMs, int i_loginMs);
    // Whether the deadline of a connection attempt or a login runs.
    bool AttemptTimed() const { return m_connectTimer.isActive(); }
    // Replaces the port forwarder that the constructor made (null: none);
    // the link owns it.
    void SetPortForwarder(std::unique_ptr<PortForwarderInterface> ip_portForwarder);
    // The monotonic clock of the look-ups' wait, in milliseconds; an empty
    // function brings back the real one.
    using Clock = std::function<qint64()>;
    void SetClock(Clock i_clock) { m_clock = std::move(i_clock); }
    PortForwarderInterface* GetPortForwarder() const { return mp_portForwarder.get(); }

    unsigned int FileSearch(std::string i_search, bool i_wishList);
    void SetWaitPort(int i_port, int i_obfuscatedPort);
    // Asks the server to have the user connect to us. The token it returns
    // (and sends) is drawn at random, never one the caller says is in use.
    unsigned int SendIndirectConnectionRequest(std::string i_user, std::string i_connectionType,
                                               const RelayToken::InUse& i_inUse);
    // Asks for the user's address, unless a look-up of the user asked less
    // than AddressAnswerWaitMs ago still waits for its answer.
    void GetUserAddress(std::string i_user);
    // Whoever waited for the user's look-up stopped waiting unanswered: the
    // next look-up of the user goes at once, however recently this one went.
    // The waits are timed on different clocks, and one read a moment after
    // the other must not hold the look-up back.
    void AddressWaitEnded(const std::string& i_user);
    void SendCantConnectToPeer(unsigned int i_req, std::string i_user);
    void TrackUser(std::string i_user);
    void AddUser(std::string i_user);
    void SendFilesFolders(int i_folders, int i_files);
    void GetUserStats(std::string i_user);
    void SendUploadSpeed(int i_bytesPerSecond);
    void GetOwnPrivilegesStatus();
    void GetRoomList();
    void EnterRoom(std::string i_room);
    void LeaveRoom(std::string i_room);
    void SendRoomChat(std::string i_room, std::string i_text);
    void SendPrivateChat(std::string i_user, std::string i_text);
    // The distributed network's state as the server must know it.
    void SendHaveNoParent(bool i_haveNoParent);
    void SendAcceptChildren(bool i_acceptChildren);
    void SendBranchLevel(int i_level);
    void SendBranchRoot(std::string i_root);

    // Frames one message and sends it; without force it is dropped unless
    // the client is logged in. Also the way the distributed network talks to
    // the server.
    void SendMessage(quint32 i_code, const QByteArray& i_payload, bool i_force = false);

signals:
    void Connecting();
    void Connected();
    void Disconnected();
    void ConnectionFailed(std::string reason);
    void PrivateChat(std::string user, std::string text, time_t time, bool spontaneous);
    void ReceivedOwnPrivilegesStatus(int seconds);
    void SearchRequested(unsigned int token, std::string text, bool wishList);
    void AddUserResponse(std::string user, bool exists);
    void RoomChat(std::string room, std::string user, std::string text);
    void ReceivedUserStats(std::string user, UserStats stats);
    void IndirectPeerConnectionFailure(unsigned int token);
    // Messages of the distributed network (93, 102, 130), payload unparsed.
    void DistributedNetworkMessage(quint32 code, QByteArray payload);
    // The server set the interval of the wish-list searches.
    void WishListIntervalReceived(unsigned int seconds);

private slots:
    void OnSocketConnected();
    void OnSocketReadyRead();
    void OnSocketLost();
    void OnConnectTimeout();
    void OnHalfMinuteTick();
    void OnHourTick();

private:
    friend class ServerMessageHandler;

    void HandleMessage(quint32 i_code, const QByteArray& i_payload);
    // Disconnected to Connecting; false when that did not happen or a
    // receiver of Connecting cancelled it.
    bool StartConnecting();
    void OpenSocket();
    void Attach(QTcpSocket* ip_socket);
    void SendLogin();
    void OnLoginAccepted();
    void OnLoginRefused(const std::string& i_reason);
    void AcknowledgePrivateChat(quint32 i_messageId);
    void AfterLoginWork();
    // The socket failed, closed or broke the protocol.
    void HandleLoss();
    void DropConnection();
    // Every user's status becomes unknown: neither online nor reported
    // offline.
    void ClearOnlineUsers();
    void StartPortForwarding();
    qint64 NowMs() const;
    // The server answered the look-up of the user.
    void AddressAnswered(ItemPtr i_user);

    State m_state = State::Disconnected;
    bool m_abruptlyDisconnected = false;
    QString m_host;
    quint16 m_port = 0;
    int m_connectTimeoutMs = ConnectTimeoutMs;
    int m_loginTimeoutMs = LoginTimeoutMs;
    // Grows with every socket, so a loop over received frames notices that
    // its connection was replaced under it.
    quint64 m_connectionId = 0;
    unsigned int m_searchToken = 0;
    QTcpSocket* mp_socket = nullptr;
    QTimer m_connectTimer;
    std::unique_ptr<ServerFrameReader> mp_frameReader;
    std::unique_ptr<ServerMessageHandler> mp_messageHandler;
    std::unique_ptr<PortForwarderInterface> mp_portForwarder;
    Clock m_clock;
    QElapsedTimer m_monotonicClock;
    // When each look-up that waits for its answer was last sent.
    std::unordered_map<std::string, qint64> m_addressAskedAt;
};

extern Server* gp_server;
