// The server link's states: login, refusals, failures, the send rule, the
// after-login work, Disconnect and the retries after an abrupt loss.
#include "LoopbackPorts.h"
#include "ServerTestSetup.h"
#include "WireBytes.h"

#include "portmap/PortForwarderInterface.h"

#include <QCryptographicHash>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

class CountingForwarder : public PortForwarderInterface
{
public:
    explicit CountingForwarder(int* op_count) : mp_count(op_count) {}
    void Init() override { ++*mp_count; }

private:
    int* mp_count;
};

// Where the link is when the user disconnects.
enum class Stage { Connecting, LoggingIn, BetweenRetries, RetryConnecting, RetryLoggingIn };

// How a retry's connection ends before the login is answered.
enum class Loss { DroppedAtAccept, DroppedAtLogin, LoginUnanswered };

}  // namespace

class TestServerConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void LoginSendsNameDigestAndVersions();
    void ConnectNeedsUserNameAndIdleLink();
    void RefusedLoginReportsReasonAndStops_data();
    void RefusedLoginReportsReasonAndStops();
    void UnreachableServerFailsThenDisconnects();
    void SilentServerTimesOut();
    void RequestsDroppedUnlessLoggedIn();
    void ConnectedComesBeforeAfterLoginWork();
    void AfterLoginWorkRepeatsAtEveryLogin();
    void DisconnectWhileLoggedIn();
    void DisconnectEndsAttemptsAndRetries_data();
    void DisconnectEndsAttemptsAndRetries();
    void AbruptLossRetriesOnTheHalfMinuteTick();
    void RetryLostBeforeTheLoginAnswerKeepsRetrying_data();
    void RetryLostBeforeTheLoginAnswerKeepsRetrying();
    void RefusalAfterAbruptLossEndsRetries();
    void OversizedFrameIsAProtocolError();
    void PortForwardingFollowsUseUpnp();
    void DataLoadedDefaultsUseUpnp();

private:
    void Record();
    // Logs in, then the server drops the link: the link is abruptly
    // disconnected and retries on the half-minute tick.
    void LoseLoggedInLink();

    std::unique_ptr<ServerTestSetup> mp_setup;
    QStringList m_events;
};

void TestServerConnection::init()
{
    mp_setup = std::make_unique<ServerTestSetup>();
    QVERIFY(mp_setup->m_fake.Port() != 0);
    m_events.clear();
    Record();
}

void TestServerConnection::cleanup()
{
    mp_setup.reset();
}

void TestServerConnection::Record()
{
    Server& l_server = mp_setup->Link();
    connect(&l_server, &Server::Connecting, this, [this]() { m_events << "Connecting"; });
    connect(&l_server, &Server::Connected, this, [this]() { m_events << "Connected"; });
    connect(&l_server, &Server::Disconnected, this, [this]() { m_events << "Disconnected"; });
    connect(&l_server, &Server::ConnectionFailed, this,
            [this](std::string i_reason) { m_events << "ConnectionFailed:" + QString::fromStdString(i_reason); });
}

void TestServerConnection::LoseLoggedInLink()
{
    QVERIFY(mp_setup->LogIn());
    mp_setup->m_fake.DropClient("alice");
    QTRY_VERIFY(mp_setup->Link().IsAbruptlyDisconnected());
    QCOMPARE(mp_setup->Link().GetState(), Server::State::Disconnected);
}

