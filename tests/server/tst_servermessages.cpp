// Every message layout both ways, and what the answers do to the items.
#include "ServerTestSetup.h"
#include "WireBytes.h"

#include "core/io/Stream.h"
#include "core/log/LogService.h"
#include "server/ServerFrameReader.h"

#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <map>
#include <string>

namespace {

// Writes down connections made and broken on items of the watched types, as
// "user+user_port:2235" (type of the watched item, sign, partner type and
// value), until told to stop. A type watched with a name is watched on the
// item of that name only.
class ConnectionRecorder : public DataHandler
{
public:
    void Watch(const char* ip_type, const std::string& i_only = {})
    {
        Type* lp_type = d.GetType(ip_type);
        lp_type->ItemsConnectedEvent.m_handlerSet.insert(MakeHandler(&ConnectionRecorder::OnConnected));
        lp_type->ItemsDisconnectedEvent.m_handlerSet.insert(MakeHandler(&ConnectionRecorder::OnDisconnected));
        if (!i_only.empty())
            m_only[ip_type] = i_only;
    }
    void Stop() { m_stopped = true; }

    QStringList m_lines;

private:
    void OnConnected(ConnectionInfo i_info) { Add(i_info, "+"); }
    void OnDisconnected(ConnectionInfo i_info) { Add(i_info, "-"); }
    void Add(const ConnectionInfo& i_info, const char* ip_sign)
    {
        const auto l_only = m_only.find(i_info.mp_item1->mp_type->m_name);
        if (m_stopped || (l_only != m_only.end() && l_only->second != i_info.mp_item1->m_value))
            return;
        m_lines << QString::fromStdString(i_info.mp_item1->mp_type->m_name + ip_sign + i_info.mp_item2->mp_type->m_name + ":"
                                          + i_info.mp_item2->m_value);
    }

    std::map<std::string, std::string> m_only;
    bool m_stopped = false;
};

// Null-safe: a room never heard of is in no room.
bool InRoom(const char* ip_room)
{
    ItemPtr l_room = d.GetType("room")->HasItem(ip_room);
    return !l_room.IsNull() && l_room.IsConnected("in_room");
}

ItemPtr User(const char* ip_name)
{
    return d.GetType("user")->HasItem(ip_name);
}

QByteArray Stats(qint32 i_speed, qint64 i_downloads, qint32 i_files, qint32 i_folders)
{
    return WireWriter().I32(i_speed).I64(i_downloads).I32(i_files).I32(i_folders);
}

}  // namespace

class TestServerMessages : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void RequestLayouts();
    void RelayTokensCannotBeGuessed_data();
    void RelayTokensCannotBeGuessed();
    void LeaveRoomOnlyWhileInRoom();
    void UserAddressAnswer();
    void AnUnansweredLookUpIsAskedAgainAfterItsWait();
    void AddUserAnswerDrivesOnlineFlag();
    void UserStatusDrivesOnlineAndPrivileged();
    void StatusIsOnlineReportedOfflineOrUnknown_data();
    void StatusIsOnlineReportedOfflineOrUnknown();
    void RoomChatComesBackToEveryMember();
    void JoinRoomRebuildsMembers();
    void JoinRoomWithUnequalListsIsIgnored();
    void LeaveRoomAndMemberMoves();
    void StoppedServerForgetsItsClientsInRooms();
    void RelayedConnectionRequest();
    void PrivateMessageIsSignalledAndAcknowledged();
    void PrivateMessageIsNotEchoedToTheSender();
    void NamelessSenderOrMember_data();
    void NamelessSenderOrMember();
    void StatisticsRoomListPrivilegesAndFailures();
    void DistributedMessagesPassUnparsed();
    void MalformedFramesKeepTheStream();
    void LargestFrameAndTheNextOnePassIntact();
    void RandomPayloadsNeverBreakTheLink();

private:
    void Send(quint32 i_code, const QByteArray& i_payload);
    // Waits until everything sent so far has been handled.
    void Sync();

    std::unique_ptr<ServerTestSetup> mp_setup;
    quint32 m_syncToken = 0xF0000000;
    quint32 m_lastFailure = 0;
    quint64 m_logStart = 0;
};

void TestServerMessages::init()
{
    mp_setup = std::make_unique<ServerTestSetup>();
    m_logStart = GetLogHistory().LastSequence();
    connect(mp_setup->mp_server.get(), &Server::IndirectPeerConnectionFailure, this,
            [this](unsigned i_token) { m_lastFailure = i_token; });
    QVERIFY(mp_setup->LogIn());
}

void TestServerMessages::cleanup()
{
    mp_setup.reset();
}

void TestServerMessages::Send(quint32 i_code, const QByteArray& i_payload)
{
    QVERIFY(mp_setup->m_fake.Send("alice", i_code, i_payload));
}

void TestServerMessages::Sync()
{
    const quint32 l_token = ++m_syncToken;
    Send(1001, WireWriter().U32(l_token));
    QTRY_COMPARE(m_lastFailure, l_token);
}

