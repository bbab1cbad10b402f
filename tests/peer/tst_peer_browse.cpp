// Browsing shares: asking for a user's share, answering such a request
// through the shared-folders service, receiving a listing, and requests for
// one folder.
#include "PeerConversation.h"
#include "PeerLaterShares.h"

#include "peer/PeerProbation.h"
#include "peer/SharedFoldersService.h"

#include <QtTest>

#include <vector>

namespace
{
// Stands in for the shared-folders service: answers every browse request
// with the same prepared body.
class StandInShares : public SharedFoldersService
{
public:
    StandInShares() { sharedFoldersService = this; }
    ~StandInShares() override { sharedFoldersService = nullptr; }

    MemStream GetSharedFilesMessage(std::string i_user) override
    {
        m_askedBy.push_back(i_user);
        MemStream l_answer;
        l_answer.WriteBuffer(m_answer.constData(), static_cast<unsigned long>(m_answer.size()));
        return l_answer;
    }

    QByteArray m_answer;
    std::vector<std::string> m_askedBy;
};

using LaterShares = PeerLaterShares;

MemStream Message(const QByteArray& i_body)
{
    MemStream l_message;
    l_message.WriteBuffer(i_body.constData(), static_cast<unsigned long>(i_body.size()));
    return l_message;
}

struct ReceivedShare
{
    std::string m_user;
    FileInfoMap m_share;
    AttributeTranslationTable m_table;
};

struct FolderRequest
{
    std::string m_user;
    quint32 m_token;
    std::string m_folder;
};

// Records what the messenger hands to the shared-folders service.
struct ShareListener
{
    explicit ShareListener(PeerMessenger& io_messenger)
    {
        QObject::connect(&io_messenger, &PeerMessenger::UserShare,
                         [this](std::string i_user, FileInfoMap& i_share, AttributeTranslationTable& i_table) {
                             m_shares.push_back({i_user, i_share, i_table});
                         });
        QObject::connect(&io_messenger, &PeerMessenger::SharedFilesInFolderRequested,
                         [this](std::string i_user, quint32 i_token, std::string i_folder) {
                             m_folderRequests.push_back({i_user, i_token, i_folder});
                         });
    }
    std::vector<ReceivedShare> m_shares;
    std::vector<FolderRequest> m_folderRequests;
};

// Two folders: one with two files (the second with attributes), one empty.
QByteArray Folders()
{
    return WireWriter()
        .U32(2)
        .Str("music\\jazz")
        .U32(2)
        .U8(1).Str("b.ogg").I64(5).Str("ogg").U32(0)
        .U8(1).Str("a.mp3").I64(1234567890123).Str("mp3").U32(2).U32(0).I32(320).U32(1).I32(-1)
        .Str("empty")
        .U32(0);
}

QByteArray Listing(const QByteArray& i_plain)
{
    return WireWriter().U32(5).Raw(Compressed(i_plain));
}
}