void TestServerConnection::LoginSendsNameDigestAndVersions()
{
    FakeCentralServer& l_fake = mp_setup->m_fake;
    Server& l_server = mp_setup->Link();
    l_fake.SetSilentLogin(true);
    Settings::Set("username", "alice");
    Settings::Set("password", "pa ss");
    l_server.Connect();
    QCOMPARE(l_server.GetState(), Server::State::Connecting);
    QCOMPARE(m_events, QStringList{"Connecting"});
    QVERIFY(!l_server.IsConnected());

    QVERIFY(l_fake.WaitFor(1));
    QCOMPARE(l_server.GetState(), Server::State::LoggingIn);
    QVERIFY(!l_server.IsConnected());
    const QByteArray l_digest = QCryptographicHash::hash("alicepa ss", QCryptographicHash::Md5).toHex();
    const QByteArray l_expected = WireWriter().Str("alice").Str("pa ss").U32(160).Str(l_digest.toStdString()).U32(1);
    QCOMPARE(l_fake.Received(1).front().m_payload, l_expected);

    // Accept by hand: the answer's four fields are read and ignored.
    QVERIFY(l_fake.SendToLatest(1, WireWriter().U8(1).Str("hello").U32(0x7F000001).Str("x").U8(1)));
    QTRY_VERIFY(l_server.IsConnected());
    QCOMPARE(l_server.GetState(), Server::State::LoggedIn);
    QCOMPARE(m_events, (QStringList{"Connecting", "Connected"}));
    QVERIFY(!l_server.IsAbruptlyDisconnected());

    // The system probes a server that has gone quiet, so that one that
    // vanished without closing the connection is noticed.
    QTcpSocket* lp_socket = l_server.findChild<QTcpSocket*>();
    QVERIFY(lp_socket && lp_socket->state() == QAbstractSocket::ConnectedState);
    QCOMPARE(lp_socket->socketOption(QAbstractSocket::KeepAliveOption).toInt(), 1);
}

void TestServerConnection::ConnectNeedsUserNameAndIdleLink()
{
    Server& l_server = mp_setup->Link();
    l_server.Connect();
    QVERIFY(m_events.isEmpty());
    QCOMPARE(l_server.GetState(), Server::State::Disconnected);

    QVERIFY(mp_setup->LogIn());
    l_server.Connect();
    QTest::qWait(50);
    QCOMPARE(m_events, (QStringList{"Connecting", "Connected"}));
    QCOMPARE(mp_setup->m_fake.ConnectionCount(), 1);
}

void TestServerConnection::RefusedLoginReportsReasonAndStops_data()
{
    QTest::addColumn<QString>("reason");
    QTest::newRow("password") << "INVALIDPASS";
    QTest::newRow("user name") << "INVALIDUSERNAME";
    QTest::newRow("other") << "SERVER FULL";
}

void TestServerConnection::RefusedLoginReportsReasonAndStops()
{
    QFETCH(QString, reason);
    Server& l_server = mp_setup->Link();
    mp_setup->m_fake.RefuseLogins(reason.toStdString());
    Settings::Set("username", "alice");
    l_server.Connect();
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "ConnectionFailed:" + reason}));
    QCOMPARE(l_server.GetState(), Server::State::Disconnected);
    QVERIFY(!l_server.IsAbruptlyDisconnected());
    // The link closed the connection and tries nothing by itself.
    QTRY_COMPARE(mp_setup->m_fake.ClientCount(), 0);
    Fire(mp_setup->mp_timers->m_everyHalfMinute);
    QTest::qWait(50);
    QCOMPARE(mp_setup->m_fake.ConnectionCount(), 1);
    QCOMPARE(m_events.size(), 2);
}

void TestServerConnection::UnreachableServerFailsThenDisconnects()
{
    Server& l_server = mp_setup->Link();
    l_server.SetServerAddress("127.0.0.1", ClosedLoopbackPort());
    Settings::Set("username", "alice");
    l_server.Connect();
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "ConnectionFailed:socket error", "Disconnected"}));
    QCOMPARE(l_server.GetState(), Server::State::Disconnected);
    // A failure of an attempt the user asked for is not retried.
    Fire(mp_setup->mp_timers->m_everyHalfMinute);
    QCOMPARE(m_events.size(), 3);
    // A new attempt is possible at once.
    l_server.SetServerAddress("127.0.0.1", mp_setup->m_fake.Port());
    l_server.Connect();
    QTRY_VERIFY(l_server.IsConnected());
}