void TestServerMessages::RequestLayouts()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    QVERIFY(l_fake.WaitFor(1));
    l_fake.ClearReceived();
    l_server.SetWaitPort(2235, 8973);
    l_server.GetUserAddress("bob");
    l_server.SendCantConnectToPeer(77, "bob");
    l_server.AddUser("carol");
    l_server.SendFilesFolders(3, 40);
    l_server.GetUserStats("carol");
    l_server.SendUploadSpeed(123456);
    l_server.GetOwnPrivilegesStatus();
    l_server.GetRoomList();
    l_server.EnterRoom("lobby");
    l_server.SendRoomChat("lobby", "h\xc3\xa9llo");
    l_server.SendPrivateChat("bob", "psst");
    l_server.FileSearch("abba gold", false);
    l_server.FileSearch("abba gold", true);
    const quint32 l_relayToken = l_server.SendIndirectConnectionRequest("bob", "P", {});
    QVERIFY(l_fake.WaitFor(18));

    const QList<QPair<quint32, QByteArray>> l_expected{
        {2, WireWriter().U32(2235).U32(1).U32(8973)},
        {3, WireWriter().Str("bob")},
        {1001, WireWriter().U32(77).Str("bob")},
        {5, WireWriter().Str("carol")},
        {35, WireWriter().U32(3).U32(40)},
        {36, WireWriter().Str("carol")},
        {121, WireWriter().U32(123456)},
        {92, QByteArray()},
        {64, QByteArray()},
        {14, WireWriter().Str("lobby")},
        {13, WireWriter().Str("lobby").Str("h\xc3\xa9llo")},
        {22, WireWriter().Str("bob").Str("psst")},
        {26, WireWriter().U32(1).Str("abba gold")},
        {103, WireWriter().U32(2).Str("abba gold")},
        {18, WireWriter().U32(l_relayToken).Str("bob").Str("P")},
    };
    QCOMPARE(l_fake.m_received.size(), l_expected.size());
    for (int l_index = 0; l_index < l_expected.size(); ++l_index) {
        QCOMPARE(l_fake.m_received[l_index].m_code, l_expected[l_index].first);
        QCOMPARE(l_fake.m_received[l_index].m_payload, l_expected[l_index].second);
    }
    // Both searches share one text item; each has its own request.
    ItemPtr l_first = d.GetType("search_request")->HasItem("1");
    ItemPtr l_second = d.GetType("search_request")->HasItem("2");
    QCOMPARE(l_first["search_request_text"].Get(), l_second["search_request_text"].Get());
    QVERIFY(!l_first.IsConnected("wishlist_search"));
    QVERIFY(l_second.IsConnected("wishlist_search"));
    // The relayed request was logged.
    QCOMPARE(LogLinesSince("server", m_logStart).filter("Sent indirect connection request to bob").size(), 1);
}

// The user the server relays our request to answers with the token alone:
// a token that follows from the ones seen before, or that repeats one still
// waiting, lets a stranger answer in the user's place.
void TestServerMessages::RelayTokensCannotBeGuessed_data()
{
    QTest::addColumn<QString>("inUse");
    QTest::newRow("the outstanding ones") << "outstanding";
    QTest::newRow("all but one in four") << "three in four";
}

void TestServerMessages::RelayTokensCannotBeGuessed()
{
    QFETCH(QString, inUse);
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    QVERIFY(l_fake.WaitFor(1));
    l_fake.ClearReceived();
    QSet<quint32> l_outstanding{1, 2, 3};
    const RelayToken::InUse l_inUse = [&](quint32 i_token) {
        return inUse == "outstanding" ? l_outstanding.contains(i_token) : i_token % 4 != 1;
    };

    constexpr int Requests = 50;
    QList<quint32> l_tokens;
    for (int l_index = 0; l_index < Requests; ++l_index) {
        const quint32 l_token = l_server.SendIndirectConnectionRequest("bob", "P", l_inUse);
        QVERIFY2(l_token != 0 && !l_inUse(l_token), qPrintable(QString::number(l_token)));
        l_outstanding.insert(l_token);
        l_tokens.append(l_token);
    }
    QVERIFY(l_fake.WaitFor(18, Requests));
    const QList<FakeCentralServer::Message> l_sent = l_fake.Received(18);
    QCOMPARE(l_sent.size(), Requests);
    for (int l_index = 0; l_index < Requests; ++l_index)
        QCOMPARE(l_sent[l_index].m_payload, QByteArray(WireWriter().U32(l_tokens[l_index]).Str("bob").Str("P")));
    QCOMPARE(QSet<quint32>(l_tokens.begin(), l_tokens.end()).size(), Requests);
    for (int l_index = 1; l_index < Requests; ++l_index) {
        const qint64 l_step = qint64(l_tokens[l_index]) - qint64(l_tokens[l_index - 1]);
        QVERIFY2(l_step != 1 && l_step != -1, qPrintable(QString("%1 then %2").arg(l_tokens[l_index - 1]).arg(l_tokens[l_index])));
    }
}

void TestServerMessages::LeaveRoomOnlyWhileInRoom()
{
    Server& l_server = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    l_server.LeaveRoom("lobby");
    d.GetType("room")->GetItem("lobby");
    l_server.LeaveRoom("lobby");
    l_server.EnterRoom("lobby");
    QTRY_VERIFY(InRoom("lobby"));
    l_server.LeaveRoom("lobby");
    QVERIFY(l_fake.WaitFor(15));
    QCOMPARE(l_fake.CountOf(15), 1);
    QCOMPARE(l_fake.Received(15).front().m_payload, QByteArray(WireWriter().Str("lobby")));
    QTRY_VERIFY(!InRoom("lobby"));
}

