// Work of ours at the connection bound: a newcomer of a network that would
// be refused may say it brings a file or answers a request of ours, and is
// then kept; a user we have work with keeps their connection when a crowd's
// network gives or idle connections close. The far ends bind loopback
// addresses of networks of their own (127.0.N.x).
#include "PeerClients.h"
#include "PeerSignalCatcher.h"
#include "LoopbackPorts.h"
#include "PeerTestWorld.h"
#include "FakePeer.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "peer/PeerAllowanceShare.h"
#include "peer/PeerMessenger.h"

#include <QtTest>

#include <functional>
#include <string>

namespace
{
using PeerClients::Address;
using PeerClients::Clients;
using PeerClients::ClosedCount;
using PeerClients::Introduce;

// What the server link writes when the server tells a user's address,
// without the ports that would start a connection to it.
void KnowAddress(const std::string& i_user, quint32 i_address)
{
    d.GetType("user")->GetItem(i_user) += d.GetType("user_address")->GetItem(std::to_string(i_address));
}

// Opens messaging connections from the address, all as the user, each once
// the one before was taken or refused.
bool OpenAs(Clients& io_clients, int i_count, const std::function<quint32(int)>& i_from, const std::string& i_user,
            quint16 i_port)
{
    for (int l_index = 0; l_index < i_count; ++l_index) {
        io_clients.push_back(std::make_unique<RawClient>());
        if (!io_clients.back()->Connect(i_port, i_from(l_index))
            || !io_clients.back()->Send(RawClient::Introduction(i_user)))
            return false;
        PeerTestWorld::Settle(PeerMessenger::RefusedRestMs + 10);
    }
    return true;
}

// The token of our one relayed request.
quint32 OurRelayedToken()
{
    const ItemSet l_requests = d.GetType("indirect_connect_to_peer_request")->GetItems();
    return l_requests.empty() ? 0 : ItemPtr(*l_requests.begin()).AsUInt();
}
}