void TestServerConnection::SilentServerTimesOut()
{
    Server& l_server = mp_setup->Link();
    l_server.SetAttemptTimeouts(3000, 150);
    mp_setup->m_fake.SetSilentLogin(true);
    Settings::Set("username", "alice");
    l_server.Connect();
    QVERIFY(mp_setup->m_fake.WaitFor(1));
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "ConnectionFailed:socket error", "Disconnected"}));
    QCOMPARE(l_server.GetState(), Server::State::Disconnected);
    QTRY_COMPARE(mp_setup->m_fake.ClientCount(), 0);
}

void TestServerConnection::RequestsDroppedUnlessLoggedIn()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    std::vector<std::tuple<unsigned, std::string, bool>> l_searches;
    connect(&l_server, &Server::SearchRequested, this,
            [&](unsigned i_token, std::string i_text, bool i_wish) { l_searches.emplace_back(i_token, i_text, i_wish); });

    auto l_sendAll = [&]() {
        l_server.SetWaitPort(2235, 8973);
        l_server.GetUserAddress("bob");
        l_server.SendCantConnectToPeer(4, "bob");
        l_server.AddUser("carol");
        l_server.SendFilesFolders(3, 40);
        l_server.GetUserStats("carol");
        l_server.SendUploadSpeed(1000);
        l_server.GetOwnPrivilegesStatus();
        l_server.GetRoomList();
        l_server.EnterRoom("lobby");
        l_server.SendRoomChat("lobby", "hi");
        l_server.SendPrivateChat("bob", "hi");
        return std::make_pair(l_server.FileSearch("abba", false), l_server.SendIndirectConnectionRequest("bob", "P", {}));
    };

    // Disconnected: nothing reaches the server, but the search item, the
    // address request and the search counter are made all the same.
    auto l_tokens = l_sendAll();
    QCOMPARE(l_tokens.first, 1u);
    QVERIFY(l_tokens.second != 0);
    ItemPtr l_request = d.GetType("search_request")->HasItem("1");
    QVERIFY(!l_request.IsNull());
    QCOMPARE(l_request["search_request_text"].AsString(), std::string("abba"));
    QVERIFY(!l_request.IsConnected("wishlist_search"));
    QCOMPARE(l_searches.size(), std::size_t(1));
    QCOMPARE(l_searches[0], std::make_tuple(1u, std::string("abba"), false));
    QVERIFY(d.GetType("user")->HasItem("bob").IsConnected("user_address_request"));

    // Logging in: still dropped while the login is unanswered.
    l_fake.SetSilentLogin(true);
    Settings::Set("username", "alice");
    l_server.Connect();
    QVERIFY(l_fake.WaitFor(1));
    l_tokens = l_sendAll();
    QCOMPARE(l_tokens.first, 2u);
    QVERIFY(l_tokens.second != 0);
    QTest::qWait(100);
    QCOMPARE(l_fake.m_received.size(), 1);

    // Logged in: every request goes out, the search under the next token.
    QVERIFY(l_fake.SendToLatest(1, WireWriter().U8(1).Str("").U32(0).Str("").U8(0)));
    QTRY_VERIFY(l_server.IsConnected());
    l_fake.ClearReceived();
    QCOMPARE(l_server.FileSearch("", true), 3u);
    const unsigned l_relayToken = l_server.SendIndirectConnectionRequest("bob", "F", {});
    QVERIFY(l_fake.WaitFor(18));
    QCOMPARE(l_fake.Received(103).size(), 1);
    QCOMPARE(l_fake.Received(103).front().m_payload, QByteArray(WireWriter().U32(3).Str("")));
    QCOMPARE(l_fake.Received(18).front().m_payload, QByteArray(WireWriter().U32(l_relayToken).Str("bob").Str("F")));
    QVERIFY(d.GetType("search_request")->HasItem("3").IsConnected("wishlist_search"));
    QCOMPARE(d.GetType("search_request")->HasItem("3")["search_request_text"].AsString(), std::string());
    QCOMPARE(l_searches.back(), std::make_tuple(3u, std::string(), true));
}

