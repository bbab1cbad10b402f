// Replies go on the connection their request came on: to the peer that
// asked, at once, wherever it connects from and whatever the server says of
// the name. What we start ourselves still waits for the user's address.
#include "PeerLaterShares.h"
#include "PeerTestMessages.h"
#include "PeerTestWorld.h"
#include "WireBytes.h"

#include <QtTest>

#include <vector>

namespace
{
// Loopback addresses of the user the server knows, and of somewhere else.
constexpr quint32 UsersAddress = 0x7F000002;
constexpr quint32 Elsewhere = 0x7F000009;

using PeerTestMessages::Body;
using PeerTestMessages::Introduction;

// What the shares and transfer services answer, while the request is
// handled, as they do: a folder's contents, a transfer request accepted,
// a queued file refused.
void AnswerAsTheServicesDo(PeerMessenger& io_messenger)
{
    QObject::connect(&io_messenger, &PeerMessenger::SharedFilesInFolderRequested,
                     [&io_messenger](std::string i_user, quint32 i_req, std::string i_folder) {
                         MemStream l_reply;
                         l_reply.Write(37u);
                         l_reply.Write(i_req);
                         l_reply.Write(i_folder);
                         io_messenger.SendMessage(i_user, l_reply);
                     });
    QObject::connect(&io_messenger, &PeerMessenger::FileTransferRequested,
                     [&io_messenger](std::string i_user, int, uint i_req, std::string, qint64) {
                         io_messenger.AcceptTransferRequest(i_user, i_req, false, 0);
                     });
    QObject::connect(&io_messenger, &PeerMessenger::QueueUploadRequested,
                     [&io_messenger](std::string i_user, std::string i_file) {
                         io_messenger.DenyUpload(i_user, i_file, "File not shared.");
                     });
}

struct Request
{
    QByteArray m_request;
    QByteArray m_reply;
};

Request RequestOfKind(const QString& i_kind)
{
    if (i_kind == "browse")
        return {WireWriter().U32(4), WireWriter().U32(5).Str("listing")};
    if (i_kind == "folder")
        return {WireWriter().U32(36).U32(7).Str("music"), WireWriter().U32(37).U32(7).Str("music")};
    if (i_kind == "transfer")
        return {WireWriter().U32(40).U32(0).U32(9).Str("a.mp3"), WireWriter().U32(41).U32(9).U8(1)};
    return {WireWriter().U32(43).Str("a.mp3"), WireWriter().U32(50).Str("a.mp3").Str("File not shared.")};
}
}

