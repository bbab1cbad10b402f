// Connecting back to peers whose requests the server relayed to us.
#include "LoopbackPorts.h"
#include "PeerSignalCatcher.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include <QTcpSocket>
#include <QtTest>

namespace
{
QByteArray Indirect(quint32 i_token)
{
    return WireWriter().U8(0).U32(i_token);
}

}

class TestPeerAccept : public QObject
{
    Q_OBJECT

private slots:
    void weConnectBackAndNameTheToken_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("P plain") << "P" << false;
        QTest::newRow("P obfuscated") << "P" << true;
        QTest::newRow("F plain") << "F" << false;
        QTest::newRow("F obfuscated") << "F" << true;
        QTest::newRow("D") << "D" << false;
    }
    void weConnectBackAndNameTheToken()
    {
        QFETCH(QString, type);
        QFETCH(bool, obfuscated);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_plain;
        FakePeer l_masked;
        QVERIFY(l_plain.Listen() && l_masked.Listen());
        ItemPtr l_request = l_world.RelayRequest("bob", 77, type.toStdString(), PeerTestWorld::Loopback, l_plain.Port(),
                                                 obfuscated ? l_masked.Port() : 0);
        l_world.RunQueuedCalls();
        QCOMPARE(l_world.Count("Indirect peer connection requested from user bob"), 1);
        QCOMPARE(l_request.IsConnected("is_obfuscated"), obfuscated);
        ItemPtr l_socketItem = l_request["peer_connection_request_socket"];
        QVERIFY(l_socketItem);
        QCOMPARE(l_socketItem["socket_creation_time"].AsString(), l_world.m_now.toString(Qt::TextDate).toStdString());

        FakePeerConnection* lp_far = (obfuscated ? l_masked : l_plain).WaitForConnection(obfuscated);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), Indirect(77));
        if (!obfuscated)
            QCOMPARE(lp_far->Received(), QByteArray::fromHex("05000000004d000000"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_connection_request") == 0; }));
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        QCOMPARE(l_world.Count(QString("Response connection to indirect request from bob, type %1 opened").arg(type)), 1);

        if (type == "P") {
            ItemPtr l_socket = d.GetType("peer_socket")->GetItems();
            QCOMPARE(l_socket["user"].AsString(), std::string("bob"));
            QCOMPARE(l_socket.IsConnected("is_obfuscated"), obfuscated);
            QCOMPARE(l_socket.AsObject<QTcpSocket>()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
            lp_far->SendFrame(WireWriter().U32(1), 0x2468ACE0);
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_SAY message from user bob") == 1; }));
        } else if (type == "F") {
            // The asking side sends the raw token next, masked or not.
            lp_far->SendRaw(WireWriter().U32(0xFEEDF00D) + QByteArray("rest"));
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("FileConnectionRequested"));
            QCOMPARE(l_catcher.m_handOvers.front().m_token, 0xFEEDF00Du);
            QCOMPARE(l_catcher.m_handOvers.front().m_user, std::string("bob"));
        } else {
            QVERIFY(PeerTestWorld::WaitFor([&] { return l_catcher.m_handOvers.size() == 1; }));
            QCOMPARE(l_catcher.m_handOvers.front().m_signal, std::string("DNetConnectionRequested"));
        }
        QVERIFY(l_world.m_requests.m_cantConnect.empty());
    }

    void oneSocketPerRequestAndOneRequestPerToken()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        FakePeer l_other;
        QVERIFY(l_other.Listen());
        l_world.RelayRequest("bob", 5, "P", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 1);
        // New address values while it connects start nothing more.
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_other.Port(), 0);
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 1);
        // Another token is another request, with a socket of its own.
        l_world.RelayRequest("bob", 6, "P", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 2);

        FakePeerConnection* lp_one = l_peer.WaitForConnection(false);
        FakePeerConnection* lp_two = l_peer.WaitForConnection(false);
        QVERIFY(lp_one && lp_two && lp_one->WaitForFrames(1) && lp_two->WaitForFrames(1));
        QCOMPARE(QSet<QByteArray>({lp_one->Frames().front(), lp_two->Frames().front()}),
                 QSet<QByteArray>({Indirect(5), Indirect(6)}));
        PeerTestWorld::Settle(30);
        QCOMPARE(l_other.AcceptedCount(), 0);
        QVERIFY(l_other.WaitForConnection(false, 50) == nullptr);
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 2; }));
    }

    void aRefusedConnectionBackIsReportedOnce()
    {
        PeerTestWorld l_world;
        l_world.Load();
        l_world.RelayRequest("bob", 42, "F", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_world.m_requests.m_cantConnect.empty(); }));
        PeerTestWorld::Settle(30);
        QCOMPARE(l_world.m_requests.m_cantConnect.size(), std::size_t(1));
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_token, 42u);
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_user, std::string("bob"));
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        const QStringList l_lines = l_world.LogTexts();
        QCOMPARE(l_lines.mid(l_lines.indexOf("Disposing of socket")),
                 (QStringList{"Disposing of socket", "Identified as peer connection request socket", "Request found, removing"}));
    }

    void aZeroAddressIsReportedWithoutConnecting()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.RelayRequest("bob", 8, "P", 0, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        // The start returns with its items in place; the failure follows.
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 1);
        QVERIFY(l_world.m_requests.m_cantConnect.empty());
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.m_requests.m_cantConnect.size() == 1; }));
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_token, 8u);
        PeerTestWorld::Settle(50);
        QCOMPARE(l_peer.AcceptedCount(), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request"), 0);
    }

    // The server link ties the request to its user before it writes the
    // address the request brought; whatever the user held before must not
    // be used.
    void theConnectionBackUsesTheAddressTheRequestBrought_data()
    {
        QTest::addColumn<bool>("staleObfuscated");
        QTest::addColumn<bool>("freshObfuscated");
        QTest::newRow("stale plain port, fresh plain port") << false << false;
        QTest::newRow("stale obfuscated port, fresh plain port") << true << false;
        QTest::newRow("stale plain port, fresh obfuscated port") << false << true;
    }
    void theConnectionBackUsesTheAddressTheRequestBrought()
    {
        QFETCH(bool, staleObfuscated);
        QFETCH(bool, freshObfuscated);
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_live;
        QVERIFY(l_live.Listen());
        const quint16 l_closed = ClosedLoopbackPort();
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_closed, staleObfuscated ? l_closed : 0);
        ItemPtr l_request = l_world.RelayRequest("bob", 9, "P", PeerTestWorld::Loopback,
                                                 freshObfuscated ? l_closed : l_live.Port(),
                                                 freshObfuscated ? l_live.Port() : 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        l_world.RunQueuedCalls();
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 1);
        QCOMPARE(l_request.IsConnected("is_obfuscated"), freshObfuscated);

        FakePeerConnection* lp_far = l_live.WaitForConnection(freshObfuscated);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), Indirect(9));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 1; }));
        PeerTestWorld::Settle(50);
        QVERIFY(l_world.m_requests.m_cantConnect.empty());
        QCOMPARE(l_world.Count("Indirect peer connection requested from user bob"), 1);
        QVERIFY(l_live.WaitForConnection(freshObfuscated, 50) == nullptr);
    }

    void aRequestGoneBeforeItsTurnStartsNothing()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.RelayRequest("bob", 12, "P", PeerTestWorld::Loopback, l_peer.Port(), 0).Remove();
        PeerTestWorld::Settle(50);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        QVERIFY(l_peer.WaitForConnection(false, 50) == nullptr);
        QVERIFY(l_world.m_requests.m_cantConnect.empty());
        QCOMPARE(l_world.Count("Indirect peer connection requested from user bob"), 0);

        // A request made in its place (the store may reuse the spot) is
        // answered once, with its own token.
        l_world.RelayRequest("bob", 13, "P", PeerTestWorld::Loopback, l_peer.Port(), 0).Remove();
        l_world.RelayRequest("bob", 14, "P", PeerTestWorld::Loopback, l_peer.Port(), 0);
        FakePeerConnection* lp_far = l_peer.WaitForConnection(false);
        QVERIFY(lp_far && lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), Indirect(14));
        QVERIFY(l_peer.WaitForConnection(false, 50) == nullptr);
        QCOMPARE(l_world.Count("Indirect peer connection requested from user bob"), 1);
    }

    void anErrorInsideConnectToHostIsReportedLikeAnyFailure()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        PeerErrorWhileConnecting l_saboteur;
        d.GetType("peer_connection_request_socket")
            ->ItemAddedEvent.m_handlerSet.insert(l_saboteur.MakeHandler(&PeerErrorWhileConnecting::OnRecord));
        l_world.RelayRequest("bob", 31, "D", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        QCOMPARE(l_saboteur.m_stateAtRecord, QAbstractSocket::UnconnectedState);
        QVERIFY(l_saboteur.m_raised);
        QCOMPARE(l_world.m_requests.m_cantConnect.size(), std::size_t(1));
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_token, 31u);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        PeerTestWorld::Settle(50);
        QCOMPARE(l_peer.AcceptedCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerAccept)
#include "tst_peer_accept.moc"