void TestServerMessages::UserAddressAnswer()
{
    // The fake server answers the request as well, after what is sent to
    // the link here: bob's changes are recorded until the sync mark, which
    // the link reads after this answer and before the fake server's.
    ConnectionRecorder l_recorder;
    l_recorder.Watch("user", "bob");
    const QMetaObject::Connection l_mark = connect(mp_setup->mp_server.get(), &Server::IndirectPeerConnectionFailure,
                                                   this, [&l_recorder] { l_recorder.Stop(); });
    mp_setup->Link().GetUserAddress("bob");
    l_recorder.m_lines.clear();

    // 192.168.0.1 travels with its first octet in the most significant byte.
    Send(3, WireWriter().Str("bob").U32(0xC0A80001).U32(2235).U32(1).U32(8973));
    Sync();
    disconnect(l_mark);
    // The address goes in last, so that whoever waits for all three finds
    // them once, with this answer's ports.
    QCOMPARE(l_recorder.m_lines, (QStringList{"user+user_port:2235", "user+user_obfuscated_port:8973",
                                              "user+user_address:3232235521", "user-user_address_request:"}));

    // No obfuscated port, zero values: stored as "0", each replacing the old
    // (and the fake server's answer, which it sent once it had the request).
    QVERIFY(mp_setup->m_fake.WaitFor(3));
    Send(3, WireWriter().Str("bob").U32(0).U32(0));
    Sync();
    QCOMPARE(User("bob")["user_address"].AsString(), std::string("0"));
    QCOMPARE(User("bob")["user_port"].AsString(), std::string("0"));
    QCOMPARE(User("bob")["user_obfuscated_port"].AsString(), std::string("0"));
    QCOMPARE(User("bob").GetItems("user_port").size(), std::size_t(1));

    // An answer for a user never asked about creates the user; a partial
    // obfuscation tail is a broken answer and changes nothing.
    Send(3, WireWriter().Str("carol").U32(5).U32(6).U32(1));
    Send(3, WireWriter().Str("dave").U32(7).U32(8));
    Sync();
    QVERIFY(User("carol").IsNull());
    QCOMPARE(User("dave")["user_port"].AsString(), std::string("8"));
}

// One look-up of a user goes while its answer is due. One the server left
// unanswered is asked again once its wait is over, and after an answer the
// next look-up goes at once. A look-up of a new user after bob's marks what
// the server has received by then.
void TestServerMessages::AnUnansweredLookUpIsAskedAgainAfterItsWait()
{
    Server& l_link = mp_setup->Link();
    FakeCentralServer& l_fake = mp_setup->m_fake;
    l_fake.LeaveAddressUnanswered("bob");
    qint64 l_now = 5000;
    l_link.SetClock([&] { return l_now; });
    auto l_lookUps = [&](const QByteArray& i_of) {
        const QList<FakeCentralServer::Message> l_received = l_fake.Received(3);
        return int(std::count_if(l_received.begin(), l_received.end(),
                                 [&](const FakeCentralServer::Message& i_message) { return i_message.m_payload == i_of; }));
    };
    int l_marks = 0;
    auto l_lookUpsOfBob = [&] {
        const std::string l_mark = "mark" + std::to_string(++l_marks);
        l_link.GetUserAddress(l_mark);
        if (!QTest::qWaitFor([&] { return l_lookUps(WireWriter().Str(l_mark)) == 1; }))
            return -1;
        return l_lookUps(WireWriter().Str("bob"));
    };

    l_link.GetUserAddress("bob");
    l_link.GetUserAddress("bob");
    QCOMPARE(l_lookUpsOfBob(), 1);
    l_now += Server::AddressAnswerWaitMs - 1;
    l_link.GetUserAddress("bob");
    QCOMPARE(l_lookUpsOfBob(), 1);
    l_now += 1;
    l_link.GetUserAddress("bob");
    l_link.GetUserAddress("bob");
    QCOMPARE(l_lookUpsOfBob(), 2);

    Send(3, WireWriter().Str("bob").U32(0x7F000002).U32(2234));
    Sync();
    QVERIFY(!User("bob").IsConnected("user_address_request"));
    l_link.GetUserAddress("bob");
    QCOMPARE(l_lookUpsOfBob(), 3);
}