void TestServerConnection::ConnectedComesBeforeAfterLoginWork()
{
    Server& l_server = mp_setup->Link();
    d.GetType("room")->GetItem("lobby") += d.GetType("room_autojoin")->GetGlobalNullItem();
    connect(&l_server, &Server::Connected, this, [&]() {
        QVERIFY(l_server.IsConnected());
        l_server.SetWaitPort(2235, 8973);
    });
    QVERIFY(mp_setup->LogIn());
    QVERIFY(mp_setup->m_fake.WaitFor(14));
    QList<quint32> l_codes;
    for (const auto& l_message : mp_setup->m_fake.m_received)
        l_codes << l_message.m_code;
    QCOMPARE(l_codes, (QList<quint32>{1, 2, 14}));
    QCOMPARE(mp_setup->m_fake.Received(2).front().m_payload, QByteArray(WireWriter().U32(2235).U32(1).U32(8973)));
}

void TestServerConnection::AfterLoginWorkRepeatsAtEveryLogin()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    Type* lp_room = d.GetType("room");
    ItemPtr l_autojoin = d.GetType("room_autojoin")->GetGlobalNullItem();
    lp_room->GetItem("lobby") += l_autojoin;
    lp_room->GetItem("music") += l_autojoin;
    lp_room->GetItem("elsewhere");
    l_server.TrackUser("carol");
    l_server.TrackUser("carol");
    l_server.GetUserAddress("dave");
    l_server.GetUserAddress("dave");
    QVERIFY(d.GetType("user")->HasItem("carol").IsConnected("is_tracked"));

    for (int l_login = 0; l_login < 2; ++l_login) {
        l_fake.ClearReceived();
        QVERIFY(mp_setup->LogIn());
        QVERIFY(l_fake.WaitFor(3));
        QVERIFY(l_fake.WaitFor(14, 2));
        QVERIFY(l_fake.WaitFor(5));
        QTest::qWait(50);
        QSet<QByteArray> l_joined;
        for (const auto& l_message : l_fake.Received(14))
            l_joined << l_message.m_payload;
        QCOMPARE(l_joined, (QSet<QByteArray>{WireWriter().Str("lobby"), WireWriter().Str("music")}));
        QCOMPARE(l_fake.Received(5).size(), 1);
        QCOMPARE(l_fake.Received(5).front().m_payload, QByteArray(WireWriter().Str("carol")));
        QCOMPARE(l_fake.Received(3).size(), 1);
        QCOMPARE(l_fake.Received(3).front().m_payload, QByteArray(WireWriter().Str("dave")));
        // The fake knows no dave: its answer carries address 0 and ends the
        // pending request, so the next login must be given a new one.
        QTRY_VERIFY(!d.GetType("user")->HasItem("dave").IsConnected("user_address_request"));
        QCOMPARE(d.GetType("user")->HasItem("dave")["user_address"].AsString(), std::string("0"));
        l_server.Disconnect();
        l_server.GetUserAddress("dave");
        QVERIFY(d.GetType("user")->HasItem("dave").IsConnected("user_address_request"));
    }
}

