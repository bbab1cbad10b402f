// The connection bound between remote addresses and between the two
// listeners: one address cannot hold all of it, a busy port does not keep
// peers on the other out, and connections taken in a burst are read before
// the bound of silent ones can close them. The far ends bind loopback
// addresses of their own (127.0.0.x), so that the client sees distinct
// remote addresses.
#include "FakePeer.h"
#include "PeerClients.h"
#include "PeerTestWorld.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "peer/PeerNetworkShare.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerIdleWatch.h"

#include <QtTest>

#include <algorithm>

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
using PeerClients::Address;
using PeerClients::Clients;
using PeerClients::ClosedCount;
using PeerClients::Introduce;

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

// The world's clock, counting how often it is read while the object lives.
class CountedClock
{
public:
    explicit CountedClock(PeerTestWorld& io_world) : m_world(io_world)
    {
        SetPeerClock([this] {
            ++m_reads;
            return m_world.m_now;
        });
    }
    ~CountedClock()
    {
        SetPeerClock([&l_world = m_world] { return l_world.m_now; });
    }
    CountedClock(const CountedClock&) = delete;
    CountedClock& operator=(const CountedClock&) = delete;

    int Reads() const { return m_reads; }

private:
    PeerTestWorld& m_world;
    int m_reads = 0;
};

// Has the messenger send a message to the user, who listens at the peer:
// the messenger sets out to connect to it.
void SendTo(PeerTestWorld& io_world, const std::string& i_user, FakePeer& io_peer)
{
    QVERIFY(io_peer.Listen());
    io_world.GiveAddress(i_user, PeerTestWorld::Loopback, io_peer.Port(), 0);
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(4));
    io_world.Messenger().SendMessage(i_user, l_message);
}
}

