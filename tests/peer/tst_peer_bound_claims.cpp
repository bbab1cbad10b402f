// What honest peers keep at the connection bound while others claim its
// room: a file connection's token may come late, a crowd of one network
// holds no more than its share of the places above the bound, a user's
// answer to our relayed request is kept from whatever address it comes,
// and a connection carrying our unanswered requests is not closed for a
// newcomer, also when the peer's own requests came with ours unread.
// The far ends bind loopback addresses of networks of their own (127.0.N.x).
#include "PeerClients.h"
#include "PeerSignalCatcher.h"
#include "PeerTestWorld.h"
#include "FakePeer.h"
#include "LoopbackPorts.h"
#include "RawClient.h"
#include "WireBytes.h"

#include "peer/PeerAllowanceShare.h"
#include "peer/PeerMessenger.h"

#include <QRegularExpression>
#include <QtTest>

#include <string>

namespace
{
using PeerClients::Address;
using PeerClients::Clients;
using PeerClients::ClosedCount;
using PeerClients::Introduce;

// A loaded world at a bound of four connections, with the transfer
// manager's answers: a download of ours from fay waits for its file
// connection, under the token 7. It takes the sockets handed over.
struct FayAwaited
{
    static constexpr int Bound = 4;

    FayAwaited()
    {
        PeerMessenger& l_messenger = m_world.Messenger();
        l_messenger.SetConnectionBound(Bound);
        l_messenger.SetFileWaitCheck([](const std::string& i_user) { return i_user == "fay"; });
        l_messenger.SetFileTokenCheck(
            [](const std::string& i_user, quint32 i_token) { return i_user == "fay" && i_token == 7; });
        m_world.Load();
    }
    // Connections of one address that fill the bound.
    bool Fill(quint32 i_from) { return Introduce(m_crowd, Bound, i_from, "crowd", m_world.PlainPort()); }

    PeerTestWorld m_world;
    PeerSignalCatcher m_catcher{m_world.Messenger()};
    Clients m_crowd;
};
}