void TestServerMessages::AddUserAnswerDrivesOnlineFlag()
{
    QList<QPair<std::string, bool>> l_answers;
    connect(mp_setup->mp_server.get(), &Server::AddUserResponse, this,
            [&](std::string i_user, bool i_exists) { l_answers.append({i_user, i_exists}); });
    auto l_online = [](const char* ip_user) { return User(ip_user).IsConnected("is_online"); };

    Send(5, WireWriter().Str("bob").U8(1).U32(2).Raw(Stats(10, 20, 30, 40)).Str("NL"));
    Send(5, WireWriter().Str("carol").U8(1).U32(1).Raw(Stats(1, 2, 3, 4)));
    Sync();
    QVERIFY(l_online("bob"));
    QVERIFY(l_online("carol"));

    Send(5, WireWriter().Str("bob").U8(1).U32(0).Raw(Stats(10, 20, 30, 40)));
    Send(5, WireWriter().Str("carol").U8(0));
    Send(5, WireWriter().Str("nobody").U8(0));
    Sync();
    QVERIFY(!l_online("bob"));
    QVERIFY(!l_online("carol"));
    QVERIFY(User("nobody").IsNull());

    // Name and flag are enough for the signal; a broken rest changes no flag.
    Send(5, WireWriter().Str("dave").U8(1).U32(2));
    Sync();
    QVERIFY(User("dave").IsNull());
    QCOMPARE(l_answers, (QList<QPair<std::string, bool>>{
                            {"bob", true}, {"carol", true}, {"bob", true}, {"carol", false}, {"nobody", false}, {"dave", true}}));

    // TrackUser's question is answered the same way, through the fake.
    mp_setup->m_fake.AddKnownUser("erin", FakeCentralServer::KnownUser());
    mp_setup->Link().TrackUser("erin");
    QTRY_VERIFY(l_online("erin"));
    QCOMPARE(l_answers.back(), qMakePair(std::string("erin"), true));
}

void TestServerMessages::UserStatusDrivesOnlineAndPrivileged()
{
    Send(7, WireWriter().Str("bob").U32(1).U8(1));
    Sync();
    QVERIFY(User("bob").IsConnected("is_online"));
    QVERIFY(User("bob").IsConnected("is_privileged"));
    Send(7, WireWriter().Str("bob").U32(0).U8(0));
    Sync();
    QVERIFY(!User("bob").IsConnected("is_online"));
    QVERIFY(!User("bob").IsConnected("is_privileged"));
    Send(7, WireWriter().Str("carol").U32(0).U8(0));
    Send(7, WireWriter().Str("dave").U32(2));
    Sync();
    QVERIFY(User("carol").IsNull());
    QVERIFY(User("dave").IsNull());
}

// What the server last said of a user since the login: "7+" and "7-" are
// status messages, "5+", "5-" and "5?" answers to a look-up (online,
// offline, no such user); "lost" is the server dropping the link, "end" the
// user ending it, "login" logging in again.
void TestServerMessages::StatusIsOnlineReportedOfflineOrUnknown_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("status");
    QTest::newRow("nothing said") << QStringList{} << "unknown";
    QTest::newRow("status online") << QStringList{"7+"} << "online";
    QTest::newRow("status offline") << QStringList{"7-"} << "offline";
    QTest::newRow("look-up online") << QStringList{"5+"} << "online";
    QTest::newRow("look-up offline") << QStringList{"5-"} << "offline";
    QTest::newRow("no such user") << QStringList{"5?"} << "offline";
    QTest::newRow("offline, then online") << QStringList{"7-", "5+"} << "online";
    QTest::newRow("online, then offline") << QStringList{"5+", "7-"} << "offline";
    QTest::newRow("online, link lost") << QStringList{"7+", "lost"} << "unknown";
    QTest::newRow("offline, link lost") << QStringList{"7-", "lost"} << "unknown";
    QTest::newRow("offline, link ended") << QStringList{"7-", "end"} << "unknown";
    QTest::newRow("lost, logged in again") << QStringList{"7-", "lost", "login"} << "unknown";
    QTest::newRow("lost, logged in, told again") << QStringList{"7-", "lost", "login", "7-"} << "offline";
}

void TestServerMessages::StatusIsOnlineReportedOfflineOrUnknown()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, status);
    // A user the link follows, as it follows those it looked up.
    ItemPtr l_bob = d.GetType("user")->GetItem("bob");
    for (const QString& l_step : steps) {
        if (l_step == "lost") {
            mp_setup->m_fake.DropClient("alice");
            QTRY_VERIFY(!mp_setup->Link().IsConnected());
        } else if (l_step == "end") {
            mp_setup->Link().Disconnect();
        } else if (l_step == "login") {
            QVERIFY(mp_setup->LogIn());
        } else if (l_step.startsWith('7')) {
            Send(7, WireWriter().Str("bob").U32(l_step.endsWith('+') ? 2 : 0).U8(0));
        } else if (l_step.endsWith('?')) {
            Send(5, WireWriter().Str("bob").U8(0));
        } else {
            Send(5, WireWriter().Str("bob").U8(1).U32(l_step.endsWith('+') ? 2 : 0).Raw(Stats(1, 2, 3, 4)));
        }
    }
    if (mp_setup->Link().IsConnected())
        Sync();
    const bool l_online = l_bob.IsConnected("is_online");
    const bool l_offline = l_bob.IsConnected("is_offline");
    QVERIFY(!(l_online && l_offline));
    QCOMPARE(l_online ? "online" : l_offline ? "offline" : "unknown", status);
}

void TestServerMessages::RoomChatComesBackToEveryMember()
{
    QList<QStringList> l_lines;
    connect(mp_setup->mp_server.get(), &Server::RoomChat, this, [&](std::string i_room, std::string i_user, std::string i_text) {
        l_lines.append({QString::fromStdString(i_room), QString::fromStdString(i_user), QString::fromStdString(i_text)});
    });
    Server& l_server = mp_setup->Link();
    l_server.EnterRoom("lobby");
    QTRY_VERIFY(InRoom("lobby"));
    l_server.SendRoomChat("lobby", "gr\xc3\xbc\xc3\x9f dich");
    QTRY_COMPARE(l_lines.size(), 1);
    QCOMPARE(l_lines[0], (QStringList{"lobby", "alice", QString::fromUtf8("gr\xc3\xbc\xc3\x9f dich")}));
    // Lines of any room reach the signal.
    Send(13, WireWriter().Str("other").Str("bob").Str(""));
    Sync();
    QCOMPARE(l_lines.size(), 2);
    QCOMPARE(l_lines[1], (QStringList{"other", "bob", ""}));
}

