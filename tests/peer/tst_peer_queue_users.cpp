// Messages held for the user's own connection: what a reset cut off in the
// middle of a flush reaches the user again, and while the server has not yet
// told a user's address, a connection under that name gets nothing.
#include "PeerTestMessages.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "WireBytes.h"

#include <QtTest>

namespace
{
// Loopback addresses of the user and of a namesake elsewhere.
constexpr quint32 UsersAddress = 0x7F000002;
constexpr quint32 Elsewhere = 0x7F000009;

using PeerTestMessages::Body;
using PeerTestMessages::Introduction;
using PeerTestMessages::Message;
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
};

QTEST_GUILESS_MAIN(TestPeerQueueUsers)
#include "tst_peer_queue_users.moc"