void TestServerConnection::DisconnectWhileLoggedIn()
{
    Server& l_server = mp_setup->Link();
    l_server.Disconnect();
    QVERIFY(m_events.isEmpty());

    QVERIFY(mp_setup->LogIn());
    ItemPtr l_room = d.GetType("room")->GetItem("lobby");
    ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    ItemPtr l_carol = d.GetType("user")->GetItem("carol");
    l_room += d.GetType("in_room")->GetGlobalNullItem();
    l_room += l_bob;
    l_bob += d.GetType("is_online")->GetGlobalNullItem();
    l_carol += d.GetType("is_online")->GetGlobalNullItem();
    l_bob += d.GetType("country_code")->GetItem("NL");

    bool l_onlineAtSignal = false;
    connect(&l_server, &Server::Disconnected, this, [&]() {
        l_onlineAtSignal = l_bob.IsConnected("is_online");
        QVERIFY(!l_server.IsConnected());
    });
    l_server.Disconnect();
    QCOMPARE(m_events, (QStringList{"Connecting", "Connected", "Disconnected"}));
    QVERIFY(l_onlineAtSignal);
    QVERIFY(!l_bob.IsConnected("is_online"));
    QVERIFY(!l_carol.IsConnected("is_online"));
    QVERIFY(l_room.IsConnected("in_room"));
    QVERIFY(l_room.IsConnected(l_bob));
    QCOMPARE(l_bob["country_code"].AsString(), std::string("NL"));
    QVERIFY(!l_server.IsAbruptlyDisconnected());
    QTRY_COMPARE(mp_setup->m_fake.ClientCount(), 0);

    Fire(mp_setup->mp_timers->m_everyHalfMinute);
    QTest::qWait(50);
    QCOMPARE(mp_setup->m_fake.ConnectionCount(), 1);
    QCOMPARE(m_events.size(), 3);
}

void TestServerConnection::DisconnectEndsAttemptsAndRetries_data()
{
    QTest::addColumn<int>("stage");
    QTest::addColumn<QStringList>("signalled");
    const QStringList l_disconnected{"Disconnected"};
    QTest::newRow("connecting") << int(Stage::Connecting) << l_disconnected;
    QTest::newRow("logging in") << int(Stage::LoggingIn) << l_disconnected;
    // Nothing is open between retries: the loss was signalled already.
    QTest::newRow("between retries") << int(Stage::BetweenRetries) << QStringList();
    QTest::newRow("retry connecting") << int(Stage::RetryConnecting) << l_disconnected;
    QTest::newRow("retry logging in") << int(Stage::RetryLoggingIn) << l_disconnected;
}

void TestServerConnection::DisconnectEndsAttemptsAndRetries()
{
    QFETCH(int, stage);
    QFETCH(QStringList, signalled);
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    QTimer& l_tick = mp_setup->mp_timers->m_everyHalfMinute;
    const Stage l_stage = Stage(stage);
    const bool l_retrying = l_stage != Stage::Connecting && l_stage != Stage::LoggingIn;
    const bool l_loggingIn = l_stage == Stage::LoggingIn || l_stage == Stage::RetryLoggingIn;
    if (l_retrying)
        LoseLoggedInLink();
    Settings::Set("username", "alice");
    l_fake.SetSilentLogin(true);
    const int l_logins = l_fake.CountOf(1);
    if (l_stage == Stage::Connecting || l_stage == Stage::LoggingIn)
        l_server.Connect();
    else if (l_stage != Stage::BetweenRetries)
        Fire(l_tick);
    if (l_loggingIn) {
        QVERIFY(l_fake.WaitFor(1, l_logins + 1));
        QCOMPARE(l_server.GetState(), Server::State::LoggingIn);
    } else if (l_stage != Stage::BetweenRetries) {
        QCOMPARE(l_server.GetState(), Server::State::Connecting);
    }

    m_events.clear();
    l_server.Disconnect();
    QCOMPARE(m_events, signalled);
    QCOMPARE(l_server.GetState(), Server::State::Disconnected);
    QVERIFY(!l_server.IsAbruptlyDisconnected());
    // No deadline of the ended attempt is left to report later.
    QVERIFY(!l_server.AttemptTimed());

    // No login follows a connection that the system completed anyway, and
    // no tick retries.
    QTest::qWait(300);
    QTRY_COMPARE(l_fake.ClientCount(), 0);
    const int l_connections = l_fake.ConnectionCount();
    Fire(l_tick);
    QTest::qWait(50);
    QCOMPARE(m_events, signalled);
    QCOMPARE(l_fake.ConnectionCount(), l_connections);
    QCOMPARE(l_fake.CountOf(1), l_loggingIn ? l_logins + 1 : l_logins);

    // The user may connect again at once.
    l_fake.SetSilentLogin(false);
    l_server.Connect();
    QTRY_VERIFY(l_server.IsConnected());
}