void TestServerMessages::JoinRoomRebuildsMembers()
{
    ItemPtr l_room = d.GetType("room")->GetItem("lobby");
    ItemPtr l_stale = d.GetType("user")->GetItem("stale");
    l_room += l_stale;
    ConnectionRecorder l_recorder;
    l_recorder.Watch("room");
    l_recorder.Watch("user");

    WireWriter l_join;
    l_join.Str("lobby")
        .U32(2).Str("bob").Str("carol")
        .U32(2).U32(2).U32(1)
        .U32(2).Raw(Stats(1500, 9, 120, 4)).Raw(Stats(-1, 0, 0, 0))
        .U32(2).U32(0).U32(1)
        .U32(2).Str("DE").Str("");
    Send(14, l_join);
    Sync();
    // Each member has its figures before it joins the room.
    QCOMPARE(l_recorder.m_lines,
             (QStringList{"room+in_room:", "room-user:stale", "user-room:lobby", "user+average_download_speed:1500",
                          "user+shared_files_count:120", "user+country_code:DE", "room+user:bob", "user+room:lobby",
                          "user+average_download_speed:-1", "user+shared_files_count:0", "user+country_code:",
                          "room+user:carol", "user+room:lobby"}));
    QCOMPARE(l_room.GetItems("user").size(), std::size_t(2));
    // The member list says nothing about the online flag.
    QVERIFY(!User("bob").IsConnected("is_online"));

    // Joining again replaces members and figures.
    Send(14, WireWriter().Str("lobby").U32(1).Str("carol").U32(1).U32(2).U32(1).Raw(Stats(7, 0, 8, 0)).U32(1).U32(0).U32(1).Str("FR"));
    Sync();
    QCOMPARE(l_room.GetItems("user").size(), std::size_t(1));
    QCOMPARE(User("carol")["average_download_speed"].AsString(), std::string("7"));
    QCOMPARE(User("carol")["shared_files_count"].AsString(), std::string("8"));
    QCOMPARE(User("carol")["country_code"].AsString(), std::string("FR"));
    QCOMPARE(User("carol").GetItems("country_code").size(), std::size_t(1));
}

void TestServerMessages::JoinRoomWithUnequalListsIsIgnored()
{
    Send(14, WireWriter().Str("lobby").U32(2).Str("bob").Str("carol").U32(1).U32(2).U32(1).Raw(Stats(1, 1, 1, 1)).U32(1).U32(0)
                 .U32(1).Str(""));
    Send(14, WireWriter().Str("music").U32(0).U32(0).U32(0).U32(0));
    Sync();
    QVERIFY(!InRoom("lobby"));
    QVERIFY(User("bob").IsNull());
    QVERIFY(!InRoom("music"));
    // An empty room with five empty lists is a valid join.
    Send(14, WireWriter().Str("music").U32(0).U32(0).U32(0).U32(0).U32(0));
    Sync();
    QVERIFY(InRoom("music"));
}

void TestServerMessages::LeaveRoomAndMemberMoves()
{
    ItemPtr l_room = d.GetType("room")->GetItem("lobby");
    l_room += d.GetType("room_autojoin")->GetGlobalNullItem();
    Send(14, WireWriter().Str("lobby").U32(1).Str("bob").U32(1).U32(2).U32(1).Raw(Stats(1, 1, 1, 1)).U32(1).U32(0).U32(1).Str("NL"));
    Sync();
    User("bob") += d.GetType("average_download_speed")->GetItem("1");

    // A member joins: given the three figures, each replacing the old one,
    // then connected (bob already is).
    ConnectionRecorder l_recorder;
    l_recorder.Watch("user");
    Send(16, WireWriter().Str("lobby").Str("bob").U32(2).Raw(Stats(99, 5, 6, 7)).U32(0).Str("BE"));
    Send(16, WireWriter().Str("lobby").Str("carol").U32(2).Raw(Stats(1, 2, 3, 4)).U32(1).Str("SE"));
    Sync();
    QCOMPARE(l_recorder.m_lines,
             (QStringList{"user-average_download_speed:1", "user+average_download_speed:99", "user-shared_files_count:1",
                          "user+shared_files_count:6", "user-country_code:NL", "user+country_code:BE",
                          "user+average_download_speed:1", "user+shared_files_count:3", "user+country_code:SE",
                          "user+room:lobby"}));
    QVERIFY(l_room.IsConnected(User("carol")));

    // A member leaves; an unknown room or user changes nothing.
    Send(17, WireWriter().Str("lobby").Str("bob"));
    Send(17, WireWriter().Str("nowhere").Str("carol"));
    Send(17, WireWriter().Str("lobby").Str("nobody"));
    Sync();
    QVERIFY(!l_room.IsConnected(User("bob")));
    QVERIFY(l_room.IsConnected(User("carol")));
    QVERIFY(d.GetType("room")->HasItem("nowhere").IsNull());

    // Leaving: in_room first, then every member; the autojoin mark stays.
    l_recorder.Watch("room");
    l_recorder.m_lines.clear();
    Send(15, WireWriter().Str("lobby"));
    Send(15, WireWriter().Str("nowhere"));
    Sync();
    QCOMPARE(l_recorder.m_lines.first(), QString("room-in_room:"));
    QVERIFY(l_recorder.m_lines.contains("room-user:carol"));
    QVERIFY(l_room.GetItems("user").empty());
    QVERIFY(l_room.IsConnected("room_autojoin"));
    QVERIFY(d.GetType("room")->HasItem("nowhere").IsNull());
}

