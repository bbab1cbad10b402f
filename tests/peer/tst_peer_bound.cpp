// The connection bound between remote addresses and between the two
// listeners: one address cannot hold all of it, a busy port does not keep
// peers on the other out, and connections taken in a burst are read before
// the bound of silent ones can close them. The far ends bind loopback
// addresses of their own (127.0.0.x), so that the client sees distinct
// remote addresses.
#include "FakePeer.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "peer/PeerAddressShare.h"
#include "peer/PeerIdleWatch.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

namespace
{
quint32 Address(int i_last)
{
    return 0x7F000000u | quint32(i_last);
}

// The log's line for a message of code 9999 from the user.
QString Receipt(const std::string& i_user)
{
    return QString("Received %1 message from user %2")
        .arg(PeerMessenger::MessageCodeToString(9999), QString::fromStdString(i_user));
}

using Clients = std::vector<std::unique_ptr<RawClient>>;

// Opens messaging connections one after another, so that they open in
// their order, each as its own user.
bool Introduce(Clients& io_clients, int i_count, quint32 i_from, const QString& i_prefix, quint16 i_port)
{
    for (int l_index = 0; l_index < i_count; ++l_index) {
        auto lp_client = std::make_unique<RawClient>();
        const std::string l_user = QString("%1%2").arg(i_prefix).arg(l_index).toStdString();
        if (!lp_client->Connect(i_port, i_from) || !lp_client->Send(RawClient::Introduction(l_user))
            || !PeerTestWorld::WaitFor([&] { return PeerTestWorld::HasMessagingConnection(l_user); }))
            return false;
        io_clients.push_back(std::move(lp_client));
    }
    return true;
}

int ClosedCount(const Clients& i_clients)
{
    int l_closed = 0;
    for (const auto& lp_client : i_clients)
        l_closed += lp_client->ClosedByPeer() ? 1 : 0;
    return l_closed;
}
}