void TestServerConnection::AbruptLossRetriesOnTheHalfMinuteTick()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    QTimer& l_tick = mp_setup->mp_timers->m_everyHalfMinute;
    QVERIFY(mp_setup->LogIn());
    // Ticks while logged in do nothing.
    Fire(l_tick);
    QCOMPARE(l_fake.ConnectionCount(), 1);

    ItemPtr l_room = d.GetType("room")->GetItem("lobby");
    ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    l_room += d.GetType("in_room")->GetGlobalNullItem();
    l_room += l_bob;
    l_bob += d.GetType("is_online")->GetGlobalNullItem();

    l_fake.DropClient("alice");
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "Connected", "Disconnected"}));
    QVERIFY(l_server.IsAbruptlyDisconnected());
    QVERIFY(!l_bob.IsConnected("is_online"));
    QVERIFY(l_room.IsConnected("in_room"));
    QVERIFY(l_room.IsConnected(l_bob));

    // The server is away: each tick makes one attempt, reported as a socket
    // error, and the flag stays.
    const quint16 l_port = l_fake.Port();
    l_fake.Stop();
    l_server.SetServerAddress("127.0.0.1", ClosedLoopbackPort());
    m_events.clear();
    for (int l_attempt = 1; l_attempt <= 2; ++l_attempt) {
        Fire(l_tick);
        QTRY_COMPARE(m_events.size(), 3 * l_attempt);
        QVERIFY(l_server.IsAbruptlyDisconnected());
    }
    QCOMPARE(m_events, (QStringList{"Connecting", "ConnectionFailed:socket error", "Disconnected", "Connecting",
                                    "ConnectionFailed:socket error", "Disconnected"}));

    // The server is back: the next tick logs in again and the link does its
    // after-login work.
    QVERIFY(l_fake.Start());
    Q_UNUSED(l_port);
    l_server.SetServerAddress("127.0.0.1", l_fake.Port());
    m_events.clear();
    Fire(l_tick);
    QTRY_VERIFY(l_server.IsConnected());
    QVERIFY(!l_server.IsAbruptlyDisconnected());
    QCOMPARE(m_events, (QStringList{"Connecting", "Connected"}));
}

void TestServerConnection::RetryLostBeforeTheLoginAnswerKeepsRetrying_data()
{
    QTest::addColumn<int>("loss");
    QTest::newRow("dropped as it is accepted") << int(Loss::DroppedAtAccept);
    QTest::newRow("dropped as the login arrives") << int(Loss::DroppedAtLogin);
    QTest::newRow("login unanswered until the timeout") << int(Loss::LoginUnanswered);
}

void TestServerConnection::RetryLostBeforeTheLoginAnswerKeepsRetrying()
{
    QFETCH(int, loss);
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    QTimer& l_tick = mp_setup->mp_timers->m_everyHalfMinute;
    LoseLoggedInLink();
    // Only the unanswered login ends on its deadline, kept short so that
    // the attempts take little time; a connection the server drops ends
    // the attempt long before the login's deadline.
    l_server.SetAttemptTimeouts(3000, Loss(loss) == Loss::LoginUnanswered ? 150 : 3000);

    // A server that is restarting: it takes connections and lets them go.
    bool l_restarting = true;
    if (Loss(loss) == Loss::DroppedAtAccept) {
        connect(&l_fake, &FakeCentralServer::ClientConnected, this, [&]() {
            if (l_restarting)
                l_fake.DropClient();
        });
    } else if (Loss(loss) == Loss::DroppedAtLogin) {
        connect(&l_fake, &FakeCentralServer::MessageReceived, this, [&](QString, quint32 i_code) {
            if (l_restarting && i_code == 1)
                l_fake.DropClient();
        });
    } else {
        l_fake.SetSilentLogin(true);
    }

    m_events.clear();
    for (int l_attempt = 1; l_attempt <= 3; ++l_attempt) {
        Fire(l_tick);
        QTRY_COMPARE(m_events.size(), 3 * l_attempt);
        QCOMPARE(m_events.mid(3 * (l_attempt - 1)),
                 (QStringList{"Connecting", "ConnectionFailed:socket error", "Disconnected"}));
        QCOMPARE(l_fake.ConnectionCount(), 1 + l_attempt);
        QVERIFY(l_server.IsAbruptlyDisconnected());
    }

    // The server is up again: the next tick logs in and ends the retries.
    l_restarting = false;
    l_fake.SetSilentLogin(false);
    l_server.SetAttemptTimeouts(3000, 3000);
    Fire(l_tick);
    QTRY_VERIFY(l_server.IsConnected());
    QVERIFY(!l_server.IsAbruptlyDisconnected());
    Fire(l_tick);
    QTest::qWait(50);
    QCOMPARE(l_fake.ConnectionCount(), 5);
}

