// Reaching a user: the relayed request and the direct socket of one attempt,
// their successes and failures.
#include "LoopbackPorts.h"
#include "PeerSignalCatcher.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include "server/Server.h"

#include <QTcpSocket>
#include <QtTest>


namespace
{
// A loopback address that is no user's.
constexpr quint32 ElsewhereAddress = 0x7F000009;
// The line of the first answer refused in a world.
const QString RefusedAnswer("Connections that answered a relayed request with a token not ours, or no longer live, "
                            "closed (said once a minute).");

QByteArray Direct(const std::string& i_user, const std::string& i_type)
{
    return WireWriter().U8(1).Str(i_user).Str(i_type).U32(0);
}

QByteArray Indirect(quint32 i_token)
{
    return WireWriter().U8(0).U32(i_token);
}

MemStream Message(quint32 i_code)
{
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(i_code));
    return l_message;
}

void Attempt(PeerTestWorld& io_world, const QString& i_type)
{
    if (i_type == "P") {
        MemStream l_message = Message(4);
        io_world.Messenger().SendMessage("bob", l_message);
    } else if (i_type == "F") {
        io_world.Messenger().RequestFileConnectionToUser("bob");
    } else {
        io_world.Messenger().RequestDNetConnection("bob");
    }
}

ItemPtr OnlyItem(const char* ip_type)
{
    const ItemSet l_items = d.GetType(ip_type)->GetItems();
    return l_items.size() == 1 ? ItemPtr(l_items) : ItemPtr();
}

std::string Status(ItemPtr i_request)
{
    return i_request["connect_to_peer_request_status"].AsString();
}

}

