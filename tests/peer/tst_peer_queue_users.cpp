// Messages held for the user's own connection: what a reset cut off in the
// middle of a flush reaches the user again, and while the server has not yet
// told a user's address, a connection under that name gets nothing. Held
// messages keep their order whatever the server answers and whenever, a
// server that never answers holds nothing for ever, and an answer of "no
// address" leaves the relayed request to decide.
#include "PeerSignalCatcher.h"
#include "PeerTestMessages.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "server/Server.h"

#include <QtTest>

namespace
{
// Loopback addresses of the user and of a namesake elsewhere.
constexpr quint32 UsersAddress = 0x7F000002;
constexpr quint32 Elsewhere = 0x7F000009;

using PeerTestMessages::Body;
using PeerTestMessages::Indirect;
using PeerTestMessages::Introduction;
using PeerTestMessages::Message;

void Send(PeerTestWorld& io_world, const std::string& i_user, quint32 i_code, const std::string& i_text = {})
{
    MemStream l_message = Message(i_code, i_text);
    io_world.Messenger().SendMessage(i_user, l_message);
}

// The token of the last relayed request of the type to the user; 0 when
// none went.
quint32 RelayedToken(const PeerTestWorld& i_world, const std::string& i_user, const std::string& i_type)
{
    quint32 l_token = 0;
    for (const FakePeerServerRequests::Relayed& l_relayed : i_world.m_requests.m_relayed) {
        if (l_relayed.m_user == i_user && l_relayed.m_type == i_type)
            l_token = l_relayed.m_token;
    }
    return l_token;
}
}

class TestPeerQueueUsers : public QObject
{
    Q_OBJECT

private slots:
    // The user resets the connection right after its introduction, while
    // what waited for it is being written: no attempt of ours stands any
    // more, yet the messages reach the user on a new connection, each once
    // and in order.
    void aFlushCutByTheUsersResetReachesTheUserAgain()
    {
        PeerTestWorld l_world;
        // With no server to ask, bob's name is all there is to go by: the
        // reset can take the connection's address with it before it is read.
        l_world.m_requests.m_canAskAddress = false;
        l_world.Load();
        for (const char* lp_text : {"one", "two", "three"}) {
            MemStream l_message = Message(36, lp_text);
            l_world.Messenger().SendMessage("bob", l_message);
        }
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        // The attempt ends with no address: nothing else would reach bob.
        l_world.Advance(61000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 3);

        RawClient l_cut;
        QVERIFY(l_cut.Connect(l_world.PlainPort()));
        QVERIFY(l_cut.Send(RawClient::Introduction("bob")));
        l_cut.Reset();
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Sending 3 pending peer messages to user bob") == 1; }));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.m_requests.m_addressRequests.size() == 2; }));

        FakePeer l_bob;
        QVERIFY(l_bob.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_bob.Port(), 0);
        FakePeerConnection* lp_far = l_bob.WaitForConnection(false);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(4));
        QCOMPARE(lp_far->Frames().mid(1), (QList<QByteArray>{Body(36, "one"), Body(36, "two"), Body(36, "three")}));
        PeerTestWorld::Settle(100);
        QCOMPARE(lp_far->Frames().size(), 4);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // Bob reached us first, and the server has not told his address yet: a
    // message for bob waits while the server is asked, then goes on the
    // connection from the address it tells, or on one we open there. A
    // namesake's connection from elsewhere gets nothing. With no server to
    // ask, the connection opened last under the name carries it, as ever.
    void aUserNotYetLookedUpIsLookedUpFirst_data()
    {
        QTest::addColumn<bool>("fromUser");
        QTest::addColumn<bool>("serverUp");
        QTest::newRow("a connection from bob's address") << true << true;
        QTest::newRow("a namesake's connection from elsewhere") << false << true;
        QTest::newRow("no server to ask") << false << false;
    }
    void aUserNotYetLookedUpIsLookedUpFirst()
    {
        QFETCH(bool, fromUser);
        QFETCH(bool, serverUp);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = serverUp;
        l_world.Load();
        FakePeer l_bob;
        QVERIFY(l_bob.Listen(UsersAddress));
        FakePeer l_someone;
        FakePeerConnection* lp_named =
            l_someone.ConnectTo(l_world.PlainPort(), false, 5000, fromUser ? UsersAddress : Elsewhere);
        QVERIFY(lp_named);
        lp_named->SendFrame(Introduction("bob"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("bob"); }));

