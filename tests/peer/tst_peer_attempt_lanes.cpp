// Our outgoing connection attempts when places for connecting, or room
// under the connection bound, run short: one user or one network cannot
// hold them up for everyone, and our own work goes first. The far ends
// listen on loopback addresses of networks of their own (127.0.N.x), so
// that the client sees distinct remote networks.
#include "FakePeer.h"
#include "PeerClients.h"
#include "PeerSignalCatcher.h"
#include "PeerTestWorld.h"
#include "SilentListener.h"

#include "peer/PeerAttemptQueue.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace
{
using PeerClients::Address;
using PeerClients::Clients;
using PeerClients::ClosedCount;
using PeerClients::Introduce;

// How we come to connect to a user: a message of ours, a file connection
// of ours, or a connection back that the user asked for through the server.
void Reach(PeerTestWorld& io_world, const QString& i_how, const std::string& i_user, quint32 i_address, quint16 i_port,
           unsigned int i_token)
{
    if (i_how == "connection back" || i_how == "file connection back") {
        io_world.RelayRequest(i_user, i_token, i_how == "connection back" ? "P" : "F", i_address, i_port, 0);
        return;
    }
    io_world.GiveAddress(i_user, i_address, i_port, 0);
    if (i_how == "file connection") {
        io_world.Messenger().RequestFileConnectionToUser(i_user);
        return;
    }
    MemStream l_message;
    l_message.Write(static_cast<unsigned int>(4));
    io_world.Messenger().SendMessage(i_user, l_message);
}

// Our sockets that still connect.
int Connecting()
{
    int l_count = 0;
    for (const char* lp_type : {"connect_to_peer_request_socket", "peer_connection_request_socket"}) {
        for (ItemPtr l_record : d.GetType(lp_type)->GetItems()) {
            const auto* lp_socket = l_record.AsObject<QTcpSocket>();
            l_count += lp_socket && lp_socket->state() == QAbstractSocket::ConnectingState ? 1 : 0;
        }
    }
    return l_count;
}

// The name of an attempt the queue gave up, of i_names; "none" for null.
QString NameOf(QTcpSocket* ip_socket, const std::vector<std::pair<QTcpSocket*, QString>>& i_names)
{
    for (const auto& [lp_socket, l_name] : i_names) {
        if (lp_socket == ip_socket)
            return l_name;
    }
    return ip_socket ? QString("unknown") : QString("none");
}
}