void TestServerMessages::StoppedServerForgetsItsClientsInRooms()
{
    // Tests restart the fake server under a logged-in link: a client that
    // Stop dropped must not stay a member, or its join after the restart is
    // announced to nobody.
    FakeCentralServer& l_fake = mp_setup->m_fake;
    l_fake.AddRoomMember("lobby", "bob");
    mp_setup->Link().EnterRoom("lobby");
    QTRY_VERIFY(InRoom("lobby"));
    QCOMPARE(l_fake.RoomMembers("lobby"), (std::set<std::string>{"alice", "bob"}));
    l_fake.Stop();
    QCOMPARE(l_fake.RoomMembers("lobby"), std::set<std::string>{"bob"});
    QTRY_VERIFY(!mp_setup->Link().IsConnected());
}

void TestServerMessages::RelayedConnectionRequest()
{
    ConnectionRecorder l_recorder;
    l_recorder.Watch("peer_connection_request");
    l_recorder.Watch("user");
    Send(18, WireWriter().Str("bob").Str("P").U32(0x7F000001).U32(2234).U32(55).U8(1).U32(1).U32(2235));
    Sync();
    QCOMPARE(l_recorder.m_lines,
             (QStringList{"peer_connection_request+peer_connection_request_id:55", "peer_connection_request+peer_connection_type:P",
                          "peer_connection_request+user:bob", "user+peer_connection_request:", "user+user_port:2234",
                          "user+user_obfuscated_port:2235", "user+user_address:2130706433"}));

    // Without the obfuscated pair the port is "0"; every relay makes its own
    // request item.
    Send(18, WireWriter().Str("bob").Str("F").U32(0x7F000001).U32(2234).U32(56).U8(0));
    Sync();
    QCOMPARE(User("bob")["user_obfuscated_port"].AsString(), std::string("0"));
    QCOMPARE(User("bob").GetItems("peer_connection_request").size(), std::size_t(2));
    QCOMPARE(d.GetType("peer_connection_request")->ItemCount(), std::size_t(2));
}

void TestServerMessages::PrivateMessageIsSignalledAndAcknowledged()
{
    struct Line
    {
        std::string m_user, m_text;
        time_t m_time;
        bool m_new;
    };
    QList<Line> l_lines;
    connect(mp_setup->mp_server.get(), &Server::PrivateChat, this,
            [&](std::string i_user, std::string i_text, time_t i_time, bool i_new) { l_lines.append({i_user, i_text, i_time, i_new}); });
    Send(22, WireWriter().U32(41).U32(1700000000).Str("bob").Str("hello there").U8(1));
    Send(22, WireWriter().U32(42).U32(1600000000).Str("carol").Str("old news").U8(0));
    QVERIFY(mp_setup->m_fake.WaitFor(23, 2));
    QCOMPARE(l_lines.size(), 2);
    QCOMPARE(l_lines[0].m_user, std::string("bob"));
    QCOMPARE(l_lines[0].m_text, std::string("hello there"));
    QCOMPARE(l_lines[0].m_time, time_t(1700000000));
    QVERIFY(l_lines[0].m_new);
    QVERIFY(!l_lines[1].m_new);
    QCOMPARE(mp_setup->m_fake.m_acknowledgedMessageIds, (std::set<quint32>{41, 42}));
    // No chat lines are kept as items.
    QVERIFY(User("bob").IsNull());
}

void TestServerMessages::PrivateMessageIsNotEchoedToTheSender()
{
    int l_received = 0;
    connect(mp_setup->mp_server.get(), &Server::PrivateChat, this, [&]() { ++l_received; });
    // A line to oneself comes back once, as the other end; a line to someone
    // else does not come back at all.
    mp_setup->Link().SendPrivateChat("bob", "to bob");
    mp_setup->Link().SendPrivateChat("alice", "to me");
    QVERIFY(mp_setup->m_fake.WaitFor(23));
    Sync();
    QCOMPARE(l_received, 1);
}

