// Uploads to a user whose address the server never tells. Dave is logged in
// and asks for a file from his own address, but the server leaves every
// look-up of him unanswered; bob, whose address is known, waits behind him
// for the one upload slot. Our offer to dave waits for the look-up, then goes
// the way it goes to a user with no known address, and an offer of an
// upload that ended meanwhile never goes.
#include "PeerTestMessages.h"
#include "TransferRoad.h"
#include "UploadQueries.h"
#include "WireBytes.h"

#include "transfers/TransferStatus.h"

#include <QtTest>

namespace
{
using PeerTestMessages::Indirect;
using PeerTestMessages::Introduction;
using UploadQueries::UploadOf;

constexpr quint32 DavesAddress = 0x7F000004;
// The look-up's wait in these tests, on the peer layer's clock and the
// event loop's.
constexpr qint64 LookUpWaitMs = 200;

// The token of the last relayed request of the type to dave; 0 when none
// went.
quint32 RelayedToDave(const PeerTestWorld& i_world, const std::string& i_type)
{
    quint32 l_token = 0;
    for (const FakePeerServerRequests::Relayed& l_relayed : i_world.m_requests.m_relayed) {
        if (l_relayed.m_user == "dave" && l_relayed.m_type == i_type)
            l_token = l_relayed.m_token;
    }
    return l_token;
}

// Dave's side: his messaging connection to us, from his own address.
struct Dave
{
    FakePeer m_end;
    FakePeerConnection* mp_asking = nullptr;

    bool Connect(PeerTestWorld& io_world)
    {
        mp_asking = m_end.ConnectTo(io_world.PlainPort(), false, 5000, DavesAddress);
        if (!mp_asking)
            return false;
        mp_asking->SendFrame(Introduction("dave"));
        TransfersTestWorld::SetOnline("dave");
        return PeerTestWorld::WaitFor([] { return PeerTestWorld::HasMessagingConnection("dave"); });
    }
    // Dave answers our relayed request of the type with its token.
    FakePeerConnection* Answer(PeerTestWorld& io_world, const std::string& i_type)
    {
        if (!PeerTestWorld::WaitFor([&] { return RelayedToDave(io_world, i_type) != 0; }))
            return nullptr;
        FakePeerConnection* lp_answer = m_end.ConnectTo(io_world.PlainPort(), false, 5000, DavesAddress);
        if (lp_answer)
            lp_answer->SendFrame(Indirect(RelayedToDave(io_world, i_type)));
        return lp_answer;
    }
};
}  // namespace