class TestPeerBoundClaims : public QObject
{
    Q_OBJECT

private slots:
    // The uploader writes its token apart from its introduction, and on a
    // slow link it comes more than a second later. Below the bound the file
    // connection waits for it as any new connection waits to introduce
    // itself; at the bound it waits a few seconds when a download of ours
    // waits for that user's file connection, and is refused at once when
    // none does.
    void aFileConnectionsTokenMayComeLate_data()
    {
        QTest::addColumn<bool>("atBound");
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("tokenAfterMs");
        QTest::addColumn<bool>("kept");
        QTest::newRow("below the bound, 1.2 s late") << false << "fay" << 1200 << true;
        QTest::newRow("below the bound, from anyone") << false << "sam" << 1200 << true;
        QTest::newRow("at the bound, a download waits, 1.2 s late") << true << "fay" << 1200 << true;
        QTest::newRow("at the bound, no download waits") << true << "sam" << 0 << false;
    }
    void aFileConnectionsTokenMayComeLate()
    {
        QFETCH(bool, atBound);
        QFETCH(QString, user);
        QFETCH(int, tokenAfterMs);
        QFETCH(bool, kept);
        FayAwaited l_fay;
        PeerTestWorld& l_world = l_fay.m_world;
        const auto& l_catcher = l_fay.m_catcher;
        const Clients& l_crowd = l_fay.m_crowd;
        if (atBound)
            QVERIFY(l_fay.Fill(Address(2, 2)));

        RawClient l_uploader;
        QVERIFY(l_uploader.Connect(l_world.PlainPort(), Address(5, 9)));
        QVERIFY(l_uploader.Send(RawClient::FileIntroduction(user.toStdString())));
        if (!kept) {
            // Refused for what it said, not for a token that never came.
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_uploader.ClosedByPeer(); }));
            const QString l_log = l_world.LogTexts().join('\n');
            QVERIFY(l_log.contains(QRegularExpression("Peer connections at their bound of \\d+, and the network of "
                                                      "127\\.0\\.5\\.9 holds \\d+ of them[^:]*: refusing its new "
                                                      "connections")));
            QVERIFY(!l_log.contains("sent no transfer token"));
            QVERIFY(l_catcher.m_handOvers.empty());
            QCOMPARE(ClosedCount(l_crowd), 0);
            return;
        }
        PeerTestWorld::Settle(tokenAfterMs);
        QVERIFY(!l_uploader.ClosedByPeer());
        QVERIFY(l_uploader.Send(WireWriter().U32(7)));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_catcher.m_handOvers.empty(); }));
        QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("FileConnectionRequested"));
        QCOMPARE(l_catcher.m_handOvers.front().m_user, user.toStdString());
        QCOMPARE(l_catcher.m_handOvers.front().m_token, 7u);
        // At the bound room was made for it, from the crowd.
        QCOMPARE(ClosedCount(l_crowd), atBound ? 1 : 0);
    }

    // Bare file connections under the name of a user we download from, 70
    // from one address at once: they hold their network's share of the
    // places above the bound, and no more. An honest file connection from
    // another network, with the token of our download, is heard, kept and
    // handed over.
    void oneNetworksFileCrowdLeavesPlacesForOthers()
    {
        constexpr int Crowd = 70;
        FayAwaited l_fay;
        PeerTestWorld& l_world = l_fay.m_world;
        const auto& l_catcher = l_fay.m_catcher;
        QVERIFY(l_fay.Fill(Address(2, 2)));

        Clients l_files;
        for (int l_index = 0; l_index < Crowd; ++l_index) {
            l_files.push_back(std::make_unique<RawClient>());
            QVERIFY(l_files.back()->Connect(l_world.PlainPort(), Address(4, 9)));
            QVERIFY(l_files.back()->Send(RawClient::FileIntroduction("fay")));
        }
        const int l_share = int(PeerAllowanceShare::Share(PeerBoundRules::Allowance()));
        QVERIFY(PeerTestWorld::WaitFor([&] { return ClosedCount(l_files) == Crowd - l_share; }));

        RawClient l_honest;
        QVERIFY(l_honest.Connect(l_world.PlainPort(), Address(5, 9)));
        QVERIFY(l_honest.Send(RawClient::FileIntroduction("fay") + WireWriter().U32(7).Bytes()));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_catcher.m_handOvers.empty(); }));
        QCOMPARE(l_catcher.m_handOvers.size(), std::size_t(1));
        QCOMPARE(l_catcher.m_handOvers.front().m_token, 7u);
        QVERIFY(!l_honest.ClosedByPeer());
        QCOMPARE(ClosedCount(l_files), Crowd - l_share);
    }

    // The user we download from shares a network with the crowd that fills
    // the bound, and the crowd's newcomers use up what a turn hears of a
    // refused network. The user's file connection, from the address the
    // server gave for the user, is heard all the same, and kept.
    void aFileConnectionFromTheAddressOfAUserWeAwaitIsHeardInACrowdsTurn()
    {
        constexpr int Silent = PeerMessenger::HeardOutPerTurn + 10;
        FayAwaited l_awaited;
        PeerTestWorld& l_world = l_awaited.m_world;
        const auto& l_catcher = l_awaited.m_catcher;
        l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "fay"; });
        d.GetType("user")->GetItem("fay") += d.GetType("user_address")->GetItem(std::to_string(Address(7, 9)));
        QVERIFY(l_awaited.Fill(Address(7, 2)));

        Clients l_silent;
        for (int l_index = 0; l_index < Silent; ++l_index) {
            l_silent.push_back(std::make_unique<RawClient>());
            QVERIFY(l_silent.back()->Connect(l_world.PlainPort(), Address(7, 3)));
        }
        RawClient l_fay;
        QVERIFY(l_fay.Connect(l_world.PlainPort(), Address(7, 9)));
        QVERIFY(l_fay.Send(RawClient::FileIntroduction("fay") + WireWriter().U32(7).Bytes()));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_catcher.m_handOvers.empty() || l_fay.ClosedByPeer(); }));
        QCOMPARE(l_catcher.m_handOvers.size(), std::size_t(1));
        QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("fay"));
        QCOMPARE(l_catcher.m_handOvers.front().m_token, 7u);
        QVERIFY(!l_fay.ClosedByPeer());
        l_world.Messenger().SetWorkCheck(nullptr);
    }

    // A file connection for our download, from the crowd's network, is
    // heard out but not read at once; more of that network come in the same
    // turn than its share of places. Its place goes to one of them only
    // after what it sent was read: it brought its token, and is kept.
    void aNewcomerNotYetReadIsReadBeforeItGivesItsPlace()
    {
        FayAwaited l_awaited;
        PeerTestWorld& l_world = l_awaited.m_world;
        QVERIFY(l_awaited.Fill(Address(2, 2)));
        RawClient l_fay;
        QVERIFY(l_fay.Connect(l_world.PlainPort(), Address(2, 9)));
        QVERIFY(l_fay.Send(RawClient::FileIntroduction("fay") + WireWriter().U32(7).Bytes()));
        Clients l_silent;
        for (int l_index = 0; l_index < int(PeerAllowanceShare::Share(PeerBoundRules::Allowance())); ++l_index) {
            l_silent.push_back(std::make_unique<RawClient>());
            QVERIFY(l_silent.back()->Connect(l_world.PlainPort(), Address(2, 10)));
        }
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_awaited.m_catcher.m_handOvers.empty() || l_fay.ClosedByPeer(); }));
        QCOMPARE(l_awaited.m_catcher.m_handOvers.size(), std::size_t(1));
        QCOMPARE(l_awaited.m_catcher.m_handOvers.front().m_token, 7u);
        QVERIFY(!l_fay.ClosedByPeer());
    }

    // The server gave an address where the user cannot be reached, and our
    // direct attempt failed; a crowd fills the bound. The user answers our
    // relayed request from another address of its own network: the answer
    // is work of ours, kept, and room is made for it from the crowd.
    void anAnswerFromAnotherAddressThanTheServerGaveIsKept_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("messaging") << "P";
        QTest::newRow("file") << "F";
    }
    void anAnswerFromAnotherAddressThanTheServerGaveIsKept()
    {
        QFETCH(QString, type);
        FayAwaited l_fay;
        PeerTestWorld& l_world = l_fay.m_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.GiveAddress("fay", Address(7, 5), ClosedLoopbackPort(), 0);
        if (type == "P") {
            MemStream l_placeInLine;
            l_placeInLine.Write(static_cast<unsigned int>(51));
            l_world.Messenger().SendMessage("fay", l_placeInLine);
        } else {
            l_world.Messenger().RequestFileConnectionToUser("fay");
        }
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return l_world.Count(QString("Direct connection of type %1 to user fay failed").arg(type)) == 1; }));
        QVERIFY(l_fay.Fill(Address(2, 2)));

        FakePeer l_far;
        FakePeerConnection* lp_answer = l_far.ConnectTo(l_world.PlainPort(), false, 5000, Address(7, 14));
        QVERIFY(lp_answer);
        lp_answer->SendFrame(WireWriter().U8(0).U32(l_world.m_requests.m_relayed.front().m_token));
        if (type == "P") {
            QVERIFY(lp_answer->WaitForFrames(1));
            QCOMPARE(lp_answer->Frames().front(), QByteArray(WireWriter().U32(51)));
        } else {
            QVERIFY(PeerTestWorld::WaitFor([&] { return !l_fay.m_catcher.m_handOvers.empty(); }));
            QCOMPARE(l_fay.m_catcher.m_handOvers.front().m_signal, std::string("FileConnectionAccepted"));
            QCOMPARE(l_fay.m_catcher.m_handOvers.front().m_user, std::string("fay"));
        }
        QCOMPARE(ClosedCount(l_fay.m_crowd), 1);
        QCOMPARE(lp_answer->Socket()->state(), QAbstractSocket::ConnectedState);
    }

    // Our requests to a user we download from went on a connection, and the
    // user has not answered them yet; the user's own newer connection took
    // the protection. A newcomer needs room: the first stays, though it is
    // the one silent longest, and the crowd gives. The first is ours, or
    // the user's own, on which what waited went as soon as it introduced
    // itself: a browse request of the user's came with the introduction,
    // sent before the user could have read ours, and answers none of them.
    void ourUnansweredRequestsKeepTheirConnection_data()
    {
        QTest::addColumn<bool>("usersOwn");
        QTest::newRow("our connection") << false;
        QTest::newRow("the user's, a request of its own came with its introduction") << true;
    }
    void ourUnansweredRequestsKeepTheirConnection()
    {
        QFETCH(bool, usersOwn);
        constexpr int Bound = 3;
        const quint32 l_bobsAddress = Address(7, 2);
        PeerTestWorld l_world;
        // Nothing waits for the server: what waits goes on the user's first
        // connection when no address is known.
        l_world.m_requests.m_canAskAddress = false;
        l_world.Messenger().SetConnectionBound(Bound);
        l_world.Messenger().SetIdleEnoughToCloseMs(0);
        l_world.Messenger().SetWorkCheck([](const std::string& i_user) { return i_user == "bob"; });
        l_world.Load();
        FakePeer l_bob;
        if (!usersOwn) {
            QVERIFY(l_bob.Listen(l_bobsAddress));
            l_world.GiveAddress("bob", l_bobsAddress, l_bob.Port(), 0);
        }
        MemStream l_placeInLine;
        l_placeInLine.Write(static_cast<unsigned int>(51));
        l_world.Messenger().SendMessage("bob", l_placeInLine);
        FakePeerConnection* lp_first = nullptr;
        if (usersOwn) {
            lp_first = l_bob.ConnectTo(l_world.PlainPort(), false, 5000, l_bobsAddress);
            QVERIFY(lp_first);
            lp_first->SendRaw(RawClient::Introduction("bob") + WireWriter::Frame(4, {}));
            QVERIFY(PeerTestWorld::WaitFor([&] {
                return l_world.Count("Received PM_GET_SHARED_FILE_LIST message from user bob") == 1;
            }));
            l_world.GiveAddress("bob", l_bobsAddress, ClosedLoopbackPort(), 0);
        } else {
            lp_first = l_bob.WaitForConnection(false);
            QVERIFY(lp_first);
        }
        // Ours introduces itself first.
        QVERIFY(lp_first->WaitForFrames(usersOwn ? 1 : 2));
        QCOMPARE(lp_first->Frames().back(), QByteArray(WireWriter().U32(51)));

        FakePeerConnection* lp_newer = l_bob.ConnectTo(l_world.PlainPort(), false, 5000, l_bobsAddress);
        QVERIFY(lp_newer);
        lp_newer->SendRaw(RawClient::Introduction("bob"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 2; }));
        Clients l_crowd;
        QVERIFY(Introduce(l_crowd, 1, Address(2, 2), "crowd", l_world.PlainPort()));

        Clients l_newcomer;
        QVERIFY(Introduce(l_newcomer, 1, Address(3, 2), "pat", l_world.PlainPort()));
        PeerTestWorld::Settle(100);
        QCOMPARE(lp_first->Socket()->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(lp_newer->Socket()->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(ClosedCount(l_crowd), 1);
        l_world.Messenger().SetWorkCheck(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestPeerBoundClaims)
#include "tst_peer_bound_claims.moc"
