// The half-minute sweep, driven by the test's clock, and socket disposal.
#include "PeerSignalCatcher.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtTest>

namespace
{
const QDateTime g_start(QDate(2024, 5, 1), QTime(12, 0, 0));

QDateTime At(qint64 i_ms)
{
    return g_start.addMSecs(i_ms);
}

QByteArray Direct(const std::string& i_user, const std::string& i_type)
{
    return WireWriter().U8(1).Str(i_user).Str(i_type).U32(0);
}

bool WaitForItems(const char* ip_type, int i_count)
{
    return PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount(ip_type) == i_count; });
}

QTcpSocket* OurSocket(const char* ip_type)
{
    return ItemPtr(d.GetType(ip_type)->GetItems()).AsObject<QTcpSocket>();
}
}

class TestPeerTimeouts : public QObject
{
    Q_OBJECT

private slots:
    void attemptsExpireAfterOneMinuteAndTheirRequestWithThem()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        // The direct socket is still connecting as far as the program knows:
        // no event is handled before the sweeps.
        l_world.Messenger().RequestDNetConnection("bob");
        QPointer<QTcpSocket> l_socket = OurSocket("connect_to_peer_request_socket");
        QVERIFY(l_socket);

        l_world.m_now = At(59999);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(l_world.LogTexts().isEmpty());