        MemStream l_browse = Message(4);
        l_world.Messenger().SendMessage("bob", l_browse);
        if (!serverUp) {
            QVERIFY(lp_named->WaitForFrames(1));
            QCOMPARE(lp_named->Frames().front(), Body(4));
            QVERIFY(l_world.m_requests.m_addressRequests.empty());
            return;
        }
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        // A second message waits with it, and asks nothing more.
        MemStream l_folder = Message(36, "music");
        l_world.Messenger().SendMessage("bob", l_folder);
        QCOMPARE(l_world.m_requests.m_addressRequests.size(), std::size_t(1));
        PeerTestWorld::Settle(50);
        QVERIFY(lp_named->Frames().isEmpty());

        l_world.GiveAddress("bob", UsersAddress, l_bob.Port(), 0);
        const QList<QByteArray> l_expected{Body(4), Body(36, "music")};
        if (fromUser) {
            QVERIFY(lp_named->WaitForFrames(2));
            QCOMPARE(lp_named->Frames(), l_expected);
            QVERIFY(!l_bob.WaitForConnection(false, 300));
        } else {
            FakePeerConnection* lp_ours = l_bob.WaitForConnection(false);
            QVERIFY(lp_ours);
            QVERIFY(lp_ours->WaitForFrames(3));
            QCOMPARE(lp_ours->Frames().mid(1), l_expected);
            PeerTestWorld::Settle(50);
            QVERIFY(lp_named->Frames().isEmpty());
        }
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // Bob reached us from his address before the server told it; our browse
    // waits for the look-up. The answer comes late (after its wait ended),
    // or the server link drops meanwhile: either way the browse reaches bob
    // first, and our next message never overtakes it.
    void aHeldMessageIsNeverOvertaken_data()
    {
        QTest::addColumn<bool>("linkDrops");
        QTest::newRow("the answer comes after its wait ended") << false;
        QTest::newRow("the server link drops while it waits") << true;
    }
    void aHeldMessageIsNeverOvertaken()
    {
        QFETCH(bool, linkDrops);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        FakePeer l_someone;
        FakePeerConnection* lp_bob = l_someone.ConnectTo(l_world.PlainPort(), false, 5000, UsersAddress);
        QVERIFY(lp_bob);
        lp_bob->SendFrame(Introduction("bob"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("bob"); }));