void TestServerMessages::NamelessSenderOrMember_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QByteArray>("payload");
    // The members of "lobby" afterwards, as "name:country".
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<bool>("acknowledged");
    QTest::newRow("private message") << quint32(22) << QByteArray(WireWriter().U32(77).U32(1700000000).Str("").Str("hi").U8(1))
                                     << QStringList{"bob:NL"} << true;
    QTest::newRow("room chat") << quint32(13) << QByteArray(WireWriter().Str("lobby").Str("").Str("hi")) << QStringList{"bob:NL"}
                               << false;
    const QByteArray l_stats = Stats(1, 1, 1, 1);
    QTest::newRow("user joins") << quint32(16) << QByteArray(WireWriter().Str("lobby").Str("").U32(2).Raw(l_stats).U32(0).Str("SE"))
                                << QStringList{"bob:NL"} << false;
    QTest::newRow("join answer") << quint32(14)
                                 << QByteArray(WireWriter().Str("lobby").U32(3).Str("bob").Str("").Str("carol").U32(3).U32(2).U32(2).U32(2)
                                                   .U32(3).Raw(l_stats).Raw(l_stats).Raw(l_stats).U32(3).U32(0).U32(0).U32(0)
                                                   .U32(3).Str("BE").Str("SE").Str("FR"))
                                 << QStringList{"bob:BE", "carol:FR"} << false;
}

// Only a faulty server names nobody; such a line or member is dropped.
void TestServerMessages::NamelessSenderOrMember()
{
    QFETCH(quint32, code);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, members);
    QFETCH(bool, acknowledged);
    int l_lines = 0;
    connect(mp_setup->mp_server.get(), &Server::RoomChat, this, [&]() { ++l_lines; });
    connect(mp_setup->mp_server.get(), &Server::PrivateChat, this, [&]() { ++l_lines; });
    Send(14, WireWriter().Str("lobby").U32(1).Str("bob").U32(1).U32(2).U32(1).Raw(Stats(1, 1, 1, 1)).U32(1).U32(0).U32(1).Str("NL"));
    Send(code, payload);
    Sync();
    QCOMPARE(l_lines, 0);
    QStringList l_members;
    for (Item* lp_user : d.GetType("room")->HasItem("lobby").GetItems("user"))
        l_members << QString::fromStdString(lp_user->m_value + ":" + ItemPtr(lp_user)["country_code"].AsString());
    l_members.sort();
    QCOMPARE(l_members, members);
    QVERIFY(User("").IsNull());
    if (acknowledged) {
        QVERIFY(mp_setup->m_fake.WaitFor(23));
        QCOMPARE(mp_setup->m_fake.m_acknowledgedMessageIds, std::set<quint32>{77});
    }
    QCOMPARE(LogLinesSince("server", m_logStart).filter("Private message without a sender ignored").size(), acknowledged ? 1 : 0);
}

void TestServerMessages::StatisticsRoomListPrivilegesAndFailures()
{
    Server& l_server = mp_setup->Link();
    QList<QPair<std::string, UserStats>> l_stats;
    connect(&l_server, &Server::ReceivedUserStats, this, [&](std::string i_user, UserStats i_stats) { l_stats.append({i_user, i_stats}); });
    QList<int> l_privileges;
    QList<std::string> l_storedAtSignal;
    connect(&l_server, &Server::ReceivedOwnPrivilegesStatus, this, [&](int i_seconds) {
        l_privileges << i_seconds;
        l_storedAtSignal << Settings::Get("privileges_time_left");
    });
    QList<unsigned> l_intervals;
    connect(&l_server, &Server::WishListIntervalReceived, this, [&](unsigned i_seconds) { l_intervals << i_seconds; });

    Send(36, WireWriter().Str("bob").I32(-5).I64(Q_INT64_C(5000000000)).I32(7).I32(8));
    Send(64, WireWriter().U32(2).Str("lobby").Str("music").U32(2).U32(12).U32(0));
    Send(92, WireWriter().U32(3600));
    Send(92, WireWriter().U32(0xFFFFFFFF));
    Send(104, WireWriter().U32(720));
    Send(1001, WireWriter().U32(9));
    QTRY_COMPARE(m_lastFailure, 9u);

    QCOMPARE(l_stats.size(), 1);
    QCOMPARE(l_stats[0].first, std::string("bob"));
    QCOMPARE(l_stats[0].second.m_averageDownloadSpeed, -5);
    QCOMPARE(l_stats[0].second.m_downloadCount, Q_INT64_C(5000000000));
    QCOMPARE(l_stats[0].second.m_sharedFiles, 7);
    QCOMPARE(l_stats[0].second.m_sharedFolders, 8);
    QCOMPARE(d.GetType("room")->HasItem("lobby")["user_count"].AsString(), std::string("12"));
    QCOMPARE(d.GetType("room")->HasItem("music")["user_count"].AsString(), std::string("0"));
    QCOMPARE(l_privileges, (QList<int>{3600, std::numeric_limits<int>::max()}));
    QCOMPARE(l_storedAtSignal, (QList<std::string>{"3600", "4294967295"}));
    QCOMPARE(l_intervals, QList<unsigned>{720});

    // A new count replaces the old one; unequal lists change nothing.
    Send(64, WireWriter().U32(1).Str("lobby").U32(1).U32(13));
    Send(64, WireWriter().U32(1).Str("music").U32(0));
    Sync();
    QCOMPARE(d.GetType("room")->HasItem("lobby").GetItems("user_count").size(), std::size_t(1));
    QCOMPARE(d.GetType("room")->HasItem("lobby")["user_count"].AsString(), std::string("13"));
    QCOMPARE(d.GetType("room")->HasItem("music")["user_count"].AsString(), std::string("0"));

    // Through the fake: the privileges question is answered.
    mp_setup->m_fake.SetPrivilegeSeconds(60);
    l_server.GetOwnPrivilegesStatus();
    QTRY_COMPARE(l_privileges.size(), 3);
    QCOMPARE(Settings::Get("privileges_time_left"), std::string("60"));
}