class TestPeerBound : public QObject
{
    Q_OBJECT

private slots:
    // At the bound an address holding more than its share gives up its
    // longest-open connection, busy or not, for a peer from another
    // address; a new connection of its own is refused, and with no address
    // beyond its share the newcomer waits. Below the bound nothing is
    // closed, however many one address holds.
    void anAddressBeyondItsShareMakesRoomAtTheBound_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("crowd");
        QTest::addColumn<int>("others");
        QTest::addColumn<int>("newcomerAddress");
        // What happens to the newcomer: taken, refused (closed), or waiting.
        QTest::addColumn<QString>("newcomer");
        QTest::addColumn<bool>("crowdGivesUpItsFirst");
        constexpr int Share = int(PeerAddressShare::Share);
        QTest::newRow("at the bound, a peer from another address") << Share + 6 << Share + 2 << 4 << 4 << "taken" << true;
        QTest::newRow("at the bound, a peer from the crowd's address") << Share + 6 << Share + 2 << 4 << 2 << "refused" << false;
        QTest::newRow("at the bound, every address within its share") << Share + 6 << Share << 6 << 4 << "waiting" << false;
        QTest::newRow("below the bound") << Share + 16 << Share + 10 << 4 << 4 << "taken" << false;
        QTest::newRow("below the bound, the crowd's address") << Share + 16 << Share + 10 << 4 << 2 << "taken" << false;
    }
    void anAddressBeyondItsShareMakesRoomAtTheBound()
    {
        QFETCH(int, bound);
        QFETCH(int, crowd);
        QFETCH(int, others);
        QFETCH(int, newcomerAddress);
        QFETCH(QString, newcomer);
        QFETCH(bool, crowdGivesUpItsFirst);
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(std::size_t(bound));
        l_world.Load();
        Clients l_crowd;
        Clients l_others;
        QVERIFY(Introduce(l_crowd, crowd, Address(2), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_others, others, Address(3), "other", l_world.PlainPort()));
        // The first of the crowd is its busiest: it goes for being open
        // longest, not for being silent.
        QVERIFY(l_crowd.front()->Send(FakePeerFrames::Plain(WireWriter().U32(9999))));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count(Receipt("crowd0")) == 1; }));

        RawClient l_newcomer;
        QVERIFY(l_newcomer.Connect(l_world.PlainPort(), Address(newcomerAddress)));
        QVERIFY(l_newcomer.Send(RawClient::Introduction("pat")));
        if (newcomer == "taken")
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        else if (newcomer == "refused")
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_newcomer.ClosedByPeer(); }));
        PeerTestWorld::Settle(100);
        QCOMPARE(PeerTestWorld::HasMessagingConnection("pat"), newcomer == "taken");
        QCOMPARE(l_newcomer.ClosedByPeer(), newcomer == "refused");

        QCOMPARE(l_crowd.front()->ClosedByPeer(), crowdGivesUpItsFirst);
        QCOMPARE(PeerTestWorld::HasMessagingConnection("crowd0"), !crowdGivesUpItsFirst);
        QCOMPARE(ClosedCount(l_crowd), crowdGivesUpItsFirst ? 1 : 0);
        QCOMPARE(ClosedCount(l_others), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), crowd + others + (newcomer == "taken" ? 1 : 0)
                                                              - (crowdGivesUpItsFirst ? 1 : 0));
    }

    // Room that comes free one connection at a time, with strangers always
    // waiting on the plain port: a peer waiting on the obfuscated port gets
    // its turn, not after every stranger.
    void aBusyPortDoesNotKeepTheOtherOut()
    {
        constexpr int Bound = 8;
        constexpr int Strangers = 6;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        const QDateTime l_start = l_world.m_now;
        Clients l_peers;
        // Each a second after the one before, so that they become idle
        // enough to close one at a time.
        for (int l_index = 0; l_index < Bound; ++l_index) {
            QVERIFY(Introduce(l_peers, 1, Address(10 + l_index), QString("p%1_").arg(l_index), l_world.PlainPort()));
            l_world.Advance(1000);
        }
        Clients l_strangers;
        for (int l_index = 0; l_index < Strangers; ++l_index) {
            l_strangers.push_back(std::make_unique<RawClient>());
            QVERIFY(l_strangers.back()->Connect(l_world.PlainPort(), Address(2)));
        }
        PeerTestWorld::Settle(100);
        RawClient l_pat;
        QVERIFY(l_pat.Connect(l_world.ObfuscatedPort(), Address(3)));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat", true)));
        PeerTestWorld::Settle(100);
        QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));

        // The stranger that waited first has the first room, pat the next.
        for (int l_room = 0; l_room < 2; ++l_room) {
            l_world.m_now = l_start.addMSecs(l_room * 1000 + PeerMessenger::IdleEnoughToCloseMs + 500);
            l_world.Messenger().EveryHalfMinute();
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_peers[size_t(l_room)]->ClosedByPeer(); }));
            PeerTestWorld::Settle(100);
            // The first stranger, silent, is the one connection that waits
            // to introduce itself.
            QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 1);
            QCOMPARE(PeerTestWorld::HasMessagingConnection("pat"), l_room == 1);
        }
        QVERIFY(PeerTestWorld::HasMessagingConnection("pat"));
        QCOMPARE(ClosedCount(l_peers), 2);
        QCOMPARE(ClosedCount(l_strangers), 0);
    }

    // A connection that goes at the bound leaves room that an attempt of
    // ours waits for, and a stranger waiting in a listener: the attempt has
    // it. The stranger could close an idle connection for room of its own;
    // the attempt could not, and would wait until it expired.
    void anAttemptOfOursHasFreeRoomBeforeAStranger()
    {
        constexpr int Bound = 4;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        // A silent stranger that expires at the sweep, and peers that are
        // not idle enough by then to close for room.
        RawClient l_silent;
        QVERIFY(l_silent.Connect(l_world.PlainPort(), Address(2)));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("uninitialized_socket") == 1; }));
        l_world.Advance(100000);
        Clients l_peers;
        QVERIFY(Introduce(l_peers, Bound - 1, Address(11), "p", l_world.PlainPort()));
        RawClient l_stranger;
        QVERIFY(l_stranger.Connect(l_world.PlainPort(), Address(2)));
        FakePeer l_bob;
        QVERIFY(l_bob.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_bob.Port(), 0);
        MemStream l_message;
        l_message.Write(static_cast<unsigned int>(4));
        l_world.Messenger().SendMessage("bob", l_message);
        PeerTestWorld::Settle(100);
        QVERIFY(l_bob.WaitForConnection(false, 50) == nullptr);
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 1);

        l_world.Advance(21000);
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(l_bob.WaitForConnection(false) != nullptr);
        QVERIFY(l_silent.ClosedByPeer());
        QCOMPARE(ClosedCount(l_peers), 0);
        PeerTestWorld::Settle(100);
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
        QVERIFY(!l_stranger.ClosedByPeer());
    }

    // Peers that wait in the system's queue with their first message and a
    // request already sent, more of them than may wait to introduce
    // themselves: taken in one go, the first of them would be closed as
    // silent before anything was read from them.
    void peersTakenInABurstAreReadBeforeTheSilentOnesAreClosed()
    {
        const int l_peers = int(PeerIdleWatch::AcceptedLimit) + 60;
        PeerTestWorld l_world;
        l_world.SetListenBacklog(l_peers + 10);
        l_world.Load();
        Clients l_clients;
        for (int l_index = 0; l_index < l_peers; ++l_index) {
            l_clients.push_back(std::make_unique<RawClient>());
            RawClient& l_client = *l_clients.back();
            const std::string l_user = "u" + std::to_string(l_index);
            QVERIFY(l_client.Connect(l_world.PlainPort(), Address(2 + l_index % 100)));
            QVERIFY(l_client.Send(RawClient::Introduction(l_user) + FakePeerFrames::Plain(WireWriter().U32(9999))));
        }
        QVERIFY2(PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount("peer_socket") == l_peers; }, 20000),
                 qPrintable(QString("%1 introduced, %2 closed")
                                .arg(PeerTestWorld::ItemCount("peer_socket"))
                                .arg(ClosedCount(l_clients))));
        PeerTestWorld::Settle(100);
        QCOMPARE(ClosedCount(l_clients), 0);
        QCOMPARE(l_world.Count(Receipt("u0")), 1);
        QCOMPARE(l_world.Count(Receipt("u" + std::to_string(l_peers - 1))), 1);
    }
};

QTEST_GUILESS_MAIN(TestPeerBound)
#include "tst_peer_bound.moc"