        Send(l_world, "bob", 4);
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        if (linkDrops) {
            l_world.m_requests.m_canAskAddress = false;
            emit l_world.Link().Disconnected();
        } else {
            l_world.Advance(PeerMessenger::AddressAskMs);
            l_world.Messenger().EveryHalfMinute();
        }
        // Without the link our next message could go at once on the
        // connection under bob's name; after it the answer makes that
        // connection bob's own.
        if (linkDrops) {
            Send(l_world, "bob", 36, "music");
            PeerTestWorld::Settle(100);
            QVERIFY(lp_bob->Frames().isEmpty());
        }
        // Bob's port is closed: his own connection is the one to carry it.
        // The answer alone sends the browse, before anything else is sent.
        l_world.m_requests.m_canAskAddress = true;
        l_world.GiveAddress("bob", UsersAddress, 1, 0);
        QVERIFY(lp_bob->WaitForFrames(1));
        QCOMPARE(lp_bob->Frames().front(), Body(4));
        if (!linkDrops)
            Send(l_world, "bob", 36, "music");
        QVERIFY(lp_bob->WaitForFrames(2));
        QCOMPARE(lp_bob->Frames(), (QList<QByteArray>{Body(4), Body(36, "music")}));
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // The server never answers the look-up of bob, who is not connected to
    // us: once the look-up's wait is over, our browse goes as it goes to a
    // user whose address is unknown, by a relayed request among others, and
    // bob's answer to it carries the browse. The wait ends on a timer of its
    // own, well before the half-minute sweep need come, or at the sweep.
    void aSilentServerHoldsNothingForEver_data()
    {
        QTest::addColumn<bool>("ownTimer");
        QTest::newRow("the look-up's own timer") << true;
        QTest::newRow("the half-minute sweep") << false;
    }
    void aSilentServerHoldsNothingForEver()
    {
        QFETCH(bool, ownTimer);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        if (ownTimer)
            l_world.Messenger().SetAddressAskMs(200);
        Send(l_world, "bob", 4);
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        QVERIFY(l_world.m_requests.m_relayed.empty());
        if (ownTimer) {
            l_world.Advance(200);
            QVERIFY(PeerTestWorld::WaitFor([&] { return !l_world.m_requests.m_relayed.empty(); }));
        } else {
            l_world.Advance(PeerMessenger::AddressAskMs - 1);
            l_world.Messenger().EveryHalfMinute();
            QVERIFY(l_world.m_requests.m_relayed.empty());
            l_world.Advance(1);
            l_world.Messenger().EveryHalfMinute();
        }
        const quint32 l_token = RelayedToken(l_world, "bob", "P");
        QVERIFY(l_token != 0);
        QVERIFY(l_world.LogTexts().contains("The server told no address of user bob in time, reaching the user without it"));

        FakePeer l_bob;
        FakePeerConnection* lp_answer = l_bob.ConnectTo(l_world.PlainPort(), false, 5000, Elsewhere);
        QVERIFY(lp_answer);
        lp_answer->SendFrame(Indirect(l_token));
        QVERIFY(lp_answer->WaitForFrames(1));
        QCOMPARE(lp_answer->Frames(), QList<QByteArray>{Body(4)});
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // The server names no address for carl (0), while our relayed request
    // for his file connection is out: carl may still answer it, and that
    // answer, or the server's report that it failed, decides.
    void noAddressLeavesTheRelayedRequestToDecide_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("carl answers the relayed request") << true;
        QTest::newRow("the server reports it failed") << false;
    }
    void noAddressLeavesTheRelayedRequestToDecide()
    {
        QFETCH(bool, answered);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        PeerSignalCatcher l_catcher(l_world.Messenger());
        int l_failures = 0;
        QObject::connect(&l_world.Messenger(), &PeerMessenger::FileConnectionFailed, [&] { ++l_failures; });

        l_world.Messenger().RequestFileConnectionToUser("carl");
        const quint32 l_token = RelayedToken(l_world, "carl", "F");
        QVERIFY(l_token != 0);
        l_world.GiveAddress("carl", 0, 0, 0);
        PeerTestWorld::Settle(50);
        QCOMPARE(l_failures, 0);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);

        if (!answered) {
            emit l_world.Link().IndirectPeerConnectionFailure(l_token);
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_failures == 1; }));
            QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
            return;
        }
        FakePeer l_carl;
        FakePeerConnection* lp_answer = l_carl.ConnectTo(l_world.PlainPort(), false, 5000, Elsewhere);
        QVERIFY(lp_answer);
        lp_answer->SendFrame(Indirect(l_token));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_catcher.m_handOvers.empty(); }));
        QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("FileConnectionAccepted"));
        QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("carl"));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        PeerTestWorld::Settle(50);
        QCOMPARE(l_failures, 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerQueueUsers)
#include "tst_peer_queue_users.moc"