void TestServerConnection::RefusalAfterAbruptLossEndsRetries()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    LoseLoggedInLink();
    l_fake.RefuseLogins("INVALIDPASS");
    m_events.clear();
    bool l_flagAtRefusal = true;
    connect(&l_server, &Server::ConnectionFailed, this, [&]() { l_flagAtRefusal = l_server.IsAbruptlyDisconnected(); });
    Fire(mp_setup->mp_timers->m_everyHalfMinute);
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "ConnectionFailed:INVALIDPASS"}));
    // The attempt reached the server, so the refusal is reported as such.
    QVERIFY(!l_flagAtRefusal);
    Fire(mp_setup->mp_timers->m_everyHalfMinute);
    QTest::qWait(50);
    QCOMPARE(l_fake.ConnectionCount(), 2);
}

void TestServerConnection::OversizedFrameIsAProtocolError()
{
    Server& l_server = mp_setup->Link();
    QVERIFY(mp_setup->LogIn());
    QVERIFY(mp_setup->m_fake.SendRaw("alice", WireWriter().U32(64u * 1024u * 1024u + 1).U32(13)));
    QTRY_VERIFY(!l_server.IsConnected());
    QCOMPARE(m_events.back(), QString("Disconnected"));
    QVERIFY(l_server.IsAbruptlyDisconnected());
    QTRY_COMPARE(mp_setup->m_fake.ClientCount(), 0);
}

void TestServerConnection::PortForwardingFollowsUseUpnp()
{
    Server& l_server = mp_setup->Link();
    int l_inits = 0;
    l_server.SetPortForwarder(std::make_unique<CountingForwarder>(&l_inits));
    Settings::Set("use_upnp", "no");
    QVERIFY(mp_setup->LogIn());
    Fire(mp_setup->mp_timers->m_everyHour);
    QCOMPARE(l_inits, 0);
    l_server.Disconnect();

    Settings::Set("use_upnp", "yes");
    Settings::Set("username", "alice");
    l_server.Connect();
    QCOMPARE(l_inits, 1);
    QTRY_VERIFY(l_server.IsConnected());
    QCOMPARE(l_inits, 2);
    Fire(mp_setup->mp_timers->m_everyHour);
    QCOMPARE(l_inits, 3);
}

void TestServerConnection::DataLoadedDefaultsUseUpnp()
{
    QVERIFY(mp_setup->mp_saver->m_dataLoadedEventHandlers.count(mp_setup->mp_server.get()));
    mp_setup->mp_saver->EmitDataLoaded();
    QCOMPARE(Settings::Get("use_upnp"), std::string("yes"));
    Settings::Set("use_upnp", "no");
    mp_setup->Link().DataLoaded();
    QCOMPARE(Settings::Get("use_upnp"), std::string("no"));
    // A setting item without a value counts as absent.
    d.GetType("global")->GetItem("use_upnp").Disconnect("global_value");
    mp_setup->Link().DataLoaded();
    QCOMPARE(Settings::Get("use_upnp"), std::string("yes"));
}

QTEST_GUILESS_MAIN(TestServerConnection)
#include "tst_serverconnection.moc"