class TestPeerReach : public QObject
{
    Q_OBJECT

private slots:
    void aDirectAttemptToAKnownAddress_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("P plain") << "P" << false;
        QTest::newRow("P obfuscated") << "P" << true;
        QTest::newRow("F") << "F" << false;
        QTest::newRow("D obfuscated") << "D" << true;
    }
    void aDirectAttemptToAKnownAddress()
    {
        QFETCH(QString, type);
        QFETCH(bool, obfuscated);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        int l_failures = 0;
        QObject::connect(&l_world.Messenger(), &PeerMessenger::FileConnectionFailed, [&] { ++l_failures; });
        l_world.Load();
        FakePeer l_plain;
        FakePeer l_masked;
        QVERIFY(l_plain.Listen() && l_masked.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_plain.Port(), obfuscated ? l_masked.Port() : 0);

        Attempt(l_world, type);
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));
        QCOMPARE(l_world.m_requests.m_relayed.front().m_type, type.toStdString());
        QVERIFY(l_world.m_requests.m_addressRequests.empty());
        ItemPtr l_request = OnlyItem("connect_to_peer_request");
        ItemPtr l_direct = OnlyItem("connect_to_peer_request_socket");
        ItemPtr l_relayed = OnlyItem("indirect_connect_to_peer_request");
        QVERIFY(l_request && l_direct && l_relayed);
        QCOMPARE(Status(l_request), std::string("connecting"));
        QVERIFY(l_request["connect_to_peer_request_socket"] == l_direct);
        QVERIFY(l_request["indirect_connect_to_peer_request"] == l_relayed);
        const unsigned int l_token = l_world.m_requests.m_relayed.front().m_token;
        QCOMPARE(l_relayed.AsString(), std::to_string(l_token));
        const std::string l_stamp = l_world.m_now.toString(Qt::TextDate).toStdString();
        QCOMPARE(l_relayed["send_time"].AsString(), l_stamp);
        QCOMPARE(l_direct["socket_creation_time"].AsString(), l_stamp);
        QCOMPARE(l_direct["user"].AsString(), std::string("bob"));
        QCOMPARE(l_direct["peer_connection_type"].AsString(), type.toStdString());
        QCOMPARE(l_direct.IsConnected("is_obfuscated"), obfuscated);

        FakePeerConnection* lp_far = (obfuscated ? l_masked : l_plain).WaitForConnection(obfuscated);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), Direct("me", type.toStdString()));
        if (type == "P") {
            // The message that asked for the connection follows its first frame.
            QVERIFY(lp_far->WaitForFrames(2));
            QCOMPARE(lp_far->Frames().at(1), QByteArray(WireWriter().U32(4)));
            ItemPtr l_socket = OnlyItem("peer_socket");
            QCOMPARE(l_socket["user"].AsString(), std::string("bob"));
            QCOMPARE(l_socket.IsConnected("is_obfuscated"), obfuscated);
            QCOMPARE(l_socket.AsObject<QTcpSocket>()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
        } else {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal,
                     std::string(type == "F" ? "FileConnectionAccepted" : "DNetConnectionAccepted"));
            QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("bob"));
        }
        // The attempt is over; its relayed request stays, on its own, for
        // the user's answer.
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 1);
        QVERIFY(!OnlyItem("indirect_connect_to_peer_request")["connect_to_peer_request"]);
        const QStringList l_lines = l_world.LogTexts();
        QVERIFY(l_lines.contains(QString("Direct connection of type %1 to user bob successful").arg(type)));
        QVERIFY(l_lines.contains(QString("Disposing of peer connection request of type %1 to user bob").arg(type)));

        // The server's late failure report ends it, and nothing else.
        l_world.ClearLog();
        emit gp_server->IndirectPeerConnectionFailure(l_token);
        QCOMPARE(l_world.LogTexts(), QStringList{QString("Indirect connection of type %1 to user bob failed").arg(type)});
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        // A connection that was made is no failure of a file connection.
        PeerTestWorld::Settle(20);
        QCOMPARE(l_failures, 0);
    }

    void oneAttemptPerUserAndType()
    {
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        // The link would offer these: a token in use is passed over.
        l_world.m_requests.m_candidates = {5, 5, 6, 5, 6, 7};
        l_world.Messenger().RequestDNetConnection("zed");
        QVERIFY(d.GetType("user")->HasItem("zed"));
        l_world.ClearLog();
        l_world.Messenger().RequestDNetConnection("zed");
        QCOMPARE(l_world.LogTexts(), (QStringList{"Attempting peer connection of type D to user zed",
                                                  "Connection attempt to same user of same type already in progress, not re-attempting."}));
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));

        // Another type is another attempt, under a token of its own.
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.Messenger().RequestDNetConnection("bob");
        l_world.Messenger().RequestFileConnectionToUser("bob");
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(3));
        const std::vector<std::pair<std::string, std::string>> l_expected{{"5", "zed D"}, {"6", "bob D"}, {"7", "bob F"}};
        for (const auto& [l_token, l_userAndType] : l_expected) {
            ItemPtr l_relayed = d.GetType("indirect_connect_to_peer_request")->HasItem(l_token);
            QVERIFY2(l_relayed, l_token.c_str());
            QCOMPARE(l_relayed["user"].AsString() + " " + l_relayed["peer_connection_type"].AsString(), l_userAndType);
        }
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 2);
        QVERIFY(l_peer.WaitForConnection(false) && l_peer.WaitForConnection(false));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 2; }));
    }

    // However the attempt ended, a stranger's connection from elsewhere
    // bringing the token (guessed, or seen on its way) is refused, and
    // nothing meant for the user goes to it. A direct connection that won
    // ends nothing: the token lives on until it is answered, reported
    // failed or expired.
    void anAnswerAfterTheAttemptEndedIsRefused_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("end");
        QTest::newRow("P, direct connection made, then answered by the user") << "P" << "direct, answered";
        QTest::newRow("F, direct connection made, then reported failed") << "F" << "direct, failed";
        QTest::newRow("D, direct connection made, then expired") << "D" << "direct, expired";
        QTest::newRow("P, answered by the user") << "P" << "answered";
        QTest::newRow("F, answered by the user") << "F" << "answered";
        QTest::newRow("P, reported failed") << "P" << "failed";
        QTest::newRow("P, expired") << "P" << "expired";
    }
    void anAnswerAfterTheAttemptEndedIsRefused()
    {
        QFETCH(QString, type);
        QFETCH(QString, end);
        const QStringList l_steps = end.split(", ");
        PeerTestWorld l_world;
        // With no server to ask first, an attempt to a user of no known
        // address starts at once, and its relayed request with it.
        l_world.m_requests.m_canAskAddress = false;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_bob;
        if (l_steps.contains("direct")) {
            QVERIFY(l_bob.Listen());
            l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_bob.Port(), 0);
        }
        Attempt(l_world, type);
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));
        const quint32 l_token = l_world.m_requests.m_relayed.front().m_token;

        // Each of bob's connections is taken before the next step.
        int l_connections = 0;
        auto l_taken = [&] {
            ++l_connections;
            if (type == "P")
                return PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount("peer_socket") == l_connections; });
            return PeerTestWorld::WaitFor([&] { return int(l_catcher.m_handOvers.size()) == l_connections; });
        };
        if (l_steps.contains("direct")) {
            QVERIFY(l_bob.WaitForConnection(false));
            QVERIFY(l_taken());
        }
        if (l_steps.contains("answered")) {
            FakePeerConnection* lp_answer = l_bob.ConnectTo(l_world.PlainPort(), false);
            QVERIFY(lp_answer);
            lp_answer->SendFrame(Indirect(l_token));
            QVERIFY(l_taken());
        } else if (l_steps.contains("failed")) {
            emit gp_server->IndirectPeerConnectionFailure(l_token);
        } else if (l_steps.contains("expired")) {
            l_world.Advance(61000);
            l_world.Messenger().EveryHalfMinute();
        }
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        const int l_messaging = PeerTestWorld::ItemCount("peer_socket");
        // A message of an attempt that never connected still waits.
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), l_connections == 0 && type == "P" ? 1 : 0);

        FakePeer l_stranger;
        FakePeerConnection* lp_stranger = l_stranger.ConnectTo(l_world.PlainPort(), false, 5000, ElsewhereAddress);
        QVERIFY(lp_stranger);
        l_world.ClearLog();
        lp_stranger->SendFrame(Indirect(l_token));
        QVERIFY(lp_stranger->WaitForDisconnect());
        QVERIFY(l_world.LogTexts().contains(RefusedAnswer));
        QVERIFY(lp_stranger->Frames().isEmpty());
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), l_messaging);
        QCOMPARE(l_catcher.m_handOvers.size(), std::size_t(type == "P" ? 0 : l_connections));
    }

    // The user has our relayed request at the moment our direct attempt
    // reaches it, and answers both: the answer is one more connection of
    // the user's, read like any other, and what we send next goes on it,
    // the newest. The token alone finds the request: a user whose own
    // connections come from another address than the one the server gave
    // is taken too, and that address is logged beside the server's, once.
    // Once the request expired, or was answered, the answer is refused.
    void theUsersAnswerAfterTheDirectConnectionWonIsTaken_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("taken");
        QTest::newRow("P, from the user's address") << "P" << "address" << true;
        QTest::newRow("F, from the user's address") << "F" << "address" << true;
        QTest::newRow("P, from another address") << "P" << "elsewhere" << true;
        QTest::newRow("F, from another address") << "F" << "elsewhere" << true;
        QTest::newRow("P, after a minute") << "P" << "expired" << false;
        QTest::newRow("P, a second answer") << "P" << "twice" << false;
    }
    void theUsersAnswerAfterTheDirectConnectionWonIsTaken()
    {
        QFETCH(QString, type);
        QFETCH(QString, answer);
        QFETCH(bool, taken);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_bob;
        QVERIFY(l_bob.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_bob.Port(), 0);
        Attempt(l_world, type);
        const quint32 l_token = l_world.m_requests.m_relayed.front().m_token;
        FakePeerConnection* lp_direct = l_bob.WaitForConnection(false);
        QVERIFY(lp_direct);
        if (type == "P")
            QVERIFY(lp_direct->WaitForFrames(2));
        else
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
        if (answer == "expired") {
            l_world.Advance(61000);
            l_world.Messenger().EveryHalfMinute();
        }

        auto l_answer = [&] {
            FakePeerConnection* lp_answer = l_bob.ConnectTo(l_world.PlainPort(), false, 5000,
                                                            answer == "elsewhere" ? ElsewhereAddress : PeerTestWorld::Loopback);
            if (lp_answer)
                lp_answer->SendFrame(Indirect(l_token));
            return lp_answer;
        };
        FakePeerConnection* lp_answer = l_answer();
        QVERIFY(lp_answer);
        if (answer == "twice") {
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 2; }));
            lp_answer = l_answer();
            QVERIFY(lp_answer);
        }
        if (!taken) {
            QVERIFY(lp_answer->WaitForDisconnect());
            QVERIFY(l_world.LogTexts().contains(RefusedAnswer));
            QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), type == "P" ? (answer == "twice" ? 2 : 1) : 0);
            QCOMPARE(l_catcher.m_handOvers.size(), std::size_t(type == "P" ? 0 : 1));
            return;
        }
        QVERIFY(PeerTestWorld::WaitFor([&] {
            return l_world.LogTexts().contains(
                QString("Found req, accepted indirect connection to user bob, connection type %1").arg(type));
        }));
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        QCOMPARE(l_world.Count("User bob answered our relayed request from 127.0.0.9, the server gave 127.0.0.1"),
                 answer == "elsewhere" ? 1 : 0);
        if (type == "F") {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 2; }));
            QCOMPARE(l_catcher.m_handOvers.back().m_signal, std::string("FileConnectionAccepted"));
            QCOMPARE(l_catcher.m_handOvers.back().m_user, std::string("bob"));
            return;
        }
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 2; }));
        lp_answer->SendFrame(WireWriter().U32(52));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_NOTHING message from user bob") == 1; }));
        MemStream l_next = Message(36);
        l_world.Messenger().SendMessage("bob", l_next);
        QVERIFY(lp_answer->WaitForFrames(1));
        QCOMPARE(lp_answer->Frames().front(), QByteArray(WireWriter().U32(36)));
        QCOMPARE(lp_direct->Frames().size(), 2);
    }

    // The server gives an address where the user cannot be reached (a
    // router that spreads connections over two lines, a hairpin that keeps
    // the inside address, an address changed since it was looked up): our
    // direct attempt fails, and the user answers our relayed request from
    // another address of its own. The token alone finds the request: the
    // answer is the user's own connection, what waited goes on it, and so
    // does what we send next; both addresses are logged, once. A token that
    // is not ours, or no longer lives, gets nothing.
    void anAnswerFromAnotherAddressWhileOurAttemptWaits_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("token");
        QTest::newRow("P, our token") << "P" << "ours";
        QTest::newRow("F, our token") << "F" << "ours";
        QTest::newRow("P, a token not ours") << "P" << "not ours";
        QTest::newRow("P, our token expired") << "P" << "expired";
    }
    void anAnswerFromAnotherAddressWhileOurAttemptWaits()
    {
        QFETCH(QString, type);
        QFETCH(QString, token);
        constexpr quint32 GivenAddress = 0x7F000005;
        constexpr quint32 OwnAddress = 0x7F00000E;
        const QString l_addresses("User bob answered our relayed request from 127.0.0.14, the server gave 127.0.0.5");
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        l_world.GiveAddress("bob", GivenAddress, ClosedLoopbackPort(), 0);
        Attempt(l_world, type);
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return l_world.Count(QString("Direct connection of type %1 to user bob failed").arg(type)) == 1; }));
        const quint32 l_ours = l_world.m_requests.m_relayed.front().m_token;
        if (token == "expired") {
            l_world.Advance(61000);
            l_world.Messenger().EveryHalfMinute();
        }

        FakePeer l_bob;
        FakePeerConnection* lp_answer = l_bob.ConnectTo(l_world.PlainPort(), false, 5000, OwnAddress);
        QVERIFY(lp_answer);
        lp_answer->SendFrame(Indirect(token == "not ours" ? l_ours + 1 : l_ours));
        if (token != "ours") {
            QVERIFY(lp_answer->WaitForDisconnect());
            QVERIFY(l_world.LogTexts().contains(RefusedAnswer));
            QVERIFY(lp_answer->Frames().isEmpty());
            QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
            QCOMPARE(l_world.Count(l_addresses), 0);
            return;
        }
        if (type == "F") {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("FileConnectionAccepted"));
            QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("bob"));
            QCOMPARE(l_world.Count(l_addresses), 1);
            return;
        }
        // The message that asked for the connection waited for it.
        QVERIFY(lp_answer->WaitForFrames(1));
        QCOMPARE(lp_answer->Frames().front(), QByteArray(WireWriter().U32(4)));
        QCOMPARE(OnlyItem("peer_socket")["user"].AsString(), std::string("bob"));
        MemStream l_next = Message(36);
        l_world.Messenger().SendMessage("bob", l_next);
        QVERIFY(lp_answer->WaitForFrames(2));
        QCOMPARE(lp_answer->Frames().at(1), QByteArray(WireWriter().U32(36)));
        QCOMPARE(l_world.Count(l_addresses), 1);
    }

    void requestsWaitingForTheAddressStartWhenItArrives()
    {
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        // An address for a user nobody tries to reach starts nothing.
        l_world.GiveAddress("ann", PeerTestWorld::Loopback, 1, 0);
        QVERIFY(l_world.LogTexts().isEmpty());

        l_world.Messenger().RequestDNetConnection("bob");
        l_world.Messenger().RequestFileConnectionToUser("bob");
        QCOMPARE(l_world.m_requests.m_addressRequests, (std::vector<std::string>{"bob", "bob"}));
        QVERIFY(l_world.LogTexts().contains("User address not found, requesting address"));
        for (Item* lp_request : d.GetType("connect_to_peer_request")->GetItems())
            QCOMPARE(Status(lp_request), std::string("getting_address"));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);

        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.ClearLog();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        QCOMPARE(l_world.Count("User bob address arrived"), 1);
        QCOMPARE(l_world.Count("Attempting direct connection of type D"), 1);
        QCOMPARE(l_world.Count("Attempting direct connection of type F"), 1);
        for (Item* lp_request : d.GetType("connect_to_peer_request")->GetItems())
            QCOMPARE(Status(lp_request), std::string("connecting"));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 2);

        // The same answer again connects nothing new and starts nothing.
        l_world.ClearLog();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        QVERIFY(l_world.LogTexts().isEmpty());
        QVERIFY(l_peer.WaitForConnection(false) && l_peer.WaitForConnection(false));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 2; }));
    }

    void aRequestEndsWhenBothPathsHaveFailed()
    {
        PeerTestWorld l_world;
        l_world.Load();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
        l_world.Messenger().RequestDNetConnection("bob");
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Direct connection of type D to user bob failed") == 1; }));
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.mid(l_lines.indexOf("Direct connection of type D to user bob failed")),
                 (QStringList{"Direct connection of type D to user bob failed",
                              "Inspecting peer connection request of type D to user bob for possible removal.",
                              "Indirect request found. Not removing request."}));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
        l_world.Messenger().RequestDNetConnection("bob");
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(1));

        // A report for a token we never sent is ignored.
        const unsigned int l_token = l_world.m_requests.m_relayed.front().m_token;
        l_world.ClearLog();
        emit gp_server->IndirectPeerConnectionFailure(l_token + 1);
        QVERIFY(l_world.LogTexts().isEmpty());

        emit gp_server->IndirectPeerConnectionFailure(l_token);
        QCOMPARE(l_world.LogTexts(), (QStringList{"Indirect connection of type D to user bob failed",
                                                  "Inspecting peer connection request of type D to user bob for possible removal.",
                                                  "Neither socket nor indirect request found. Removing."}));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        l_world.Messenger().RequestDNetConnection("bob");
        QCOMPARE(l_world.m_requests.m_relayed.size(), std::size_t(2));
        QCOMPARE(OnlyItem("indirect_connect_to_peer_request").AsString(),
                 std::to_string(l_world.m_requests.m_relayed.back().m_token));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Direct connection of type D to user bob failed") == 1; }));
    }

    // The server answers the relayed request with its failure before it
    // answers the address request: the direct attempt still comes once the
    // address does, and an unknown address (0), or none within the minute
    // an attempt may last, ends the request.
    void aRelayedFailureBeforeTheAddressKeepsTheDirectAttempt_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("the address comes") << "known";
        QTest::newRow("the address is unknown") << "zero";
        QTest::newRow("no address comes") << "never";
    }
    void aRelayedFailureBeforeTheAddressKeepsTheDirectAttempt()
    {
        QFETCH(QString, address);
        PeerTestWorld l_world;
        // Logged in, a message waits for the look-up before any attempt;
        // here the attempt's own address question is the one answered.
        l_world.m_requests.m_canAskAddress = false;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        MemStream l_message = Message(36);
        l_world.Messenger().SendMessage("bob", l_message);
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        emit gp_server->IndirectPeerConnectionFailure(l_world.m_requests.m_relayed.front().m_token);
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);

        if (address == "never") {
            l_world.Advance(50000);
            l_world.Messenger().EveryHalfMinute();
            QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);
            l_world.Advance(10000);
            l_world.Messenger().EveryHalfMinute();
            QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
            QCOMPARE(l_world.Count("No address came for the connection of type P to bob, removing the request."), 1);
            return;
        }
        l_world.GiveAddress("bob", address == "known" ? PeerTestWorld::Loopback : 0, l_peer.Port(), 0);
        if (address == "zero") {
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("connect_to_peer_request") == 0; }));
            QVERIFY(l_world.LogTexts().contains("Direct connection of type P to user bob failed"));
            QVERIFY(l_peer.WaitForConnection(false, 100) == nullptr);
            return;
        }
        FakePeerConnection* lp_far = l_peer.WaitForConnection(false);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(2));
        QCOMPARE(lp_far->Frames().front(), Direct("me", "P"));
        QCOMPARE(lp_far->Frames().at(1), QByteArray(WireWriter().U32(36)));
        QCOMPARE(OnlyItem("peer_socket")["user"].AsString(), std::string("bob"));
    }

    void thePeerAnswersTheRelayedRequestAfterTheDirectPathFailed()
    {
        PeerTestWorld l_world;
        l_world.Load();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
        MemStream l_message = Message(36);
        l_world.Messenger().SendMessage("bob", l_message);
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Direct connection of type P to user bob failed") == 1; }));

        FakePeer l_peer;
        FakePeerConnection* lp_far = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_far);
        lp_far->SendFrame(WireWriter().U8(0).U32(l_world.m_requests.m_relayed.front().m_token));
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), QByteArray(WireWriter().U32(36)));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
        QCOMPARE(OnlyItem("peer_socket")["user"].AsString(), std::string("bob"));
    }

    void aZeroAddressOrPortFailsWithoutTouchingTheNetwork_data()
    {
        QTest::addColumn<bool>("zeroAddress");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("serverUp");
        QTest::newRow("address 0, asked again") << true << -1 << true;
        QTest::newRow("address 0, no server to ask") << true << -1 << false;
        QTest::newRow("port 0") << false << 0 << true;
        QTest::newRow("port 65536") << false << 65536 << true;
    }
    void aZeroAddressOrPortFailsWithoutTouchingTheNetwork()
    {
        QFETCH(bool, zeroAddress);
        QFETCH(int, port);
        QFETCH(bool, serverUp);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = serverUp;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", zeroAddress ? 0 : PeerTestWorld::Loopback, port < 0 ? l_peer.Port() : port, 0);
        l_world.Messenger().RequestDNetConnection("bob");
        if (zeroAddress && serverUp) {
            // An address of 0 known from before may be stale: it is asked
            // again, and the server's answer, 0 again, is taken.
            QCOMPARE(Status(OnlyItem("connect_to_peer_request")), std::string("getting_address"));
            QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
            l_world.GiveAddress("bob", 0, l_peer.Port(), 0);
        }
        // The caller returns with the attempt whole; the failure comes after.
        QCOMPARE(Status(OnlyItem("connect_to_peer_request")), std::string("connecting"));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 1);
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Direct connection of type D to user bob failed") == 1; }));
        QVERIFY(l_world.LogTexts().contains("Indirect request found. Not removing request."));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
        PeerTestWorld::Settle(50);
        QCOMPARE(l_peer.AcceptedCount(), 0);
    }

    void anErrorInsideConnectToHostTakesTheUsualFailurePath()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);

        // The socket of the attempt is watched from the moment its record
        // is made; an error is raised while it is being told to connect.
        PeerErrorWhileConnecting l_saboteur;
        d.GetType("connect_to_peer_request_socket")
            ->ItemAddedEvent.m_handlerSet.insert(l_saboteur.MakeHandler(&PeerErrorWhileConnecting::OnRecord));
        l_world.Messenger().RequestDNetConnection("bob");
        QCOMPARE(l_saboteur.m_stateAtRecord, QAbstractSocket::UnconnectedState);
        QVERIFY(l_saboteur.m_raised);

        // The failure arrived inside the call and found the attempt's records.
        QVERIFY(l_world.LogTexts().contains("Direct connection of type D to user bob failed"));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
        QVERIFY(l_world.LogTexts().contains("Indirect request found. Not removing request."));
        QCOMPARE(Status(OnlyItem("connect_to_peer_request")), std::string("connecting"));
        PeerTestWorld::Settle(50);
        QCOMPARE(l_peer.AcceptedCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerReach)
#include "tst_peer_reach.moc"
