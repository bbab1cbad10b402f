// The peer layer and the real server link together, against the fake central
// server: what the layer asks of the server, and what it does with the
// server's answers and relayed requests.
#include "FakeCentralServer.h"
#include "LoopbackPorts.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "server/Server.h"

#include <QtTest>

namespace
{
struct LinkedWorld
{
    LinkedWorld()
    {
        // The layer's requests go to the server link itself.
        SetPeerServerRequests(nullptr);
        m_world.Load();
        m_ok = m_central.Start();
        m_world.Link().SetServerAddress("127.0.0.1", m_central.Port());
        Settings::Set("password", "secret");
        m_world.Link().Connect();
        m_ok = m_ok && PeerTestWorld::WaitFor([this] { return m_world.Link().IsConnected(); });
    }

    PeerTestWorld m_world;
    FakeCentralServer m_central;
    bool m_ok = false;
};

QByteArray Relayed(const std::string& i_user, const std::string& i_type, quint16 i_port, quint32 i_token)
{
    return WireWriter().Str(i_user).Str(i_type).U32(PeerTestWorld::Loopback).U32(i_port).U32(i_token).U8(0).U32(1).U32(0);
}
}

class TestPeerServerLink : public QObject
{
    Q_OBJECT

private slots:
    void theServerLearnsOurPortsAtLogin()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        QVERIFY(l_linked.m_central.WaitFor(Server::SetWaitPortCode));
        QCOMPARE(l_linked.m_central.Received(Server::SetWaitPortCode).front().m_payload,
                 QByteArray(WireWriter().U32(2235).U32(1).U32(8973)));
    }

    void anUnknownUserFailsOnBothPaths()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        l_linked.m_world.Messenger().RequestDNetConnection("ghost");
        QVERIFY(l_linked.m_central.WaitFor(Server::ConnectToPeerCode));
        WireReader l_request(l_linked.m_central.Received(Server::ConnectToPeerCode).front().m_payload);
        const quint32 l_token = l_request.U32();
        QCOMPARE(l_request.Str(), std::string("ghost"));
        QCOMPARE(l_request.Str(), std::string("D"));
        QVERIFY(l_linked.m_central.WaitFor(Server::GetUserAddressCode));
        // The server cannot relay: with no direct path yet, the attempt ends.
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("connect_to_peer_request") == 0; }));
        const QStringList l_lines = l_linked.m_world.LogTexts();
        QVERIFY(l_lines.contains("Indirect connection of type D to user ghost failed"));
        QVERIFY(l_lines.contains("Neither socket nor indirect request found. Removing."));
        QVERIFY(l_token >= 1);
        // Its late address (0, nobody) starts nothing.
        PeerTestWorld::Settle(50);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
    }

    void aRelayedRequestIsAnsweredOrReportedAsFailed()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        QVERIFY(l_linked.m_central.Send("me", Server::ConnectToPeerCode, Relayed("bob", "P", l_peer.Port(), 5)));
        FakePeerConnection* lp_far = l_peer.WaitForConnection(false);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), QByteArray(WireWriter().U8(0).U32(5)));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 1; }));

        // A peer we cannot reach is reported back with its token.
        const quint16 l_closed = l_peer.Port();
        l_peer.StopListening();
        QVERIFY(l_linked.m_central.Send("me", Server::ConnectToPeerCode, Relayed("carl", "F", l_closed, 6)));
        QVERIFY(l_linked.m_central.WaitFor(Server::CantConnectToPeerCode));
        WireReader l_report(l_linked.m_central.Received(Server::CantConnectToPeerCode).front().m_payload);
        QCOMPARE(l_report.U32(), 6u);
        QCOMPARE(l_report.Str(), std::string("carl"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_connection_request") == 0; }));
    }

    // The link ties the request to its user before it writes the address
    // the request carries: the connection back must use that address, not
    // the one the user had.
    void aRelayedRequestIsAnsweredAtTheAddressItCarries()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_linked.m_world.GiveAddress("bob", PeerTestWorld::Loopback, ClosedLoopbackPort(), 0);
        QVERIFY(l_linked.m_central.Send("me", Server::ConnectToPeerCode, Relayed("bob", "P", l_peer.Port(), 7)));
        FakePeerConnection* lp_far = l_peer.WaitForConnection(false);
        QVERIFY(lp_far);
        QVERIFY(lp_far->WaitForFrames(1));
        QCOMPARE(lp_far->Frames().front(), QByteArray(WireWriter().U8(0).U32(7)));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::ItemCount("peer_socket") == 1; }));
        PeerTestWorld::Settle(100);
        QVERIFY(l_linked.m_central.Received(Server::CantConnectToPeerCode).empty());
        QCOMPARE(d.GetType("user")->HasItem("bob")["user_port"].AsInt(), int(l_peer.Port()));
    }

    // Zed was logged in nowhere when we last asked (address 0, port 0), then
    // logs in on a new port. Our browse asks again, and the answer's address
    // and port are tried together: not the new address with the old port 0,
    // which never leaves the machine.
    void anAddressAnswerIsTriedWithItsOwnPort()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        l_linked.m_central.AddKnownUser("zed", {});
        l_linked.m_world.Link().GetUserAddress("zed");
        QVERIFY(PeerTestWorld::WaitFor([] {
            ItemPtr l_zed = d.GetType("user")->HasItem("zed");
            return l_zed && l_zed.IsConnected("user_address") && l_zed.IsConnected("user_port");
        }));
        QCOMPARE(d.GetType("user")->HasItem("zed")["user_address"].AsString(), std::string("0"));

        FakePeer l_zed;
        QVERIFY(l_zed.Listen());
        FakeCentralServer::KnownUser l_online;
        l_online.m_address = PeerTestWorld::Loopback;
        l_online.m_port = l_zed.Port();
        l_linked.m_central.AddKnownUser("zed", l_online);
        l_linked.m_world.ClearLog();
        l_linked.m_world.Messenger().GetUserSharedFiles("zed");

        FakePeerConnection* lp_ours = l_zed.WaitForConnection(false);
        QVERIFY(lp_ours);
        QVERIFY(lp_ours->WaitForFrames(2));
        QCOMPARE(lp_ours->Frames().front(), QByteArray(WireWriter().U8(1).Str("me").Str("P").U32(0)));
        QCOMPARE(lp_ours->Frames().at(1), QByteArray(WireWriter().U32(4)));
        QCOMPARE(l_linked.m_world.Count("User zed address arrived"), 1);
        QCOMPARE(l_linked.m_world.Count("Direct connection of type P to user zed failed"), 0);
    }

    // The server leaves bob's look-up unanswered. When the peer layer's wait
    // for it ends, our browse reaches bob without the address and the look-up
    // goes to the server again, though the link's own clock reads a moment
    // less than that wait: the two clocks are read apart.
    void anUnansweredLookUpIsAskedAgainWhenItsWaitEnds()
    {
        LinkedWorld l_linked;
        QVERIFY(l_linked.m_ok);
        l_linked.m_central.LeaveAddressUnanswered("bob");
        qint64 l_linkNow = 5000;
        l_linked.m_world.Link().SetClock([&] { return l_linkNow; });
        auto l_lookUpsOf = [&](const std::string& i_user) {
            const QList<FakeCentralServer::Message> l_received = l_linked.m_central.Received(Server::GetUserAddressCode);
            const QByteArray l_payload = WireWriter().Str(i_user);
            return int(std::count_if(l_received.begin(), l_received.end(),
                                     [&](const FakeCentralServer::Message& i_message) {
                                         return i_message.m_payload == l_payload;
                                     }));
        };

        l_linked.m_world.Messenger().GetUserSharedFiles("bob");
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_lookUpsOf("bob") == 1; }));

        l_linked.m_world.Advance(PeerMessenger::AddressAskMs);
        l_linkNow += PeerMessenger::AddressAskMs - 1;
        l_linked.m_world.Messenger().EveryHalfMinute();
        QVERIFY(l_linked.m_world.LogTexts().contains(
            "The server told no address of user bob in time, reaching the user without it"));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_lookUpsOf("bob") == 2; }));
        // A look-up of someone else, sent after, marks what the server has
        // received by then: bob's went once more, not twice.
        l_linked.m_world.Link().GetUserAddress("mark");
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_lookUpsOf("mark") == 1; }));
        QCOMPARE(l_lookUpsOf("bob"), 2);
    }
};

QTEST_GUILESS_MAIN(TestPeerServerLink)
#include "tst_peer_server_link.moc"