class TestPeerBoundWork : public QObject
{
    Q_OBJECT

private slots:
    // The bound is full of one network's connections, and a newcomer of
    // that network comes: as a file connection whose token names a download
    // of ours, or as the answer to our relayed request for a file
    // connection, it is kept and handed over, and so is the messaging
    // connection of a user we browse, from that user's address; as any other
    // messaging connection, a file connection with another token or none, a
    // namesake from elsewhere or with a token that is not ours, it is
    // refused as any newcomer of the crowd is, and nothing is closed for it.
    void aNewcomerOfARefusedNetworkMaySayWhatItIs_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("keptAs");
        QTest::newRow("a file connection with a token of ours") << "file" << "FileConnectionRequested";
        QTest::newRow("a file connection with a token not ours") << "file, token not ours" << "";
        QTest::newRow("a bare file connection") << "bare file" << "";
        QTest::newRow("the answer to our request") << "answer" << "FileConnectionAccepted";
        QTest::newRow("a messaging connection") << "messaging" << "";
        QTest::newRow("a messaging connection of a user we browse") << "browsed" << "messaging";
        QTest::newRow("a namesake of a user we browse") << "namesake" << "";
        QTest::newRow("a token not ours") << "stranger's token" << "";
    }
    void aNewcomerOfARefusedNetworkMaySayWhatItIs()
    {
        QFETCH(QString, first);
        QFETCH(QString, keptAs);
        constexpr int Bound = 4;
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        Clients l_crowd;
        QVERIFY(Introduce(l_crowd, Bound, Address(2, 2), "crowd", l_world.PlainPort()));
        // A file connection of ours to a user whose address never comes:
        // only the relayed request can answer it.
        l_world.Messenger().RequestFileConnectionToUser("ann");
        QVERIFY(OurRelayedToken() != 0);

        l_world.Messenger().SetFileTokenCheck(
            [](const std::string& i_user, quint32 i_token) { return i_user == "fay" && i_token == 7; });
        l_world.Messenger().SetFileWaitCheck([](const std::string& i_user) { return i_user == "fay"; });
        KnowAddress("bea", Address(2, 9));

        RawClient l_newcomer;
        QVERIFY(l_newcomer.Connect(l_world.PlainPort(), Address(2, first == "namesake" ? 10 : 9)));
        if (first.contains("file")) {
            QVERIFY(l_newcomer.Send(FakePeerFrames::Plain(WireWriter().U8(1).Str("fay").Str("F").U32(0))));
            if (first != "bare file")
                QVERIFY(l_newcomer.Send(WireWriter().U32(first == "file" ? 7 : 8)));
        } else if (first == "answer" || first == "stranger's token") {
            const quint32 l_token = first == "answer" ? OurRelayedToken() : OurRelayedToken() + 100;
            QVERIFY(l_newcomer.Send(FakePeerFrames::Plain(WireWriter().U8(0).U32(l_token))));
        } else if (first == "browsed" || first == "namesake") {
            l_world.Messenger().GetUserSharedFiles("bea");
            QVERIFY(l_newcomer.Send(RawClient::Introduction("bea")));
        } else {
            QVERIFY(l_newcomer.Send(RawClient::Introduction("pat")));
        }
        if (keptAs == "messaging") {
            QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("bea"); }));
        } else if (keptAs.isEmpty()) {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_newcomer.ClosedByPeer(); },
                                           int(PeerBoundRules::TokenWaitAtBoundMs) + 2000));
            QCOMPARE(l_catcher.m_handOvers.size(), std::size_t(0));
        } else {
            QVERIFY(PeerTestWorld::WaitFor([&] { return !l_catcher.m_handOvers.empty(); }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal, keptAs.toStdString());
            QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string(first == "file" ? "fay" : "ann"));
        }
        PeerTestWorld::Settle(100);
        QCOMPARE(l_newcomer.ClosedByPeer(), keptAs.isEmpty());
        QVERIFY(!PeerTestWorld::HasMessagingConnection("pat"));
        QCOMPARE(PeerTestWorld::HasMessagingConnection("bea"), keptAs == "messaging");
        // Room was made for what was kept, from the crowd.
        QCOMPARE(ClosedCount(l_crowd), keptAs.isEmpty() ? 0 : 1);
    }

    // Silent newcomers are heard out up to a bound, a network up to its
    // share of it: one beyond its network's share closes that network's
    // oldest, one beyond the whole allowance the oldest of all, and only
    // that one.
    void theOldestHeardOutGoesWhenMoreCome_data()
    {
        QTest::addColumn<bool>("spread");
        QTest::newRow("one network beyond its share") << false;
        QTest::newRow("networks that fill the allowance, then another") << true;
    }
    void theOldestHeardOutGoesWhenMoreCome()
    {
        QFETCH(bool, spread);
        constexpr int Bound = 4;
        constexpr int Beyond = 3;
        const int l_share = int(PeerAllowanceShare::Share(PeerBoundRules::Allowance()));
        const int l_networks = spread ? int(PeerBoundRules::Allowance()) / l_share : 1;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        Clients l_crowd;
        QVERIFY(Introduce(l_crowd, Bound, Address(2, 2), "crowd", l_world.PlainPort()));
        Clients l_silent;
        const int l_count = l_networks * l_share + Beyond;
        for (int l_index = 0; l_index < l_count; ++l_index) {
            // Each network its share in turn; those beyond from one more.
            const int l_network = spread ? std::min(l_index / l_share, l_networks) : 0;
            l_silent.push_back(std::make_unique<RawClient>());
            QVERIFY(l_silent.back()->Connect(l_world.PlainPort(), Address(30 + l_network, 9)));
            // A turn each (it rests after hearing any out), so that none is
            // refused for the turn's share and they are taken in the order
            // they came in.
            PeerTestWorld::Settle(PeerMessenger::RefusedRestMs + 10);
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return ClosedCount(l_silent) == Beyond; }));
        PeerTestWorld::Settle(200);
        QCOMPARE(ClosedCount(l_silent), Beyond);
        for (int l_closed = 0; l_closed < Beyond; ++l_closed)
            QVERIFY(l_silent[std::size_t(l_closed)]->ClosedByPeer());
        QCOMPARE(ClosedCount(l_crowd), 0);
    }

    // At a bound of one connection a network, but for two neighbours, a
    // file connection of ours to one of them waits for room rather than
    // cut the other in the middle of an exchange with us (we just sent on
    // its connection), and takes the first place that frees.
    void aFileConnectionOfOursDoesNotCutANeighbourInAnExchange()
    {
        constexpr int Strangers = 2;
        PeerTestWorld l_world;
        // Takes the file connection when it is handed over.
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Messenger().SetConnectionBound(Strangers + 2);
        l_world.Load();
        Clients l_strangers;
        for (int l_index = 0; l_index < Strangers; ++l_index)
            QVERIFY(Introduce(l_strangers, 1, Address(20 + l_index, 2), QString("s%1_").arg(l_index), l_world.PlainPort()));
        Clients l_ann;
        Clients l_bea;
        QVERIFY(Introduce(l_ann, 1, Address(7, 2), "ann", l_world.PlainPort()));
        QVERIFY(Introduce(l_bea, 1, Address(7, 3), "bea", l_world.PlainPort()));
        // Work with bea: a browse of ours; an exchange with ann: a message,
        // on ann's own connection.
        l_world.GiveAddress("ann0", Address(7, 2), ClosedLoopbackPort(), 0);
        l_world.Messenger().GetUserSharedFiles("bea0");
        MemStream l_message;
        l_message.Write(static_cast<unsigned int>(51));
        l_world.Messenger().SendMessage("ann0", l_message);
        PeerTestWorld::Settle(50);

        FakePeer l_beaListens;
        QVERIFY(l_beaListens.Listen(Address(7, 3)));
        l_world.GiveAddress("bea0", Address(7, 3), l_beaListens.Port(), 0);
        l_world.Messenger().RequestFileConnectionToUser("bea0");
        QVERIFY(l_beaListens.WaitForConnection(false, 300) == nullptr);
        QVERIFY(!l_ann.front()->ClosedByPeer());
        QVERIFY(!l_bea.front()->ClosedByPeer());

        l_strangers.front()->Reset();
        QVERIFY(l_beaListens.WaitForConnection(false, 2000) != nullptr);
        QVERIFY(!l_ann.front()->ClosedByPeer());
    }

    // One address holds the crowd's connections, the first of them silent
    // longest. When the crowd gives for a stranger, or idle connections
    // close for one, a user we browse, or one the transfer manager has work
    // with, keeps their connection: the next of the crowd goes.
    void aUserWeHaveWorkWithKeepsTheirConnection_data()
    {
        QTest::addColumn<QString>("work");
        QTest::addColumn<bool>("idle");
        QTest::newRow("a browse of ours, the crowd gives") << "browse" << false;
        QTest::newRow("a browse of ours, idle connections close") << "browse" << true;
        QTest::newRow("a transfer, the crowd gives") << "transfer" << false;
        QTest::newRow("a transfer, idle connections close") << "transfer" << true;
    }
    void aUserWeHaveWorkWithKeepsTheirConnection()
    {
        QFETCH(QString, work);
        QFETCH(bool, idle);
        constexpr int Bound = 4;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Load();
        Clients l_crowd;
        KnowAddress("crowd0", Address(2, 2));
        QVERIFY(Introduce(l_crowd, Bound, Address(2, 2), "crowd", l_world.PlainPort()));
        if (work == "browse")
            l_world.Messenger().GetUserSharedFiles("crowd0");
        else
            l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "crowd0"; });
        if (idle)
            l_world.Advance(PeerMessenger::IdleEnoughToCloseMs + 1000);

        Clients l_strangers;
        QVERIFY(Introduce(l_strangers, 1, Address(9, 2), "stranger", l_world.PlainPort()));
        PeerTestWorld::Settle(100);
        QVERIFY(PeerTestWorld::HasMessagingConnection("crowd0"));
        QVERIFY(!l_crowd[0]->ClosedByPeer());
        QVERIFY(l_crowd[1]->ClosedByPeer());
        QCOMPARE(ClosedCount(l_crowd), 1);
        l_world.Messenger().SetWorkCheck(nullptr);
    }

    // A crowd that introduces itself under the name of a user we have work
    // with, from elsewhere or from that user's own address, never holds
    // more than the bound and the allowance above it.
    void namesakesOfAUserWeWorkWithTakeNoMoreThanTheAllowance_data()
    {
        QTest::addColumn<bool>("fromUsersAddress");
        QTest::newRow("from other addresses") << false;
        QTest::newRow("from the user's address") << true;
    }
    void namesakesOfAUserWeWorkWithTakeNoMoreThanTheAllowance()
    {
        QFETCH(bool, fromUsersAddress);
        constexpr int Bound = 4;
        constexpr int Namesakes = 100;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "hs0"; });
        l_world.Load();
        KnowAddress("hs0", Address(3, 2));
        Clients l_crowd;
        QVERIFY(Introduce(l_crowd, Bound, Address(2, 2), "crowd", l_world.PlainPort()));
        Clients l_namesakes;
        QVERIFY(OpenAs(
            l_namesakes, Namesakes,
            [fromUsersAddress](int i_index) { return fromUsersAddress ? Address(3, 2) : Address(4 + i_index % 8, 2); },
            "hs0", l_world.PlainPort()));
        PeerTestWorld::Settle(200);
        // What the peer layer holds: connections left waiting in the
        // listener's queue hold no descriptor of ours.
        QVERIFY(PeerTestWorld::ItemCount("peer_socket") + PeerTestWorld::ItemCount("uninitialized_socket")
                <= Bound + int(PeerBoundRules::Allowance()));
        l_world.Messenger().SetWorkCheck(nullptr);
    }

    // A user we have work with connected before the server told us the
    // user's address: once it does, that connection is the user's own and
    // holds, and the crowd's gives.
    void aConnectionFromTheAddressToldLaterHolds()
    {
        constexpr int Bound = 3;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "hs0"; });
        l_world.Load();
        Clients l_hs0;
        QVERIFY(OpenAs(l_hs0, 1, [](int) { return Address(3, 2); }, "hs0", l_world.PlainPort()));
        Clients l_crowd;
        // Later, from the same address: hs0's connection is the silent longest.
        QVERIFY(Introduce(l_crowd, Bound - 1, Address(3, 2), "crowd", l_world.PlainPort()));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == Bound; }));
        l_world.GiveAddress("hs0", Address(3, 2), 1, 0);

        Clients l_stranger;
        QVERIFY(Introduce(l_stranger, 1, Address(9, 2), "stranger", l_world.PlainPort()));
        PeerTestWorld::Settle(100);
        QVERIFY(!l_stranger.front()->ClosedByPeer());
        QVERIFY(!l_hs0.front()->ClosedByPeer());
        QCOMPARE(ClosedCount(l_crowd), 1);
        l_world.Messenger().SetWorkCheck(nullptr);
    }

    // Once the server gave a user's address, what we send the user goes on
    // a connection from there, or on one of ours to it: never to a namesake
    // that connected from elsewhere.
    void aNamesakeFromElsewhereIsSentNothing()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_hs0;
        QVERIFY(l_hs0.Listen(Address(3, 2)));
        l_world.GiveAddress("hs0", Address(3, 2), l_hs0.Port(), 0);
        FakePeer l_namesake;
        FakePeerConnection* lp_namesake = l_namesake.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_namesake);
        lp_namesake->SendRaw(RawClient::Introduction("hs0"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("hs0"); }));

        MemStream l_message;
        l_message.Write(static_cast<unsigned int>(51));
        l_world.Messenger().SendMessage("hs0", l_message);
        FakePeerConnection* lp_ours = l_hs0.WaitForConnection(false);
        QVERIFY(lp_ours);
        // Our introduction, then the message.
        QVERIFY(lp_ours->WaitForFrames(2));
        QCOMPARE(lp_ours->Frames().back(), WireWriter().U32(51).Bytes());
        PeerTestWorld::Settle(100);
        QVERIFY(lp_namesake->Frames().isEmpty());
    }

    // A user we have work with keeps one connection at the bound: the
    // newest from the user's address. The older ones give as anyone's.
    void onlyTheNewestConnectionOfAUserWeWorkWithHolds()
    {
        constexpr int Bound = 3;
        PeerTestWorld l_world;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "hs0"; });
        l_world.Load();
        KnowAddress("hs0", Address(3, 2));
        Clients l_hs0;
        QVERIFY(OpenAs(l_hs0, Bound, [](int) { return Address(3, 2); }, "hs0", l_world.PlainPort()));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == Bound; }));

        Clients l_stranger;
        QVERIFY(Introduce(l_stranger, 1, Address(9, 2), "stranger", l_world.PlainPort()));
        PeerTestWorld::Settle(100);
        QVERIFY(!l_stranger.front()->ClosedByPeer());
        QCOMPARE(ClosedCount(l_hs0), 1);
        QVERIFY(l_hs0.front()->ClosedByPeer());
        QVERIFY(!l_hs0.back()->ClosedByPeer());
        l_world.Messenger().SetWorkCheck(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestPeerBoundWork)
#include "tst_peer_bound_work.moc"