class TestPeerAttemptLanes : public QObject
{
    Q_OBJECT

private slots:
    // At a bound full of one network's connections, an attempt to a user of
    // that network can have no room (its network would give it back), and
    // waits; an attempt to another network, made after it, makes room and
    // connects at once. A file connection of ours counts in no network: the
    // crowd gives for it too.
    void anAttemptWithoutRoomDoesNotHoldUpOtherNetworks_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("crowdyReached");
        QTest::newRow("a message of ours") << "message" << false;
        QTest::newRow("a file connection of ours") << "file connection" << true;
        QTest::newRow("a connection back") << "connection back" << false;
        QTest::newRow("a file connection back") << "file connection back" << false;
    }
    void anAttemptWithoutRoomDoesNotHoldUpOtherNetworks()
    {
        QFETCH(QString, how);
        QFETCH(bool, crowdyReached);
        constexpr int Crowd = 10;
        PeerTestWorld l_world;
        PeerSignalCatcher l_handedOver(l_world.Messenger());
        l_world.Messenger().SetConnectionBound(Crowd);
        l_world.Load();
        Clients l_crowd;
        QVERIFY(Introduce(l_crowd, Crowd, Address(2, 2), "crowd", l_world.PlainPort()));
        FakePeer l_crowdy;
        FakePeer l_ann;
        QVERIFY(l_crowdy.Listen(Address(2, 50)) && l_ann.Listen(Address(5, 1)));
        Reach(l_world, how, "crowdy", Address(2, 50), l_crowdy.Port(), 1);
        PeerTestWorld::Settle(50);
        Reach(l_world, how, "ann", Address(5, 1), l_ann.Port(), 2);

        QVERIFY(l_ann.WaitForConnection(false, 2000) != nullptr);
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_crowd.front()->ClosedByPeer(); }));
        PeerTestWorld::Settle(100);
        QCOMPARE(l_crowdy.WaitForConnection(false, crowdyReached ? 2000 : 50) != nullptr, crowdyReached);
        QCOMPARE(ClosedCount(l_crowd), crowdyReached ? 2 : 1);
    }

    // One user asks, again and again, for connections back to a port that
    // never accepts: its network has only a few attempts connecting at once,
    // and another user's connection back, and our own file connection, reach
    // their peers at once (and connect no longer).
    void oneNetworkHasOnlyAFewAttemptsConnecting()
    {
        constexpr int Asked = 2 * int(PeerAttemptQueue::MaxInFlight) + 10;
        PeerTestWorld l_world;
        l_world.Load();
        SilentListener l_never(Address(3, 1));
        QVERIFY(l_never.Fill());
        PeerSignalCatcher l_handedOver(l_world.Messenger());
        for (int l_index = 0; l_index < Asked; ++l_index) {
            Reach(l_world, l_index % 3 == 0 ? "file connection back" : "connection back", "hog" + std::to_string(l_index),
                  l_never.Address(), l_never.Port(), unsigned(1000 + l_index));
        }
        QVERIFY(PeerTestWorld::WaitFor([&] {
            return Connecting() == int(PeerAttemptQueue::MaxInFlightPerNetwork);
        }));

        FakePeer l_ann;
        FakePeer l_fay;
        QVERIFY(l_ann.Listen(Address(5, 1)) && l_fay.Listen(Address(6, 1)));
        Reach(l_world, "connection back", "ann", Address(5, 1), l_ann.Port(), 1);
        Reach(l_world, "file connection", "fay", Address(6, 1), l_fay.Port(), 0);
        QVERIFY(l_ann.WaitForConnection(false, 2000) != nullptr);
        QVERIFY(l_fay.WaitForConnection(false, 2000) != nullptr);
        PeerTestWorld::Settle(100);
        QCOMPARE(Connecting(), int(PeerAttemptQueue::MaxInFlightPerNetwork));
    }

    // Users of a few networks ask, again and again, for connections back to
    // ports that never accept, until every place of the lane is taken and
    // more of theirs wait. A user of another network who asks then is
    // reached at once: the busiest network gives its oldest attempt, which
    // fails as any attempt does.
    void aFewNetworksCannotHoldTheConnectionBackLane()
    {
        constexpr int Networks = int(PeerAttemptQueue::MaxInFlight / PeerAttemptQueue::MaxInFlightPerNetwork) + 1;
        constexpr int EachAsks = int(PeerAttemptQueue::MaxInFlightPerNetwork) + 2;
        PeerTestWorld l_world;
        l_world.Load();
        PeerSignalCatcher l_handedOver(l_world.Messenger());
        std::vector<std::unique_ptr<SilentListener>> l_never;
        for (int l_network = 0; l_network < Networks; ++l_network) {
            l_never.push_back(std::make_unique<SilentListener>(Address(30 + l_network, 1)));
            QVERIFY(l_never.back()->Fill());
            for (int l_index = 0; l_index < EachAsks; ++l_index) {
                const int l_token = 1000 + l_network * 100 + l_index;
                Reach(l_world, "connection back", "hog" + std::to_string(l_token), l_never.back()->Address(),
                      l_never.back()->Port(), unsigned(l_token));
            }
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return Connecting() == int(PeerAttemptQueue::MaxInFlight); }));
        PeerTestWorld::Settle(100);

        FakePeer l_ann;
        QVERIFY(l_ann.Listen(Address(5, 1)));
        Reach(l_world, "connection back", "ann", Address(5, 1), l_ann.Port(), 1);
        QVERIFY(l_ann.WaitForConnection(false, 2000) != nullptr);
        PeerTestWorld::Settle(100);
        QVERIFY(Connecting() <= int(PeerAttemptQueue::MaxInFlight));
    }

    // Every place of a lane is taken, most of them by one network, when
    // attempts of networks with nothing connecting wait: the busiest gives
    // its oldest only for a waiter that still stands. One whose socket went
    // (it expired) takes no place, and every attempt connecting goes on.
    void onlyAWaiterThatStandsTakesAPlace_data()
    {
        // The network of each waiter, in the order they came, and which of
        // them went.
        QTest::addColumn<QList<int>>("waiters");
        QTest::addColumn<QList<int>>("gone");
        QTest::addColumn<QString>("given");
        using L = QList<int>;
        QTest::newRow("the only waiter went") << L{1} << L{0} << "none";
        QTest::newRow("the only waiter stands") << L{1} << L{} << "busy 0";
        QTest::newRow("one went, another network's stands") << L{1, 2} << L{0} << "busy 0";
        QTest::newRow("a network's first went, its second stands") << L{1, 1} << L{0} << "busy 0";
        QTest::newRow("every waiter went") << L{1, 2, 2} << L{0, 1, 2} << "none";
    }
    void onlyAWaiterThatStandsTakesAPlace()
    {
        QFETCH(QList<int>, waiters);
        QFETCH(QList<int>, gone);
        QFETCH(QString, given);
        constexpr int Busy = 2 * int(PeerAttemptQueue::MaxInFlightPerNetwork);
        SilentListener l_never(Address(3, 1));
        QVERIFY(l_never.Fill());
        PeerAttemptQueue l_queue;
        // The busiest network's first, then the others', eight a network.
        std::vector<std::unique_ptr<QTcpSocket>> l_connecting;
        std::vector<std::pair<QTcpSocket*, QString>> l_names;
        for (int l_index = 0; l_index < int(PeerAttemptQueue::MaxInFlight); ++l_index) {
            l_connecting.push_back(std::make_unique<QTcpSocket>());
            l_connecting.back()->connectToHost(QHostAddress(l_never.Address()), l_never.Port());
            const bool l_busy = l_index < Busy;
            const int l_network = l_busy ? 0 : 10 + l_index / int(PeerAttemptQueue::MaxInFlightPerNetwork);
            l_queue.Started(l_connecting.back().get(), Address(40 + l_network, 1));
            l_names.emplace_back(l_connecting.back().get(),
                                 QString("%1 %2").arg(l_busy ? "busy" : "other").arg(l_busy ? l_index : l_index - Busy));
        }
        std::vector<std::unique_ptr<QTcpSocket>> l_waiting;
        for (int l_network : waiters) {
            l_waiting.push_back(std::make_unique<QTcpSocket>());
            l_queue.Wait({l_waiting.back().get(), Address(40 + l_network, 1), 1});
        }
        for (int l_index : gone)
            l_waiting[std::size_t(l_index)].reset();

        QCOMPARE(NameOf(l_queue.TakePlaceForNewcomer(), l_names), given);
        QCOMPARE(l_queue.InFlight(), PeerAttemptQueue::MaxInFlight - (given == "none" ? 0 : 1));
    }

    // Room comes one connection at a time while three attempts wait for it:
    // our file connection has it first, then our message, then the
    // connection back another user asked for, whatever the order they came
    // in.
    void ourOwnWorkHasTheRoomFirst()
    {
        constexpr int Bound = 3;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        PeerSignalCatcher l_handedOver(l_world.Messenger());
        // One a network: none gives, and none is idle.
        Clients l_peers;
        for (int l_index = 0; l_index < Bound; ++l_index)
            QVERIFY(Introduce(l_peers, 1, Address(20 + l_index, 2), QString("p%1_").arg(l_index), l_world.PlainPort()));
        FakePeer l_ann;
        FakePeer l_bob;
        FakePeer l_cat;
        QVERIFY(l_ann.Listen(Address(5, 1)) && l_bob.Listen(Address(6, 1)) && l_cat.Listen(Address(7, 1)));
        // Each queued before the next comes.
        Reach(l_world, "connection back", "ann", Address(5, 1), l_ann.Port(), 1);
        PeerTestWorld::Settle(50);
        Reach(l_world, "message", "bob", Address(6, 1), l_bob.Port(), 0);
        PeerTestWorld::Settle(50);
        Reach(l_world, "file connection", "cat", Address(7, 1), l_cat.Port(), 0);
        PeerTestWorld::Settle(100);
        FakePeer* lp_order[] = {&l_cat, &l_bob, &l_ann};
        for (FakePeer* lp_peer : lp_order)
            QVERIFY(lp_peer->WaitForConnection(false, 50) == nullptr);

        for (int l_room = 0; l_room < Bound; ++l_room) {
            l_peers[std::size_t(l_room)]->Reset();
            QVERIFY2(lp_order[l_room]->WaitForConnection(false, 2000) != nullptr, qPrintable(QString::number(l_room)));
            PeerTestWorld::Settle(100);
            for (int l_later = l_room + 1; l_later < Bound; ++l_later)
                QVERIFY2(lp_order[l_later]->WaitForConnection(false, 50) == nullptr, qPrintable(QString::number(l_room)));
        }
    }
};

QTEST_GUILESS_MAIN(TestPeerAttemptLanes)
#include "tst_peer_attempt_lanes.moc"