class TestTransfersUploadLookUps : public QObject
{
    Q_OBJECT

private slots:
    // Once the look-up's wait is over, the offer goes by a relayed request
    // and dave's answer to it carries it; his download goes through
    // byte-exact, no set-up time runs out on the way, and bob's upload takes
    // the slot as soon as dave's ends.
    void aUserWhoseLookUpGoesUnansweredStillGetsHisFile()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        PeerTestWorld& l_peer = l_road.m_world.Peer();
        l_peer.Messenger().SetAddressAskMs(LookUpWaitMs);
        Dave l_dave;
        QVERIFY(l_dave.Connect(l_peer));
        const QByteArray l_bytes = Pattern(30000);
        const std::string l_davesPath = l_road.Share("d.bin", l_bytes);
        const std::string l_bobsPath = l_road.Share("b.bin", "bob's");
        l_dave.mp_asking->SendFrame(MessageBody(43, l_davesPath));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !UploadOf("dave", l_davesPath).IsNull(); }));
        l_road.mp_bob->SendFrame(MessageBody(43, l_bobsPath));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !UploadOf("bob", l_bobsPath).IsNull(); }));
        ItemPtr l_davesUpload = UploadOf("dave", l_davesPath);
        QCOMPARE(TransferRoad::StatusOf(l_davesUpload), std::string(TransferStatus::Requesting));
        QCOMPARE(l_peer.m_requests.m_addressRequests, std::vector<std::string>{"dave"});

        l_peer.Advance(LookUpWaitMs);
        FakePeerConnection* lp_answer = l_dave.Answer(l_peer, "P");
        QVERIFY(lp_answer);
        QVERIFY(lp_answer->WaitForFrames(1));
        WireReader l_offer(lp_answer->Frames().front());
        QCOMPARE(l_offer.U32(), 40u);
        QCOMPARE(l_offer.U32(), 1u);
        const quint32 l_token = l_offer.U32();
        QCOMPARE(l_offer.Str(), l_davesPath);
        QCOMPARE(l_offer.I64(), qint64(l_bytes.size()));
        QCOMPARE(l_davesUpload["transfer_req"].AsUInt(), l_token);
        lp_answer->SendFrame(WireWriter().U32(41).U32(l_token).U8(1));
        QVERIFY(TransferRoad::Reaches(l_davesUpload, TransferStatus::Connecting));

        // No address for the file connection either: dave answers our
        // relayed request for it, and we name the transfer.
        FakePeerConnection* lp_file = l_dave.Answer(l_peer, "F");
        QVERIFY(lp_file);
        QVERIFY(lp_file->WaitForBytes(4));
        QCOMPARE(WireReader(lp_file->Received()).U32(), l_token);
        lp_file->SendRaw(WireWriter().I64(0));
        QVERIFY(lp_file->WaitForBytes(4 + l_bytes.size()));
        QCOMPARE(lp_file->Received().mid(4), l_bytes);
        lp_file->Socket()->disconnectFromHost();
        QVERIFY(TransferRoad::Reaches(l_davesUpload, TransferStatus::Complete));

        QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(40).size() == 1; }));
        QCOMPARE(TransferRoad::StatusOf(UploadOf("bob", l_bobsPath)), std::string(TransferStatus::Requesting));
        QVERIFY(!l_road.m_world.LogTexts().join('\n').contains("timed out"));
        QCOMPARE(TransferRoad::FramesWithCode(lp_answer, 46).size(), 0);
    }

    // Dave answers nothing until his upload's set-up time ran out: the
    // upload fails, bob is offered his file at once, and when dave answers
    // our relayed request at last he is told of the failure, but never
    // offered the file of the upload that ended.
    void anOfferOfAnUploadThatEndedNeverGoes()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        qint64 l_now = 1000;
        l_road.Manager().SetClock([&] { return l_now; });
        PeerTestWorld& l_peer = l_road.m_world.Peer();
        l_peer.Messenger().SetAddressAskMs(LookUpWaitMs);
        Dave l_dave;
        QVERIFY(l_dave.Connect(l_peer));
        const std::string l_davesPath = l_road.Share("d.bin", "dave's");
        const std::string l_bobsPath = l_road.Share("b.bin", "bob's");
        l_dave.mp_asking->SendFrame(MessageBody(43, l_davesPath));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !UploadOf("dave", l_davesPath).IsNull(); }));
        l_road.mp_bob->SendFrame(MessageBody(43, l_bobsPath));
        QVERIFY(PeerTestWorld::WaitFor([&] { return !UploadOf("bob", l_bobsPath).IsNull(); }));
        l_peer.Advance(LookUpWaitMs);
        QVERIFY(PeerTestWorld::WaitFor([&] { return RelayedToDave(l_peer, "P") != 0; }));

        l_now += 30000;
        l_road.Manager().EveryHalfMinute();
        ItemPtr l_davesUpload = UploadOf("dave", l_davesPath);
        QCOMPARE(TransferRoad::StatusOf(l_davesUpload), std::string(TransferStatus::Aborted));
        QCOMPARE(l_davesUpload["upload_failure_reason"].AsString(), std::string("Cannot connect."));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_road.FramesWithCode(40).size() == 1; }));

        FakePeerConnection* lp_answer = l_dave.Answer(l_peer, "P");
        QVERIFY(lp_answer);
        QVERIFY(lp_answer->WaitForFrames(1));
        PeerTestWorld::Settle(100);
        QCOMPARE(lp_answer->Frames(), QList<QByteArray>{MessageBody(46, l_davesPath)});
        QVERIFY(l_dave.mp_asking->Frames().isEmpty());
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
    }
};

QTEST_GUILESS_MAIN(TestTransfersUploadLookUps)
#include "tst_transfers_upload_lookups.moc"