class TestPeerBrowse : public QObject
{
    Q_OBJECT

private slots:
    void askingForAShareSendsTheBareCode()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        l_talk.Messenger().GetUserSharedFiles("bob");
        QVERIFY(l_talk.mp_far->WaitForFrames(1));
        QCOMPARE(l_talk.mp_far->Frames(), QList<QByteArray>{WireWriter().U32(4)});
    }

    void aBrowseRequestIsAnsweredWithTheServicesListing()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        // Before the service exists nothing is answered, and the peer stays.
        QVERIFY(l_talk.Send(WireWriter().U32(4)));
        QVERIFY(l_talk.StillOpen());
        QVERIFY(l_talk.mp_far->Frames().isEmpty());

        StandInShares l_shares;
        l_shares.m_answer = WireWriter().U32(5).Raw("prepared listing");
        QVERIFY(l_talk.Send(WireWriter().U32(4)));
        QVERIFY(l_talk.mp_far->WaitForFrames(1));
        QCOMPARE(l_talk.mp_far->Frames(), QList<QByteArray>{l_shares.m_answer});
        QCOMPARE(l_shares.m_askedBy, std::vector<std::string>{"bob"});
    }

    void laterMessagesWaitBehindBrowseRepliesBeingMade()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        LaterShares l_shares;
        QVERIFY(l_talk.Send(WireWriter().U32(4)));
        QVERIFY(l_talk.Send(WireWriter().U32(4)));
        QCOMPARE(l_shares.m_waiting.size(), std::size_t(2));

        // The answer to a later request waits, and so does the second
        // listing while the first is not made.
        MemStream l_later = Message(WireWriter().U32(37).Raw("folder"));
        l_talk.Messenger().SendMessage("bob", l_later);
        l_shares.Answer(1, WireWriter().U32(5).Raw("second"));
        // Another user's messages do not wait: with no connection, it is
        // queued for one at once.
        MemStream l_other = Message(WireWriter().U32(37).Raw("other"));
        l_talk.Messenger().SendMessage("carol", l_other);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 1);
        PeerTestWorld::Settle();
        QVERIFY(l_talk.mp_far->Frames().isEmpty());

        // The first has nothing to send; the rest goes in order.
        l_shares.Answer(0, QByteArray());
        QVERIFY(l_talk.mp_far->WaitForFrames(2));
        QCOMPARE(l_talk.mp_far->Frames(),
                 (QList<QByteArray>{WireWriter().U32(5).Raw("second"), WireWriter().U32(37).Raw("folder")}));

        // Nothing waits any more.
        MemStream l_now = Message(WireWriter().U32(37).Raw("now"));
        l_talk.Messenger().SendMessage("bob", l_now);
        QVERIFY(l_talk.mp_far->WaitForFrames(3));
    }

    void aListingArrivesAsTheUsersShare()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        l_talk.Messenger().GetUserSharedFiles("bob");
        const QByteArray l_table = WireWriter().U32(2).I32(0).Str("bitrate").I32(1).Str("length");
        QVERIFY(l_talk.Send(Listing(Folders() + l_table + "trailing bytes")));
        QVERIFY(l_talk.StillOpen());

        QCOMPARE(l_listener.m_shares.size(), std::size_t(1));
        const ReceivedShare& l_received = l_listener.m_shares.front();
        QCOMPARE(l_received.m_user, std::string("bob"));
        QCOMPARE(l_received.m_share.size(), std::size_t(2));
        QVERIFY(l_received.m_share.at("empty").empty());
        const std::set<FileInfo>& l_jazz = l_received.m_share.at("music\\jazz");
        QCOMPARE(l_jazz.size(), std::size_t(2));
        const FileInfo& l_first = *l_jazz.begin();
        QCOMPARE(l_first.m_name, std::string("a.mp3"));
        QCOMPARE(l_first.m_fileSize, qint64(1234567890123));
        QCOMPARE(l_first.m_attributeMap.m_extension, std::string("mp3"));
        QCOMPARE(l_first.m_attributeMap.m_map,
                 (std::list<std::pair<unsigned int, int>>{{0u, 320}, {1u, -1}}));
        QCOMPARE(std::next(l_jazz.begin())->m_name, std::string("b.ogg"));
        QCOMPARE(l_received.m_table, (AttributeTranslationTable{{0, "bitrate"}, {1, "length"}}));
    }

    // Listings come only as answers: one per request, and none unasked,
    // whatever becomes of the answer.
    void onlyAnAskedForListingIsTakenIn()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        const QString l_dropped = "Listing from user bob was not asked for, dropped";
        QVERIFY(l_talk.Send(Listing(Folders())));
        QCOMPARE(l_talk.LinesAfterReceipt(), QStringList{l_dropped});
        QVERIFY(l_talk.StillOpen());
        QVERIFY(l_listener.m_shares.empty());

        // Asked for another user: still not bob's.
        l_talk.Messenger().GetUserSharedFiles("ann");
        QVERIFY(l_talk.Send(Listing(Folders())));
        QCOMPARE(l_talk.LinesAfterReceipt(), QStringList{l_dropped});

        // Asked twice before the answer: one listing is taken.
        l_talk.Messenger().GetUserSharedFiles("bob");
        l_talk.Messenger().GetUserSharedFiles("bob");
        QVERIFY(l_talk.Send(Listing(Folders())));
        QCOMPARE(l_listener.m_shares.size(), std::size_t(1));
        QVERIFY(l_talk.Send(Listing(Folders())));
        QCOMPARE(l_talk.LinesAfterReceipt(), QStringList{l_dropped});
        QCOMPARE(l_listener.m_shares.size(), std::size_t(1));

        // Asked again: a newer listing comes as the older did.
        l_talk.Messenger().GetUserSharedFiles("bob");
        QVERIFY(l_talk.Send(Listing(Folders())));
        QCOMPARE(l_listener.m_shares.size(), std::size_t(2));
    }

    // A peer drops a listing whose asking connection went before it was
    // sent: our request goes again when its connection goes before the
    // listing came, once per ask, however that connection had shown it was
    // alive. Bob listens at the address the server gives.
    void aBrowseWhoseConnectionWentIsAskedAgainOnce_data()
    {
        QTest::addColumn<QString>("proof");
        QTest::addColumn<int>("askedAgainLines");
        // Reset within its grace: the copy kept on probation is the once.
        QTest::newRow("on probation") << "none" << 0;
        QTest::newRow("stood its grace") << "grace" << 1;
        QTest::newRow("the peer spoke") << "spoke" << 1;
    }
    void aBrowseWhoseConnectionWentIsAskedAgainOnce()
    {
        QFETCH(QString, proof);
        QFETCH(int, askedAgainLines);
        PeerTestWorld l_world;
        l_world.Load();
        ShareListener l_listener(l_world.Messenger());
        FakePeer l_bob;
        FakePeer l_bobsOwn;
        FakePeerConnection* lp_first = l_world.BrowseOnOwnConnection(l_bob, l_bobsOwn, "bob");
        QVERIFY(lp_first);
        const auto l_prove = [&](FakePeerConnection* ip_far, const QString& i_proof, int i_spoken) {
            if (i_proof == "grace")
                l_world.Advance(PeerProbation::GraceMs);
            if (i_proof != "spoke")
                return true;
            ip_far->SendFrame(WireWriter().U32(52));
            return PeerTestWorld::WaitFor(
                [&] { return l_world.Count("Received PM_NOTHING message from user bob") == i_spoken; });
        };
        QVERIFY(l_prove(lp_first, proof, 1));
        lp_first->Reset();

        // Our own connection to bob carries the request again, once.
        FakePeerConnection* lp_second = l_bob.WaitForConnection(false);
        QVERIFY(lp_second);
        QVERIFY(lp_second->WaitForFrames(2));
        PeerTestWorld::Settle();
        QCOMPARE(lp_second->Frames().mid(1), QList<QByteArray>{WireWriter().U32(4)});
        const QString l_again = "The connection that carried our shared file list request to user bob went before the "
                                "listing came, asking again";
        QCOMPARE(l_world.Count(l_again), askedAgainLines);

        // Lost a second time, after it stood: nothing more is asked.
        QVERIFY(l_prove(lp_second, "grace", 0));
        lp_second->Reset();
        QVERIFY(!l_bob.WaitForConnection(false, 300));
        QCOMPARE(l_bob.AcceptedCount(), 1);
        QCOMPARE(PeerTestWorld::ItemCount("unsent_message"), 0);
        QCOMPARE(l_world.Count(l_again), askedAgainLines);

        // The user asks again: that request goes, and its listing is taken,
        // once.
        l_world.Messenger().GetUserSharedFiles("bob");
        FakePeerConnection* lp_third = l_bob.WaitForConnection(false);
        QVERIFY(lp_third);
        QVERIFY(lp_third->WaitForFrames(2));
        QCOMPARE(lp_third->Frames().mid(1), QList<QByteArray>{WireWriter().U32(4)});
        lp_third->SendFrame(Listing(Folders()));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_listener.m_shares.size() == 1; }));
        lp_third->SendFrame(Listing(Folders()));
        QVERIFY(PeerTestWorld::WaitFor(
            [&] { return l_world.Count("Listing from user bob was not asked for, dropped") == 1; }));
        QCOMPARE(l_listener.m_shares.size(), std::size_t(1));
    }

    void aListingWithoutAReadableTableComesWithAnEmptyOne_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("cut short after one entry") << QByteArray(WireWriter().U32(2).I32(0).Str("bitrate").I32(1));
        QTest::newRow("count above the limit") << QByteArray(WireWriter().U32(131073));
    }
    void aListingWithoutAReadableTableComesWithAnEmptyOne()
    {
        QFETCH(QByteArray, table);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        l_talk.Messenger().GetUserSharedFiles("bob");
        QVERIFY(l_talk.Send(Listing(Folders() + table)));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_listener.m_shares.size(), std::size_t(1));
        QCOMPARE(l_listener.m_shares.front().m_share.size(), std::size_t(2));
        QVERIFY(l_listener.m_shares.front().m_table.empty());
    }

    void anUnreadableBrowseMessageClosesTheConnection_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("nothing after the code") << QByteArray(WireWriter().U32(5));
        QTest::newRow("not compressed") << QByteArray(WireWriter().U32(5).Raw(Folders()));
        QTest::newRow("compressed stream cut short") << QByteArray(Listing(Folders()).chopped(6));
        QTest::newRow("folder count above the limit") << Listing(WireWriter().U32(131073));
        QTest::newRow("a file cut short") << Listing(Folders().chopped(3));
        QTest::newRow("file count above the limit") << Listing(WireWriter().U32(1).Str("f").U32(131073));
        QTest::newRow("folder request cut inside the folder") << QByteArray(WireWriter().U32(36).U32(1).U32(10).Raw("music"));
        QTest::newRow("folder request cut inside the token") << QByteArray(WireWriter().U32(36).Raw(QByteArray("\x01\x00", 2)));
    }
    void anUnreadableBrowseMessageClosesTheConnection()
    {
        QFETCH(QByteArray, body);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        l_talk.Messenger().GetUserSharedFiles("bob");
        QVERIFY(l_talk.Send(body));
        QVERIFY(l_talk.Closed());
        QVERIFY(l_listener.m_shares.empty());
        QVERIFY(l_listener.m_folderRequests.empty());
        QCOMPARE(l_talk.LinesAfterReceipt().filter("too large").size(), 0);
    }

    // A listing whose files claim more attributes than a file has is
    // refused whole, however many good files come before.
    void aListingOfFilesWithTooManyAttributesClosesTheConnection_data()
    {
        QTest::addColumn<int>("attributes");
        QTest::addColumn<bool>("closes");
        QTest::newRow("16") << 16 << false;
        QTest::newRow("17") << 17 << true;
        QTest::newRow("131072") << 131072 << true;
    }
    void aListingOfFilesWithTooManyAttributesClosesTheConnection()
    {
        QFETCH(int, attributes);
        QFETCH(bool, closes);
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        l_talk.Messenger().GetUserSharedFiles("bob");
        WireWriter l_plain;
        l_plain.U32(2).Str("good").U32(1).U8(1).Str("a").I64(1).Str("").U32(0);
        l_plain.Str("bomb").U32(2);
        for (int l_file = 0; l_file < 2; ++l_file) {
            l_plain.U8(1).Str("b" + std::to_string(l_file)).I64(1).Str("mp3").U32(quint32(attributes));
            for (int l_index = 0; l_index < attributes; ++l_index)
                l_plain.U32(quint32(l_index)).I32(l_index);
        }
        QVERIFY(l_talk.Send(Listing(l_plain)));
        if (!closes) {
            QVERIFY(l_talk.StillOpen());
            QCOMPARE(l_listener.m_shares.size(), std::size_t(1));
            QCOMPARE(l_listener.m_shares.front().m_share.at("bomb").begin()->m_attributeMap.m_map.size(),
                     std::size_t(16));
            return;
        }
        QVERIFY(l_talk.Closed());
        QVERIFY(l_listener.m_shares.empty());
        QCOMPARE(l_talk.LinesAfterReceipt().first(),
                 QString("PM_SHARED_FILE_LIST message from user bob has a file with more than 16 attributes, "
                         "disposing of socket"));
    }

    void aListingThatInflatesTooFarIsIgnored()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        l_talk.Messenger().GetUserSharedFiles("bob");
        // A valid listing start, padded far past what any share needs.
        QByteArray l_plain = Folders();
        l_plain.append(64 * 1024 * 1024 + 1 - l_plain.size(), '\0');
        QVERIFY(l_talk.Send(Listing(l_plain)));
        QCOMPARE(l_talk.LinesAfterReceipt(),
                 QStringList{"Listing in PM_SHARED_FILE_LIST message from user bob is too large, ignored"});
        QVERIFY(l_talk.StillOpen());
        QVERIFY(l_listener.m_shares.empty());
    }

    void aFolderRequestReachesTheService()
    {
        PeerConversation l_talk;
        QVERIFY(l_talk.Ready());
        ShareListener l_listener(l_talk.Messenger());
        QVERIFY(l_talk.Send(WireWriter().U32(36).U32(0xFEDCBA98).Str("music\\jazz").Raw("extra")));
        QVERIFY(l_talk.StillOpen());
        QCOMPARE(l_listener.m_folderRequests.size(), std::size_t(1));
        QCOMPARE(l_listener.m_folderRequests.front().m_user, std::string("bob"));
        QCOMPARE(l_listener.m_folderRequests.front().m_token, quint32(0xFEDCBA98));
        QCOMPARE(l_listener.m_folderRequests.front().m_folder, std::string("music\\jazz"));
    }
};

QTEST_GUILESS_MAIN(TestPeerBrowse)
#include "tst_peer_browse.moc"