class TestPeerReplies : public QObject
{
    Q_OBJECT

private slots:
    // Bob asks on a connection of his own: from another address than the
    // one the server gave (nothing listens there), before the server was
    // asked at all, or as a namesake of a bob the server knows elsewhere.
    // The reply reaches the connection that asked, at once: no look-up, no
    // connection of ours, nothing to the other bob.
    void aReplyGoesOnTheConnectionThatAsked_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("known");
        for (const char* lp_kind : {"browse", "folder", "transfer", "queue"}) {
            QTest::addRow("%s, the server gave another address", lp_kind) << lp_kind << "closed";
            QTest::addRow("%s, not looked up yet", lp_kind) << lp_kind << "unknown";
            QTest::addRow("%s, a namesake of a bob elsewhere", lp_kind) << lp_kind << "listening";
        }
    }
    void aReplyGoesOnTheConnectionThatAsked()
    {
        QFETCH(QString, kind);
        QFETCH(QString, known);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        PeerLaterShares l_shares;
        AnswerAsTheServicesDo(l_world.Messenger());
        FakePeer l_knownBob;
        QVERIFY(l_knownBob.Listen(UsersAddress));
        if (known == "closed")
            l_world.GiveAddress("bob", UsersAddress, 1, 0);
        else if (known == "listening")
            l_world.GiveAddress("bob", UsersAddress, l_knownBob.Port(), 0);

        FakePeer l_asker;
        FakePeerConnection* lp_asking = l_asker.ConnectTo(l_world.PlainPort(), false, 5000, Elsewhere);
        QVERIFY(lp_asking);
        lp_asking->SendFrame(Introduction("bob"));
        QVERIFY(PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("bob"); }));
        const Request l_request = RequestOfKind(kind);
        lp_asking->SendFrame(l_request.m_request);
        if (kind == "browse") {
            QVERIFY(PeerTestWorld::WaitFor([&] { return !l_shares.m_waiting.empty(); }));
            l_shares.Answer(0, l_request.m_reply);
        }

        QVERIFY(lp_asking->WaitForFrames(1));
        QCOMPARE(lp_asking->Frames(), QList<QByteArray>{l_request.m_reply});
        QVERIFY(l_world.m_requests.m_addressRequests.empty());
        QVERIFY(l_world.m_requests.m_relayed.empty());
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
        QVERIFY(!l_knownBob.WaitForConnection(false, 200));
    }

    // A namesake asks for bob's share from elsewhere and resets before the
    // reply is made. The reply goes only on a connection of bob's own that
    // stands; with none it is dropped: no look-up, no connection to bob,
    // nothing sent to a user who never asked. Whoever asked asks again.
    void aReplyWhoseConnectionWentGoesOnlyOnTheUsersOwnConnection_data()
    {
        QTest::addColumn<QString>("bob");
        QTest::newRow("known at his address, not connected") << "known";
        QTest::newRow("not looked up yet") << "unknown";
        QTest::newRow("his own connection stands") << "connected";
    }
    void aReplyWhoseConnectionWentGoesOnlyOnTheUsersOwnConnection()
    {
        QFETCH(QString, bob);
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        PeerLaterShares l_shares;
        FakePeer l_bob;
        QVERIFY(l_bob.Listen(UsersAddress));
        FakePeer l_bobsEnd;
        FakePeerConnection* lp_own = nullptr;
        if (bob == "known")
            l_world.GiveAddress("bob", UsersAddress, l_bob.Port(), 0);
        if (bob == "connected") {
            lp_own = l_world.ConnectAs(l_bobsEnd, "bob");
            QVERIFY(lp_own);
        }
        FakePeer l_asker;
        FakePeerConnection* lp_asking = l_asker.ConnectTo(l_world.PlainPort(), false, 5000, Elsewhere);
        QVERIFY(lp_asking);
        lp_asking->SendFrame(Introduction("bob"));
        lp_asking->SendFrame(WireWriter().U32(4));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_shares.m_waiting.empty(); }));
        lp_asking->Reset();
        QVERIFY(PeerTestWorld::WaitFor([&] { return PeerTestWorld::ItemCount("peer_socket") == (lp_own ? 1 : 0); }));
        l_world.ClearLog();

        l_shares.Answer(0, WireWriter().U32(5).Str("listing"));
        if (lp_own) {
            QVERIFY(lp_own->WaitForFrames(1));
            QCOMPARE(lp_own->Frames(), QList<QByteArray>{QByteArray(WireWriter().U32(5).Str("listing"))});
        } else {
            QVERIFY(!l_bob.WaitForConnection(false, 300));
            QCOMPARE(l_world.Count("The connection that asked went before the PM_SHARED_FILE_LIST reply to user bob, "
                                   "dropping it (said once a minute)."),
                     1);
        }
        QVERIFY(l_world.m_requests.m_addressRequests.empty());
        QVERIFY(l_world.m_requests.m_relayed.empty());
        QCOMPARE(PeerTestWorld::ItemCount("connect_to_peer_request"), 0);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }

    // While bob's queue request is handled we offer him another file that
    // waited for a slot: the offer is ours, not a reply, and waits for the
    // server to tell bob's address like anything else we start. The refusal
    // of what he asked for goes back at once.
    void ourOwnMessagesWhileARequestIsHandledStillWaitForTheAddress()
    {
        PeerTestWorld l_world;
        l_world.m_requests.m_canAskAddress = true;
        l_world.Load();
        QObject::connect(&l_world.Messenger(), &PeerMessenger::QueueUploadRequested,
                         [&l_world](std::string i_user, std::string i_file) {
                             l_world.Messenger().RequestUpload(i_user, "other.mp3", 10);
                             l_world.Messenger().DenyUpload(i_user, i_file, "File not shared.");
                         });
        FakePeer l_asker;
        FakePeerConnection* lp_asking = l_asker.ConnectTo(l_world.PlainPort(), false, 5000, Elsewhere);
        QVERIFY(lp_asking);
        lp_asking->SendFrame(Introduction("bob"));
        lp_asking->SendFrame(WireWriter().U32(43).Str("a.mp3"));
        QVERIFY(lp_asking->WaitForFrames(1));
        QCOMPARE(lp_asking->Frames().front(), QByteArray(WireWriter().U32(50).Str("a.mp3").Str("File not shared.")));
        QCOMPARE(l_world.m_requests.m_addressRequests, std::vector<std::string>{"bob"});
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        PeerTestWorld::Settle(100);
        QCOMPARE(lp_asking->Frames().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPeerReplies)
#include "tst_peer_replies.moc"