void TestServerMessages::DistributedMessagesPassUnparsed()
{
    QList<QPair<quint32, QByteArray>> l_messages;
    connect(mp_setup->mp_server.get(), &Server::DistributedNetworkMessage, this,
            [&](quint32 i_code, QByteArray i_payload) { l_messages.append({i_code, i_payload}); });
    Send(93, QByteArray("\x03\x00\xff", 3));
    Send(102, QByteArray());
    Send(130, WireWriter().U32(1).Str("x"));
    Sync();
    QCOMPARE(l_messages, (QList<QPair<quint32, QByteArray>>{
                             {93, QByteArray("\x03\x00\xff", 3)}, {102, QByteArray()}, {130, WireWriter().U32(1).Str("x")}}));
}

void TestServerMessages::MalformedFramesKeepTheStream()
{
    QList<std::string> l_chat;
    connect(mp_setup->mp_server.get(), &Server::RoomChat, this, [&](std::string, std::string, std::string i_text) { l_chat << i_text; });
    const quint32 l_over = InputStream::MaxCount + 1;
    Send(13, WireWriter().Str("lobby").Str("bob"));
    Send(13, WireWriter().Str("lobby").Str("bob").U32(l_over).Raw(QByteArray(64, 'z')));
    Send(14, WireWriter().Str("lobby").U32(0xFFFFFFFF));
    Send(14, WireWriter().Str("lobby").U32(100000).Str("a"));
    Send(3, WireWriter().U32(50));
    Send(22, WireWriter().U32(1));
    Send(1, WireWriter().U8(0).Str("INVALIDPASS"));
    Send(9999, QByteArray(10, '\0'));
    Send(64, QByteArray());
    Send(13, WireWriter().Str("lobby").Str("bob").Str("still here"));
    Sync();
    QCOMPARE(l_chat, QList<std::string>{"still here"});
    QVERIFY(mp_setup->Link().IsConnected());
    QVERIFY(d.GetType("room")->HasItem("lobby").IsNull());
    QCOMPARE(mp_setup->m_fake.CountOf(23), 0);
    const QStringList l_log = LogLinesSince("server", m_logStart);
    QCOMPARE(l_log.filter("Malformed server message 13 ignored").size(), 2);
    QCOMPARE(l_log.filter("Malformed server message 14 ignored").size(), 2);
    QCOMPARE(l_log.filter("Unknown server message 9999 skipped").size(), 1);
}

void TestServerMessages::LargestFrameAndTheNextOnePassIntact()
{
    QList<std::string> l_chat;
    connect(mp_setup->mp_server.get(), &Server::RoomChat, this, [&](std::string, std::string i_user, std::string i_text) {
        l_chat << i_user + ":" + i_text;
    });
    // Bytes after the fields are ignored: they fill the frame to the limit.
    const QByteArray l_fields = WireWriter().Str("lobby").Str("bob").Str("big");
    const qsizetype l_filler = qsizetype(ServerFrameReader::MaxFrameLength) - 4 - l_fields.size();
    QByteArray l_bytes = WireWriter::Frame(13, l_fields + QByteArray(l_filler, 'f'));
    QCOMPARE(l_bytes.size(), qsizetype(ServerFrameReader::MaxFrameLength) + 4);
    // The next frame follows in the same write, so that it shares a read
    // with the big one's last bytes.
    l_bytes += WireWriter::Frame(13, WireWriter().Str("lobby").Str("carol").Str("small"));
    QVERIFY(mp_setup->m_fake.SendRaw("alice", l_bytes));
    l_bytes.clear();
    QTRY_COMPARE_WITH_TIMEOUT(l_chat.size(), 2, 20000);
    QCOMPARE(l_chat, (QList<std::string>{"bob:big", "carol:small"}));
    QVERIFY(mp_setup->Link().IsConnected());
}

void TestServerMessages::RandomPayloadsNeverBreakTheLink()
{
    QRandomGenerator l_random(20240611);
    const QList<quint32> l_codes{1, 3, 5, 7, 13, 14, 15, 16, 17, 18, 22, 36, 64, 92, 104, 1001, 4242};
    mp_setup->Link().GetUserAddress("bob");
    for (int l_round = 0; l_round < 400; ++l_round) {
        QByteArray l_payload(int(l_random.bounded(40)), '\0');
        for (char& l_byte : l_payload)
            l_byte = char(l_random.bounded(4) == 0 ? 0xFF : l_random.bounded(4));
        Send(l_codes[int(l_random.bounded(l_codes.size()))], l_payload);
    }
    Sync();
    QVERIFY(mp_setup->Link().IsConnected());
    QList<std::string> l_chat;
    connect(mp_setup->mp_server.get(), &Server::RoomChat, this, [&](std::string, std::string, std::string i_text) { l_chat << i_text; });
    Send(13, WireWriter().Str("r").Str("u").Str("after"));
    QTRY_COMPARE(l_chat, QList<std::string>{"after"});
}

QTEST_GUILESS_MAIN(TestServerMessages)
#include "tst_servermessages.moc"