class TestPeerBound : public QObject
{
    Q_OBJECT

private slots:
    // At the bound the network holding the most gives up its longest-open
    // connection, busy or not, for a peer from a network that holds at
    // least two fewer; a new connection of the crowded network, from any of
    // its addresses, or of one nearly as large is refused, and with no
    // network beyond a few the newcomer waits. Below the bound nothing is
    // closed, however many one network holds.
    void aCrowdedNetworkMakesRoomAtTheBound_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("crowd");
        QTest::addColumn<int>("others");
        QTest::addColumn<quint32>("newcomerAddress");
        // What happens to the newcomer: taken, refused (closed), or waiting.
        QTest::addColumn<QString>("newcomer");
        QTest::addColumn<bool>("crowdGivesUp");
        constexpr int Few = int(PeerNetworkShare::FewConnections);
        const quint32 l_stranger = Address(9, 4);
        const quint32 l_crowdsOther = Address(2, 77);
        const quint32 l_others = Address(3, 2);
        QTest::newRow("at the bound, a peer from another network") << Few + 10 << Few + 6 << 4 << l_stranger << "taken" << true;
        QTest::newRow("at the bound, another address of the crowd's network") << Few + 10 << Few + 6 << 4 << l_crowdsOther << "refused" << false;
        QTest::newRow("at the bound, a network one fewer than the crowd's") << 2 * Few + 11 << Few + 6 << Few + 5 << l_others << "refused" << false;
        QTest::newRow("at the bound, every network within a few") << 2 * Few << Few << Few << l_stranger << "waiting" << false;
        QTest::newRow("at the bound, a network of three") << 5 << 3 << 2 << l_stranger << "taken" << true;
        QTest::newRow("at the bound, a network of two for a network of one") << 3 << 2 << 1 << l_others << "refused" << false;
        QTest::newRow("below the bound") << Few + 20 << Few + 6 << 4 << l_stranger << "taken" << false;
        QTest::newRow("below the bound, the crowd's network") << Few + 20 << Few + 6 << 4 << l_crowdsOther << "taken" << false;
    }
    void aCrowdedNetworkMakesRoomAtTheBound()
    {
        QFETCH(int, bound);
        QFETCH(int, crowd);
        QFETCH(int, others);
        QFETCH(quint32, newcomerAddress);
        QFETCH(QString, newcomer);
        QFETCH(bool, crowdGivesUp);
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(std::size_t(bound));
        l_world.Load();
        Clients l_crowd;
        Clients l_others;
        // The crowd from two addresses of its network.
        QVERIFY(Introduce(l_crowd, crowd - crowd / 2, Address(2, 2), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_crowd, crowd / 2, Address(2, 3), "crowd_", l_world.PlainPort()));
        QVERIFY(Introduce(l_others, others, Address(3, 2), "other", l_world.PlainPort()));
        // The first of the crowd is its busiest: the one silent longest at
        // the crowd's most crowded address goes, not the one open longest.
        QVERIFY(l_crowd.front()->Send(FakePeerFrames::Plain(WireWriter().U32(9999))));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count(Receipt("crowd0")) == 1; }));

        RawClient l_newcomer;
        QVERIFY(l_newcomer.Connect(l_world.PlainPort(), newcomerAddress));
        QVERIFY(l_newcomer.Send(RawClient::Introduction("pat")));
        if (newcomer == "taken")
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        else if (newcomer == "refused")
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_newcomer.ClosedByPeer(); }));
        PeerTestWorld::Settle(100);
        QCOMPARE(PeerTestWorld::HasMessagingConnection("pat"), newcomer == "taken");
        QCOMPARE(l_newcomer.ClosedByPeer(), newcomer == "refused");

        QVERIFY(!l_crowd.front()->ClosedByPeer());
        if (crowd > 1)
            QCOMPARE(l_crowd[1]->ClosedByPeer(), crowdGivesUp);
        QCOMPARE(ClosedCount(l_crowd), crowdGivesUp ? 1 : 0);
        QCOMPARE(ClosedCount(l_others), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), crowd + others + (newcomer == "taken" ? 1 : 0)
                                                              - (crowdGivesUp ? 1 : 0));
    }

    // Room that comes free one connection at a time, with silent strangers
    // always waiting on the plain port: a peer waiting on the obfuscated
    // port is not kept out. At the bound the strangers are heard out and
    // buy nothing by their silence; the peer that says who it is has the
    // first room.
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
        // enough to close one at a time, and each from a network of its own,
        // so that none gives.
        for (int l_index = 0; l_index < Bound; ++l_index) {
            QVERIFY(Introduce(l_peers, 1, Address(10 + l_index, 2), QString("p%1_").arg(l_index), l_world.PlainPort()));
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

        l_world.m_now = l_start.addMSecs(PeerMessenger::IdleEnoughToCloseMs + 500);
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }));
        PeerTestWorld::Settle(100);
        QVERIFY(l_peers.front()->ClosedByPeer());
        QCOMPARE(ClosedCount(l_peers), 1);
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
        // not idle enough by then to close for room, each from a network of
        // its own.
        RawClient l_silent;
        QVERIFY(l_silent.Connect(l_world.PlainPort(), Address(2)));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("uninitialized_socket") == 1; }));
        l_world.Advance(100000);
        Clients l_peers;
        for (int l_index = 0; l_index < Bound - 1; ++l_index)
            QVERIFY(Introduce(l_peers, 1, Address(11 + l_index, 2), QString("p%1_").arg(l_index), l_world.PlainPort()));
        RawClient l_stranger;
        QVERIFY(l_stranger.Connect(l_world.PlainPort(), Address(2)));
        FakePeer l_bob;
        SendTo(l_world, "bob", l_bob);
        if (QTest::currentTestFailed())
            return;
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

    // A connection that becomes idle enough while the listeners are being
    // looked at makes room for the peer that waits in a listener: no state
    // leaves it waiting with nobody to take it. The clock moves a
    // millisecond each time it is read, across the moment the oldest
    // connection may be closed.
    void aPeerWaitingWhenRoomComesMidLookIsTaken()
    {
        constexpr int Bound = 4;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        Clients l_peers;
        for (int l_index = 0; l_index < Bound; ++l_index)
            QVERIFY(Introduce(l_peers, 1, Address(2 + l_index, 2), QString("p%1_").arg(l_index), l_world.PlainPort()));
        RawClient l_pat;
        QVERIFY(l_pat.Connect(l_world.PlainPort(), Address(9, 2)));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat")));
        PeerTestWorld::Settle(100);
        QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));

        QDateTime l_ticking = l_world.m_now.addMSecs(PeerMessenger::IdleEnoughToCloseMs - 3);
        SetPeerClock([&l_ticking] { return l_ticking = l_ticking.addMSecs(1); });
        l_world.Messenger().EveryHalfMinute();
        l_world.m_now = l_ticking.addMSecs(1000);
        SetPeerClock([&l_world] { return l_world.m_now; });
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }, 2000));
        QCOMPARE(ClosedCount(l_peers), 1);
        QVERIFY(l_peers.front()->ClosedByPeer());
    }

    // A crowded network's connections that wait in the system's queue in
    // front of a peer from another network are refused at once, not one
    // per rest: the peer is taken within a few turns. While accepting rests
    // after refusing, the timer that waits for an idle connection rests
    // too, however idle the connections have become: nothing reads the
    // clock in a loop.
    void refusingACrowdDoesNotHoldUpAnotherNetwork_data()
    {
        QTest::addColumn<int>("queued");
        QTest::newRow("more than a turn refuses") << PeerMessenger::RefusalsPerTurn + 8;
        QTest::newRow("more than a turn hears out") << PeerMessenger::HeardOutPerTurn + 8;
    }
    void refusingACrowdDoesNotHoldUpAnotherNetwork()
    {
        QFETCH(int, queued);
        constexpr int Crowd = 66;
        constexpr int Others = 4;
        const int Queued = queued;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Crowd + Others);
        l_world.Messenger().SetIdleEnoughToCloseMs(1000);
        l_world.Load();
        Clients l_crowd;
        Clients l_others;
        QVERIFY(Introduce(l_crowd, Crowd, Address(2), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_others, Others, Address(3, 2), "other", l_world.PlainPort()));
        l_world.ClearLog();
        CountedClock l_clock(l_world);
        Clients l_queued;
        for (int l_index = 0; l_index < Queued; ++l_index) {
            l_queued.push_back(std::make_unique<RawClient>());
            QVERIFY(l_queued.back()->Connect(l_world.PlainPort(), Address(2)));
            QVERIFY(l_queued.back()->Send(RawClient::Introduction("late" + std::to_string(l_index))));
        }
        RawClient l_pat;
        QVERIFY(l_pat.Connect(l_world.PlainPort(), Address(9, 2)));
        QVERIFY(l_pat.Send(RawClient::Introduction("pat")));
        // Refused one a rest, the crowd would hold pat up for a rest each
        // (seconds); refused at once, for a few turns. Half the former is
        // many times the latter.
        const int l_fewTurnsMs = Queued * PeerMessenger::RefusedRestMs / 2;
        // Idle enough from now on: the refused turns must not spin on it.
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return ClosedCount(l_queued) >= std::min(Queued, PeerMessenger::RefusalsPerTurn); }, l_fewTurnsMs));
        const int l_readsAtRest = l_clock.Reads();
        l_world.Advance(5000);
        PeerTestWorld::Settle(5);
        QVERIFY2(l_clock.Reads() - l_readsAtRest < 40,
                 qPrintable(QString("%1 clock reads").arg(l_clock.Reads() - l_readsAtRest)));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("pat"); }, l_fewTurnsMs));
        QVERIFY(!l_pat.ClosedByPeer());
        // One line for the refused network, however many it had refused.
        QCOMPARE(l_world.LogTexts().filter("refusing its new connections").size(), 1);
    }

    // The connections become idle enough just after a crowded network's
    // connection was refused: the timer that waits for an idle connection
    // does not fire again and again while accepting is held (nothing reads
    // the clock in a loop).
    void theRoomTimerDoesNotSpinAfterARefusal()
    {
        constexpr qint64 Idle = 300;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(70);
        l_world.Messenger().SetIdleEnoughToCloseMs(Idle);
        l_world.Load();
        const QDateTime l_start = l_world.m_now;
        Clients l_crowd;
        Clients l_others;
        QVERIFY(Introduce(l_crowd, 1, Address(2), "first", l_world.PlainPort()));
        l_world.Advance(200);
        QVERIFY(Introduce(l_crowd, 65, Address(2), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_others, 4, Address(3, 2), "other", l_world.PlainPort()));
        PeerTestWorld::Settle(150);
        // The first is idle enough, the others are not yet.
        l_world.m_now = l_start.addMSecs(200 + Idle - 40);
        CountedClock l_clock(l_world);
        RawClient l_taken;
        RawClient l_refused;
        QVERIFY(l_taken.Connect(l_world.PlainPort(), Address(2)));
        QVERIFY(l_taken.Send(RawClient::Introduction("taken")));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("taken"); }));
        QVERIFY(l_refused.Connect(l_world.PlainPort(), Address(2)));
        QVERIFY(l_refused.Send(RawClient::Introduction("refused")));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_refused.ClosedByPeer(); }));
        const int l_before = l_clock.Reads();
        l_world.m_now = l_start.addMSecs(5000);
        PeerTestWorld::Settle(150);
        QVERIFY2(l_clock.Reads() - l_before < 10, qPrintable(QString("%1 clock reads").arg(l_clock.Reads() - l_before)));
        QVERIFY(l_crowd.front()->ClosedByPeer());
    }

    // What the bound does to a crowd is logged once a minute: the refusals
    // of a network and its give-ups each in a line of their own, and the
    // idle connections closed in one line, which has no count to give the
    // first time.
    void theBoundsLinesComeOnceAMinute()
    {
        constexpr int Crowd = 16;
        constexpr int Others = 4;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Crowd + Others);
        l_world.Load();
        Clients l_crowd;
        Clients l_others;
        QVERIFY(Introduce(l_crowd, Crowd, Address(2, 2), "crowd", l_world.PlainPort()));
        QVERIFY(Introduce(l_others, Others, Address(3, 2), "other", l_world.PlainPort()));
        l_world.ClearLog();
        Clients l_refused;
        Clients l_taken;
        for (int l_round = 0; l_round < 2; ++l_round) {
            l_refused.push_back(std::make_unique<RawClient>());
            QVERIFY(l_refused.back()->Connect(l_world.PlainPort(), Address(2, 9)));
            QVERIFY(l_refused.back()->Send(RawClient::Introduction("refused" + std::to_string(l_round))));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_refused.back()->ClosedByPeer(); }));
            QVERIFY(Introduce(l_taken, 1, Address(9, 2 + l_round), QString("taker%1_").arg(l_round), l_world.PlainPort()));
        }
        l_world.Advance(PeerMessenger::IdleEnoughToCloseMs + 1000);
        QVERIFY(Introduce(l_taken, 3, Address(9, 9), "late", l_world.PlainPort()));
        QCOMPARE(ClosedCount(l_crowd), 2 + 3);
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.filter("refusing its new connections").size(), 1);
        // The refused newcomers were heard out: counted, with no disposal
        // lines of their own.
        QCOMPARE(l_lines.filter("heard out at the bound and refused"),
                 QStringList{"Connections heard out at the bound and refused, closed (said once a minute)."});
        QCOMPARE(l_lines.filter("Socket not identified").size(), 0);
        QCOMPARE(l_lines.filter("closing the connections silent longest at its most crowded address").size(), 1);
        const QStringList l_idle = l_lines.filter("closing the idle connection");
        QCOMPARE(l_idle.size(), 1);
        QVERIFY2(l_idle.front().endsWith("to make room (said once a minute)."), qPrintable(l_idle.front()));
    }

    // More accepted connections than may wait to introduce themselves: the
    // oldest closes for each, and the log says so once a minute, not once a
    // connection.
    void theSilentConnectionsClosedAreLoggedOnceAMinute()
    {
        constexpr int Over = 5;
        const int l_count = int(PeerIdleWatch::AcceptedLimit) + Over;
        PeerTestWorld l_world;
        l_world.SetListenBacklog(l_count + 10);
        l_world.Load();
        Clients l_silent;
        for (int l_index = 0; l_index < l_count; ++l_index) {
            l_silent.push_back(std::make_unique<RawClient>());
            QVERIFY(l_silent.back()->Connect(l_world.PlainPort(), Address(2 + l_index % 200, 2)));
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return ClosedCount(l_silent) == Over; }));
        PeerTestWorld::Settle(100);
        QCOMPARE(ClosedCount(l_silent), Over);
        const QStringList l_lines = l_world.LogTexts().filter("accepted connections wait to introduce themselves");
        QCOMPARE(l_lines, QStringList{QString("More than %1 accepted connections wait to introduce themselves, closing "
                                              "the oldest (said once a minute).")
                                          .arg(PeerIdleWatch::AcceptedLimit)});
    }

    // At the full bound an attempt of ours makes room as a stranger would:
    // by closing the connection idle longest, at once or when one becomes
    // idle enough, or else the longest-open one of a crowded network; with
    // neither it waits.
    void anAttemptOfOursMakesRoomAtTheBound_data()
    {
        QTest::addColumn<int>("peers");
        QTest::addColumn<QString>("idle");
        QTest::addColumn<bool>("reached");
        constexpr int Few = int(PeerNetworkShare::FewConnections);
        QTest::newRow("an idle connection") << Few << "now" << true;
        QTest::newRow("a connection idle later") << Few << "later" << true;
        QTest::newRow("a crowded network") << Few + 2 << "never" << true;
        QTest::newRow("neither") << Few << "never" << false;
    }
    void anAttemptOfOursMakesRoomAtTheBound()
    {
        QFETCH(int, peers);
        QFETCH(QString, idle);
        QFETCH(bool, reached);
        constexpr qint64 IdleMs = 300;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(std::size_t(peers));
        l_world.Messenger().SetIdleEnoughToCloseMs(IdleMs);
        l_world.Load();
        Clients l_peers;
        QVERIFY(Introduce(l_peers, peers, Address(2, 2), "p", l_world.PlainPort()));
        if (idle == "now")
            l_world.Advance(IdleMs + 1000);
        FakePeer l_bob;
        SendTo(l_world, "bob", l_bob);
        if (QTest::currentTestFailed())
            return;
        if (idle == "later") {
            PeerTestWorld::Settle(50);
            QVERIFY(l_bob.WaitForConnection(false, 50) == nullptr);
            // No sweep: the timer that waits for an idle connection.
            l_world.Advance(IdleMs + 1000);
        }
        QCOMPARE(l_bob.WaitForConnection(false, reached ? 5000 : int(IdleMs) * 2) != nullptr, reached);
        PeerTestWorld::Settle(50);
        QCOMPARE(ClosedCount(l_peers), reached ? 1 : 0);
        QCOMPARE(l_peers.front()->ClosedByPeer(), reached);
    }
};

QTEST_GUILESS_MAIN(TestPeerBound)
#include "tst_peer_bound.moc"