        l_world.m_now = At(60000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts(), (QStringList{"Indirect connection request of type D to bob expired, removing.",
                                                  "Inspecting peer connection request of type D to user bob for possible removal.",
                                                  "Socket found. Not removing request.",
                                                  "Direct connection attempt of type D to bob timed out, closing.",
                                                  "Inspecting peer connection request of type D to user bob for possible removal.",
                                                  "Neither socket nor indirect request found. Removing."}));
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request_socket"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
        // The socket is gone through the event loop and never introduced us.
        QVERIFY(l_socket);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(l_socket.isNull());
        FakePeerConnection* lp_far = l_peer.WaitForConnection(false, 200);
        if (lp_far) {
            PeerTestWorld::Settle(30);
            QVERIFY(lp_far->Received().isEmpty());
        }
        QVERIFY(!l_world.LogTexts().join('\n').contains("successful"));
    }

    void aDirectAttemptStartedLaterOutlivesItsRelayedRequest()
    {
        PeerTestWorld l_world;
        l_world.Load();
        l_world.Messenger().RequestFileConnectionToUser("bob");
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.m_now = At(30000);
        l_world.GiveAddress("bob", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.m_now = At(60000);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.Count("Socket found. Not removing request."), 1);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);
        l_world.m_now = At(90000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.Count("Direct connection attempt of type F to bob timed out, closing."), 1);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
    }

    void aConnectionBackThatHangsIsTakenDownAndReported()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        QVERIFY(l_peer.Listen());
        l_world.RelayRequest("bob", 77, "P", PeerTestWorld::Loopback, l_peer.Port(), 0);
        l_world.RunQueuedCalls();
        QPointer<QTcpSocket> l_socket = OurSocket("peer_connection_request_socket");
        l_world.m_now = At(59999);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 1);

        l_world.m_now = At(60000);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts(), (QStringList{"Indirect connection attempt of type P to bob timed out, closing.",
                                                  "Disposing of socket", "Identified as peer connection request socket",
                                                  "Request found, removing"}));
        QCOMPARE(l_world.m_requests.m_cantConnect.size(), std::size_t(1));
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_token, 77u);
        QCOMPARE(l_world.m_requests.m_cantConnect.front().m_user, std::string("bob"));
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_connection_request_socket"), 0);
        QVERIFY(l_socket);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(l_socket.isNull());
        PeerTestWorld::Settle(30);
        QCOMPARE(l_world.m_requests.m_cantConnect.size(), std::size_t(1));
        QVERIFY(!l_world.LogTexts().join('\n').contains("Response connection"));
    }

    void aMessagingConnectionClosesAfterTwoSilentMinutes()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QPointer<QTcpSocket> l_socket = OurSocket("peer_socket");

        // Received messages renew the time; sent ones do not.
        l_world.m_now = At(100000);
        lp_far->SendFrame(WireWriter().U32(1));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_SAY message from user bob") == 1; }));
        MemStream l_message;
        l_message.Write(4u);
        l_world.m_now = At(200000);
        l_world.Messenger().SendMessage("bob", l_message);
        l_world.m_now = At(219999);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 1);

        l_world.m_now = At(220000);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        QCOMPARE(l_world.LogTexts(), (QStringList{"Peer connection to user bob expired, closing.", "Disposing of socket",
                                                  "Identified as peer socket"}));
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);
        QVERIFY(lp_far->WaitForDisconnect());
        QVERIFY(l_socket);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(l_socket.isNull());
    }

    // A peer that stops reading leaves our writes unsent; the expired
    // connection must still go at once, or later messages would be written
    // to it and lost.
    void anExpiredConnectionWithUnsentBytesGoesAtOnce()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QPointer<QTcpSocket> l_ours = OurSocket("peer_socket");
        lp_far->Socket()->setReadBufferSize(16);
        lp_far->Socket()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        l_ours->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 4096);
        const QByteArray l_filler(1000000, 'x');
        for (int l_round = 0; l_round < 8 && l_ours->bytesToWrite() == 0; ++l_round) {
            MemStream l_big;
            l_big.Write(5u);
            l_big.WriteBuffer(l_filler.constData(), l_filler.size());
            l_world.Messenger().SendMessage("bob", l_big);
            PeerTestWorld::Settle(20);
        }
        PeerTestWorld::Settle(50);
        QVERIFY(l_ours->bytesToWrite() > 0);

        l_world.m_now = At(120000);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        QCOMPARE(l_ours->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(l_world.LogTexts(), (QStringList{"Peer connection to user bob expired, closing.", "Disposing of socket",
                                                  "Identified as peer socket"}));
        MemStream l_later;
        l_later.Write(4u);
        l_world.Messenger().SendMessage("bob", l_later);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 1);
        // The far end reads again, and so learns of the end.
        lp_far->Socket()->setReadBufferSize(0);
        QVERIFY(lp_far->WaitForDisconnect());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(l_ours.isNull());
    }

    void disposalDeletesTheSocketOnlyThroughTheEventLoop()
    {
        PeerTestWorld l_world;
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_far = l_world.ConnectAs(l_peer, "bob");
        QVERIFY(lp_far);
        QPointer<QTcpSocket> l_socket = OurSocket("peer_socket");
        // Closing a connected socket with nothing left to write signals its
        // end at once: disposal runs inside the sweep.
        l_world.m_now = At(120000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 0);
        QVERIFY(!l_socket.isNull());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(l_socket.isNull());
    }

    // Those that never introduced themselves are logged one by one; file
    // connections that introduced themselves and sent no token, which a
    // crowd opens by the hundred, in one line a minute.
    void connectionsThatNeverIntroduceThemselvesAreDropped()
    {
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_silent = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_slow = l_peer.ConnectTo(l_world.ObfuscatedPort(), true);
        FakePeerConnection* lp_file = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_otherFile = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_talker = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_silent && lp_slow && lp_file && lp_otherFile && lp_talker);
        QVERIFY(WaitForItems("uninitialized_socket", 5));
        lp_file->SendFrame(Direct("fay", "F"));
        lp_otherFile->SendFrame(Direct("sam", "F"));
        lp_talker->SendFrame(Direct("tom", "P"));
        QVERIFY(WaitForItems("peer_socket", 1));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Accepted file connection to user fay") == 1; }));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Accepted file connection to user sam") == 1; }));

        // A few bytes of a frame do not renew the time; a messaging
        // connection's messages renew its own.
        l_world.m_now = At(100000);
        lp_slow->SendRaw(QByteArray(5, 'z'));
        lp_talker->SendFrame(WireWriter().U32(1));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Received PM_SAY message from user tom") == 1; }));
        PeerTestWorld::Settle(30);
        l_world.m_now = At(119999);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(l_world.LogTexts().isEmpty());

        l_world.m_now = At(120000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.Count("Connection that never introduced itself expired, closing."), 2);
        QCOMPARE(l_world.LogTexts().filter("transfer token"),
                 QStringList{"File connections that sent no transfer token in two minutes expired, closing (said once "
                             "a minute)."});
        QCOMPARE(l_world.Count("Identified as uninitialized socket"), 2);
        QCOMPARE(l_world.Count("Socket not identified"), 2);
        QVERIFY(lp_silent->WaitForDisconnect());
        QVERIFY(lp_slow->WaitForDisconnect());
        QVERIFY(lp_file->WaitForDisconnect());
        QVERIFY(lp_otherFile->WaitForDisconnect());
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("peer_socket"), 1);
        QVERIFY(l_catcher.m_handOvers.empty());
    }

    // Anyone may open a connection and send its first message, or a file
    // connection's token, a byte at a time: the wait is timed from the
    // accept, however the bytes come.
    void aDrippedIntroductionEndsAtTheTimeOut_data()
    {
        QTest::addColumn<bool>("obfuscated");
        QTest::newRow("plain") << false;
        QTest::newRow("obfuscated") << true;
    }
    void aDrippedIntroductionEndsAtTheTimeOut()
    {
        QFETCH(bool, obfuscated);
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_peer;
        const quint16 l_port = obfuscated ? l_world.ObfuscatedPort() : l_world.PlainPort();
        FakePeerConnection* lp_drip = l_peer.ConnectTo(l_port, obfuscated);
        FakePeerConnection* lp_file = l_peer.ConnectTo(l_port, obfuscated);
        QVERIFY(lp_drip && lp_file);
        QVERIFY(WaitForItems("uninitialized_socket", 2));

        // The largest first message taken, announced at once and sent a
        // byte before every sweep.
        const QByteArray l_body(4096, 'd');
        const QByteArray l_wire = obfuscated ? FakePeerFrames::Masked(l_body, 0x13579BDF) : FakePeerFrames::Plain(l_body);
        int l_sent = obfuscated ? 8 : 4;
        lp_drip->SendRaw(l_wire.left(l_sent));
        // The file connection introduces itself late, then sends its token
        // but for one byte.
        for (qint64 l_at : {30000, 60000, 90000, 100000, 110000}) {
            l_world.m_now = At(l_at);
            lp_drip->SendRaw(l_wire.mid(l_sent, 1));
            ++l_sent;
            if (l_at == 90000) {
                lp_file->SendFrame(Direct("fay", "F"));
                QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Accepted file connection to user fay") == 1; }));
            }
            if (l_at == 100000)
                lp_file->SendRaw(QByteArray(3, 't'));
            PeerTestWorld::Settle(20);
            l_world.Messenger().EveryHalfMinute();
        }
        l_world.m_now = At(119999);
        l_world.ClearLog();
        l_world.Messenger().EveryHalfMinute();
        QVERIFY(l_world.LogTexts().isEmpty());

        l_world.m_now = At(120000);
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.Count("Connection that never introduced itself expired, closing."), 1);
        QCOMPARE(l_world.LogTexts().filter("transfer token").size(), 1);
        QCOMPARE(l_world.Count("Identified as uninitialized socket"), 1);
        QCOMPARE(l_world.Count("Socket not identified"), 1);
        QVERIFY(lp_drip->WaitForDisconnect());
        QVERIFY(lp_file->WaitForDisconnect());
        QCOMPARE(PeerTestWorld::ItemCount("uninitialized_socket"), 0);
        QVERIFY(l_catcher.m_handOvers.empty());
    }

    void socketsEndedByThePeerAreDisposedOf()
    {
        PeerTestWorld l_world;
        PeerSignalCatcher l_catcher(l_world.Messenger());
        l_world.Load();
        FakePeer l_peer;
        FakePeerConnection* lp_accepted = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_messaging = l_peer.ConnectTo(l_world.PlainPort(), false);
        FakePeerConnection* lp_file = l_peer.ConnectTo(l_world.PlainPort(), false);
        QVERIFY(lp_accepted && lp_messaging && lp_file);
        QVERIFY(WaitForItems("uninitialized_socket", 3));
        lp_messaging->SendFrame(Direct("bob", "P"));
        lp_file->SendFrame(Direct("fay", "F"));
        QVERIFY(WaitForItems("uninitialized_socket", 1));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Accepted file connection to user fay") == 1; }));

        l_world.ClearLog();
        lp_accepted->Socket()->disconnectFromHost();
        QVERIFY(WaitForItems("uninitialized_socket", 0));
        QCOMPARE(l_world.LogTexts(), (QStringList{"Disposing of socket", "Identified as uninitialized socket"}));

        l_world.ClearLog();
        lp_messaging->Socket()->disconnectFromHost();
        QVERIFY(WaitForItems("peer_socket", 0));
        QCOMPARE(l_world.LogTexts(), (QStringList{"Disposing of socket", "Identified as peer socket"}));
        QCOMPARE(PeerTestWorld::ItemCount("last_activity_time"), 0);

        // A file connection gone before its token was sent is no one's.
        l_world.ClearLog();
        lp_file->SendRaw(QByteArray(2, 't'));
        lp_file->Socket()->disconnectFromHost();
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Count("Disposing of socket") == 1; }));
        QCOMPARE(l_world.LogTexts(), (QStringList{"Disposing of socket", "Socket not identified"}));
        QVERIFY(l_catcher.m_handOvers.empty());
    }

    void anExpiredItemWithoutStampOrNamesStillGoes()
    {
        PeerTestWorld l_world;
        l_world.Load();
        d.GetType("indirect_connect_to_peer_request")->GetItem("9");
        l_world.Messenger().EveryHalfMinute();
        QCOMPARE(l_world.LogTexts(), QStringList{"Indirect connection request of type  to  expired, removing."});
        QCOMPARE(PeerTestWorld::ItemCount("indirect_connect_to_peer_request"), 0);
    }
};

QTEST_GUILESS_MAIN(TestPeerTimeouts)
#include "tst_peer_timeouts.moc"
