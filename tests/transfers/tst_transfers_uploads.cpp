// The upload queue: peers' requests checked against the shares, the order
// of queued uploads, their start within the slots, and upload status
// changes.
#include "TransfersTestWorld.h"
#include "UploadQueries.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "shares/SharedFoldersManager.h"
#include "peer/PeerMessageCodes.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
using Codes = PeerMessageCodes::Code;
using namespace UploadQueries;

const QByteArray NotShared("File not shared.");

// Puts a user in the user list, in groups with these priorities.
void InGroups(const std::string& i_user, const QList<int>& i_priorities)
{
    ItemPtr l_membership = d.GetType("user")->GetItem(i_user).NewItem("in_user_list");
    for (int l_priority : i_priorities) {
        ItemPtr l_group = d.GetType("user_list_group")->GetItem(i_user + std::to_string(l_priority));
        l_group += d.GetType("group_download_priority")->GetItem(l_priority);
        l_membership += l_group;
    }
}

// A request written "user/n", "user/n/priorities" or with "/p" for a
// privileged user, for the file "<user><n>.mp3" shared below "/shares".
void Request(TransferQueueManager& io_manager, const QString& i_request)
{
    const QStringList l_fields = i_request.split('/');
    const std::string l_user = l_fields[0].toStdString();
    if (l_fields.size() > 2 && !l_fields[2].isEmpty() && !d.GetType("user")->GetItem(l_user).IsConnected("in_user_list")) {
        QList<int> l_priorities;
        for (const QString& l_priority : l_fields[2].split(','))
            l_priorities.append(l_priority.toInt());
        InGroups(l_user, l_priorities);
    }
    if (l_fields.size() > 3)
        d.GetType("user")->GetItem(l_user).NewItem("is_privileged");
    const std::string l_file = l_user + l_fields[1].toStdString() + ".mp3";
    TransfersTestWorld::ShareFile("/shares", l_file);
    io_manager.OnQueueUploadRequested(l_user, Path(l_file));
}

// The entry a request made, written "user/n" again.
QString RequestOf(ItemPtr i_upload)
{
    const QString l_user = QString::fromStdString(i_upload["user"].AsString());
    const QString l_file = QString::fromStdString(i_upload["shared_file"]["shared_file_name"].AsString());
    return l_user + "/" + l_file.mid(l_user.size(), l_file.size() - l_user.size() - 4);
}

QByteArray Offer(unsigned int i_token, const std::string& i_path, quint64 i_size)
{
    return WireWriter().U32(Codes::TransferRequest).U32(1).U32(i_token).Str(i_path).Raw(
        WireWriter().I64(static_cast<qint64>(i_size)));
}
}  // namespace

class TestTransfersUploads : public QObject
{
    Q_OBJECT

private slots:
    void requestsForFilesNotSharedWithTheUserAreDenied_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("not in the index") << "missing";
        QTest::newRow("folder not for the user") << "hidden";
        QTest::newRow("user unshared") << "unshared";
        QTest::newRow("no shares service") << "no service";
    }
    void requestsForFilesNotSharedWithTheUserAreDenied()
    {
        QFETCH(QString, setup);
        TransfersTestWorld l_world;
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        TransfersTestWorld::ShareFile("/private/x", "b.mp3", 1, "/private", false);
        std::string l_path = Path("Music\\a.mp3");
        if (setup == "missing")
            l_path = Path("Music\\none.mp3");
        else if (setup == "hidden")
            l_path = "\\private\\x\\b.mp3";
        else if (setup == "unshared")
            d.GetType("user")->GetItem("bob").NewItem("unshared");
        SharedFoldersManager* lp_shares = sharedFoldersManager;
        if (setup == "no service")
            sharedFoldersManager = nullptr;
        TransfersTestWorld::SetOnline("bob");

        l_world.Manager().OnQueueUploadRequested("bob", l_path);
        sharedFoldersManager = lp_shares;
        QCOMPARE(TransfersTestWorld::Sent("bob"), QList<QByteArray>{MessageBody(Codes::UploadDenied, l_path, NotShared.toStdString())});
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(0));
        QVERIFY(l_world.LogTexts().contains("   Denied, file not shared"));
    }

    void anAcceptedRequestIsQueuedAndOfferedWithinTheSlots()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        TransfersTestWorld::ShareFile("/shares/Music", "Big.iso", 5000000000LL);
        Settings::Set("transfer_order_counter", "7");
        l_manager.AddDownload("carol", "x", "y", 1, 0);

        // Offline: queued, not offered.
        const std::string l_path = Path("Music\\Big.iso");
        l_manager.OnQueueUploadRequested("bob", l_path);
        ItemPtr l_upload = UploadOf("bob", l_path);
        QVERIFY(l_upload);
        QCOMPARE(Status(l_upload), std::string("queued"));
        QCOMPARE(l_upload["upload_order"].AsInt64(), 8LL);
        QCOMPARE(l_upload["effective_upload_order"].AsInt64(), 1LL);
        QCOMPARE(l_upload["shared_file"]["shared_file_name"].AsString(), std::string("Big.iso"));
        QVERIFY(d.GetType("user")->HasItem("bob").IsConnected("is_tracked"));
        QCOMPARE(l_manager.QueuedUploadCount(), 1);
        QVERIFY(l_manager.IsFreeToUpload());
        QVERIFY(TransfersTestWorld::Sent("bob").isEmpty());

        // Online: offered at once, with the whole size and the path as asked.
        TransfersTestWorld::SetOnline("bob");
        QCOMPARE(TransfersTestWorld::Sent("bob"), QList<QByteArray>{Offer(1, l_path, 5000000000ULL)});
        QCOMPARE(Status(l_upload), std::string("requesting"));
        QCOMPARE(l_upload["transfer_req"].AsString(), std::string("1"));
        QCOMPARE(l_manager.QueuedUploadCount(), 0);
        QVERIFY(!l_manager.IsFreeToUpload());

        // Asked again while active: nothing.
        TransfersTestWorld::ClearSent();
        l_world.ClearLog();
        l_manager.OnQueueUploadRequested("bob", l_path);
        QVERIFY(TransfersTestWorld::Sent("bob").isEmpty());
        QVERIFY(l_world.LogTexts().contains("   Already queued"));

        // Finished and asked again: queued at its old place, offered again.
        l_manager.SetUploadEntryStatus(l_upload, TransferStatus::Complete);
        l_world.ClearLog();
        l_manager.OnQueueUploadRequested("bob", l_path);
        QVERIFY(l_world.LogTexts().contains("   complete, re-queueing"));
        QCOMPARE(l_upload["upload_order"].AsInt64(), 8LL);
        QCOMPARE(l_upload["effective_upload_order"].AsInt64(), 1LL);
        QCOMPARE(Status(l_upload), std::string("requesting"));
        QCOMPARE(TransfersTestWorld::Sent("bob"), QList<QByteArray>{Offer(2, l_path, 5000000000ULL)});
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(1));
    }

    // Requests arrive as "user/file", "user/file/priorities" or with "/p" for
    // a privileged user; all users are offline, so everything stays queued.
    void queuedUploadsAreOrderedByPriorityPrivilegeAndArrival_data()
    {
        QTest::addColumn<QStringList>("requests");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("arrival") << QStringList{"a/1", "b/1", "c/1"} << QStringList{"a/1", "b/1", "c/1"};
        QTest::newRow("higher priority first")
            << QStringList{"a/1", "b/1", "c/1/5"} << QStringList{"c/1", "a/1", "b/1"};
        QTest::newRow("the best of the user's groups") << QStringList{"a/1/5", "b/1/3,7"} << QStringList{"b/1", "a/1"};
        QTest::newRow("a negative priority is none") << QStringList{"a/1", "b/1/-2", "c/1/0"}
                                                     << QStringList{"a/1", "b/1", "c/1"};
        QTest::newRow("privilege within a priority") << QStringList{"a/1", "b/1//p"} << QStringList{"b/1", "a/1"};
        QTest::newRow("two privileged by arrival") << QStringList{"a/1//p", "b/1//p", "c/1"}
                                                   << QStringList{"a/1", "b/1", "c/1"};
        QTest::newRow("priority before privilege") << QStringList{"a/1//p", "b/1/1"} << QStringList{"b/1", "a/1"};
        QTest::newRow("one user's files by arrival")
            << QStringList{"a/1/5", "a/2/5", "b/1/9", "a/3/5"} << QStringList{"b/1", "a/1", "a/2", "a/3"};
        QTest::newRow("low behind high, high among high")
            << QStringList{"a/1/1", "b/1", "c/1/1", "d/1"} << QStringList{"a/1", "c/1", "b/1", "d/1"};
    }
    void queuedUploadsAreOrderedByPriorityPrivilegeAndArrival()
    {
        QFETCH(QStringList, requests);
        QFETCH(QStringList, order);
        TransfersTestWorld l_world;
        for (const QString& l_request : requests)
            Request(l_world.Manager(), l_request);
        QStringList l_order;
        for (ItemPtr l_upload : d.GetType("upload_entry")->GetItems().SortNumericBy("effective_upload_order", true)) {
            l_order.append(RequestOf(l_upload));
            QCOMPARE(l_upload["effective_upload_order"].AsInt(), int(l_order.size()));
            QCOMPARE(Status(l_upload), std::string("queued"));
        }
        QCOMPARE(l_order, order);
    }

    // Refusals, ends and time-outs sorted and walked the whole queue to
    // find the next upload. Thousands of offline users' entries wait before
    // the online ones; "busy" holds the one slot while the row's steps run
    // ("+user" and "-user" come online and go offline, "x user/n" removes
    // an entry, anything else is a request). Then every offer is refused in
    // turn, and the entries offered are listed.
    void aFreedSlotGoesToTheFirstOnlineEntryInOrder_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("offered");
        QTest::newRow("the highest priority, then past the offline entries")
            << QStringList{"+old", "old/1", "+vip", "vip/1/5"} << QStringList{"vip/1", "old/1"};
        QTest::newRow("privilege within a priority")
            << QStringList{"+old", "old/1", "+star", "star/1//p"} << QStringList{"star/1", "old/1"};
        QTest::newRow("a user's files one after the other")
            << QStringList{"+vip", "vip/1/5", "vip/2/5", "+old", "old/1"} << QStringList{"vip/1", "vip/2", "old/1"};
        QTest::newRow("a user who went offline is passed over")
            << QStringList{"+vip", "vip/1/5", "+old", "old/1", "-vip"} << QStringList{"old/1"};
        QTest::newRow("a user who came online is offered in turn")
            << QStringList{"+old", "old/1", "+off7"} << QStringList{"off7/0", "old/1"};
        QTest::newRow("a later request placed inside the order")
            << QStringList{"+old", "old/1", "+vip", "vip/1/5", "+mid", "mid/1/3"}
            << QStringList{"vip/1", "mid/1", "old/1"};
        QTest::newRow("a user's files moved on by one each")
            << QStringList{"+old", "old/1", "old/2", "+mid", "mid/1/3"} << QStringList{"mid/1", "old/1", "old/2"};
        QTest::newRow("a removed entry gives way to the user's next")
            << QStringList{"+vip", "vip/1/5", "vip/2/5", "+old", "old/1", "x vip/1"} << QStringList{"vip/2", "old/1"};
        QTest::newRow("a user's file waits for its running upload to end")
            << QStringList{"busy/2/9", "+old", "old/1"} << QStringList{"busy/2", "old/1"};
    }
    void aFreedSlotGoesToTheFirstOnlineEntryInOrder()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, offered);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        TransfersTestWorld::SetOnline("busy");
        Request(l_manager, "busy/1");
        for (int l_index = 0; l_index < 2000; ++l_index)
            Request(l_manager, QString("off%1/0").arg(l_index));
        for (const QString& l_step : steps) {
            const QStringList l_fields = l_step.mid(2).split('/');
            if (l_step.startsWith('+') || l_step.startsWith('-'))
                TransfersTestWorld::SetOnline(l_step.mid(1).toStdString(), l_step.startsWith('+'));
            else if (l_step.startsWith("x "))
                l_manager.RemoveUpload(
                    UploadOf(l_fields[0].toStdString(), Path((l_fields[0] + l_fields[1]).toStdString() + ".mp3")));
            else
                Request(l_manager, l_step);
        }
        QCOMPARE(Active(), 1);

        auto l_refuse = [&](ItemPtr i_upload) {
            l_manager.OnFileTransferResponse(i_upload["user"].AsString(), i_upload["transfer_req"].AsUInt(), false, false,
                                             0, "Cancelled");
        };
        l_refuse(UploadOf("busy", Path("busy1.mp3")));
        QStringList l_offered;
        ItemPtr l_requesting = d.GetType("upload_entry_status")->HasItem(TransferStatus::Requesting);
        while (ItemPtr l_upload = l_requesting["upload_entry"]) {
            l_offered.append(RequestOf(l_upload));
            if (l_offered.size() > offered.size())
                break;
            l_refuse(l_upload);
        }
        QCOMPARE(l_offered, offered);
    }

    void slotsBoundTheActiveUploadsOnePerUser()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        for (const char* lp_file : {"b1", "b2", "c1", "d1"})
            TransfersTestWorld::ShareFile("/shares", lp_file);
        for (const char* lp_user : {"bob", "carol"})
            TransfersTestWorld::SetOnline(lp_user);
        l_manager.SetUploadSlots(3);
        const std::vector<std::pair<std::string, std::string>> l_requests{
            {"bob", "b1"}, {"bob", "b2"}, {"dave", "d1"}, {"carol", "c1"}};
        for (const auto& [l_user, l_file] : l_requests)
            l_manager.OnQueueUploadRequested(l_user, Path(l_file));
        // Bob's second file waits for his first; offline Dave is passed over.
        QCOMPARE(Status(UploadOf("bob", Path("b1"))), std::string("requesting"));
        QCOMPARE(Status(UploadOf("bob", Path("b2"))), std::string("queued"));
        QCOMPARE(Status(UploadOf("dave", Path("d1"))), std::string("queued"));
        QCOMPARE(Status(UploadOf("carol", Path("c1"))), std::string("requesting"));
        QVERIFY(l_manager.IsFreeToUpload());

        // Fewer slots stop nothing, and nothing starts until below them.
        for (int l_ignored : {0, -1, 100})
            l_manager.SetUploadSlots(l_ignored);
        QCOMPARE(Settings::Get("upload_slots"), std::string("3"));
        l_manager.SetUploadSlots(1);
        QCOMPARE(Active(), 2);
        l_manager.SetUploadEntryStatus(UploadOf("carol", Path("c1")), TransferStatus::Complete);
        l_manager.StartNewUploads();
        QCOMPARE(Active(), 1);
        l_manager.SetUploadEntryStatus(UploadOf("bob", Path("b1")), TransferStatus::Complete);
        l_manager.StartNewUploads();
        QCOMPARE(Status(UploadOf("bob", Path("b2"))), std::string("requesting"));

        // More slots start waiting uploads at once.
        TransfersTestWorld::SetOnline("dave");
        QCOMPARE(Status(UploadOf("dave", Path("d1"))), std::string("queued"));
        l_manager.SetUploadSlots(2);
        QCOMPARE(Status(UploadOf("dave", Path("d1"))), std::string("requesting"));
        QCOMPARE(l_manager.QueuedUploadCount(), 0);
    }

    void leavingTheActiveStatesReleasesAndAnAbortTellsThePeer_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("released");
        QTest::addColumn<bool>("told");
        QTest::newRow("requesting to aborted") << "requesting" << "aborted" << true << true;
        QTest::newRow("uploading to aborted") << "uploading" << "aborted" << true << true;
        QTest::newRow("uploading to complete") << "uploading" << "complete" << true << false;
        QTest::newRow("requesting to denied") << "requesting" << "denied" << true << false;
        QTest::newRow("connecting to local error") << "connecting" << "local error" << true << false;
        QTest::newRow("requesting to connecting") << "requesting" << "connecting" << false << false;
        QTest::newRow("complete to queued") << "complete" << "queued" << false << false;
        QTest::newRow("queued to aborted") << "queued" << "aborted" << false << false;
    }
    void leavingTheActiveStatesReleasesAndAnAbortTellsThePeer()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, released);
        QFETCH(bool, told);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        Settings::Set("upload_speed_limit", "100");
        Settings::Set("upload_speed_limit_enabled", "yes");
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3");
        TransfersTestWorld::ShareFile("/shares/Music", "b.mp3");
        l_manager.SetUploadSlots(2);
        l_manager.OnQueueUploadRequested("bob", Path("Music/a.mp3"));
        l_manager.OnQueueUploadRequested("carol", Path("Music\\b.mp3"));
        ItemPtr l_upload = UploadOf("bob", Path("Music/a.mp3"));
        l_manager.SetUploadEntryStatus(l_upload, from.toStdString());
        l_manager.SetUploadEntryStatus(UploadOf("carol", Path("Music\\b.mp3")), TransferStatus::Uploading);
        TransferFigures::Attach<TransferFigures::Position>(l_upload, "read_position", 9);
        TransferFigures::Attach<TransferFigures::Speed>(l_upload, "bytes_per_second", 9);
        TransferFigures::Attach<TransferFigures::Time>(l_upload, "last_speed_measurement_time", QDateTime());
        l_manager.DetermineUploadSpeedLimit();
        const int l_shareBefore = l_manager.SpeedLimit().PerUpload();
        l_world.ClearLog();

        l_manager.SetUploadEntryStatus(l_upload, to.toStdString());
        QCOMPARE(Status(l_upload), to.toStdString());
        QCOMPARE(!l_upload.IsConnected("read_position") && !l_upload.IsConnected("bytes_per_second"), released);
        const QList<QByteArray> l_told{MessageBody(Codes::UploadFailed, Path("Music/a.mp3"))};
        QCOMPARE(TransfersTestWorld::Sent("bob"), told ? l_told : QList<QByteArray>{});
        QCOMPARE(l_world.LogTexts().contains("Upload of a.mp3 to bob aborted, sending upload failed notification."), told);
        // The remaining active uploads share the limit anew.
        QCOMPARE(l_manager.SpeedLimit().PerUpload(), released ? 100 : l_shareBefore);
    }

    // "Unshare Folder" left the files in the index, and uploads queued
    // before were still offered and sent.
    void queuedUploadsOfUnsharedFilesAreRefusedWhenTheirTurnComes()
    {
        TransfersTestWorld l_world;
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3", 1234);
        TransfersTestWorld::ShareFile("/other", "b.mp3", 5, "/other");
        TransferQueueManager& l_manager = l_world.Manager();
        l_manager.OnQueueUploadRequested("bob", Path("Music\\a.mp3"));
        l_manager.OnQueueUploadRequested("bob", "\\other\\b.mp3");
        ItemPtr l_first = UploadOf("bob", Path("Music\\a.mp3"));
        QVERIFY(l_first);

        // Unshared as the window's command does it.
        d.GetType("shared_folder")->HasItem("/shares").Remove();
        d.RemoveDisconnectedItems();
        // Out of the index at once: not found, not counted; the entry still
        // names the file and its size.
        QVERIFY(!sharedFoldersManager->GetSharedFileItem("/shares/Music/a.mp3"));
        QCOMPARE(sharedFoldersManager->IndexedFileCount(), 1);
        QCOMPARE(l_first["shared_file"]["shared_file_name"].AsString(), std::string("a.mp3"));
        QCOMPARE(l_first["shared_file"]["shared_file_size"].AsInt64(), 1234LL);

        l_world.ClearLog();
        TransfersTestWorld::SetOnline("bob");
        const QList<QByteArray> l_sent = TransfersTestWorld::Sent("bob");
        QCOMPARE(l_sent.size(), 2);
        QCOMPARE(l_sent[0], MessageBody(Codes::UploadDenied, Path("Music\\a.mp3"), NotShared.toStdString()));
        QCOMPARE(l_sent[1], Offer(1, "\\other\\b.mp3", 5));
        QVERIFY(l_world.LogTexts().contains("   Denied, file not shared"));
        QVERIFY(!UploadOf("bob", Path("Music\\a.mp3")));
        // Nothing holds the file any more: it is gone.
        QCOMPARE(d.GetType("shared_file")->ItemCount(), std::size_t(1));
    }

    // A rescan removed a file that a queued upload held: the entry was left
    // with no file (offered with size 0, logged without a name), and asking
    // again once the file was back made a second entry.
    void aQueuedUploadKeepsItsFileThroughARescan()
    {
        TransfersTestWorld l_world;
        QTemporaryDir l_shares;
        const std::string l_root = l_shares.path().toStdString();
        const QString l_file = l_shares.filePath("song.ogg");
        TransfersTestWorld::MakeFile(l_file, QByteArray(700, 'x'));
        d.GetType("shared_folder")->GetItem(l_root) += d.GetType("shared_public")->GetGlobalNullItem();
        auto l_rescan = [] {
            sharedFoldersManager->RescanShares();
            return QTest::qWaitFor([] { return !sharedFoldersManager->IsRescanning(); }, 10000);
        };
        QVERIFY(l_rescan());
        const std::string l_path = l_root + "/song.ogg";
        TransferQueueManager& l_manager = l_world.Manager();
        l_manager.OnQueueUploadRequested("bob", l_path);
        ItemPtr l_upload = UploadOf("bob", l_path);
        QVERIFY(l_upload);

        QVERIFY(QFile::remove(l_file));
        QVERIFY(l_rescan());
        QCOMPARE(sharedFoldersManager->FilesRemoved(), 1);
        ItemPtr l_held = l_upload["shared_file"];
        QCOMPARE(l_held["shared_file_name"].AsString(), std::string("song.ogg"));
        QCOMPARE(l_held["shared_file_size"].AsInt64(), 700LL);
        QVERIFY(!SharedFoldersManager::IsIndexed(l_held));
        QVERIFY(!sharedFoldersManager->GetSharedFileItem(l_path));

        // Back on disk and asked for again: the same entry, now on the file
        // the index has.
        TransfersTestWorld::MakeFile(l_file, QByteArray(800, 'y'));
        QVERIFY(l_rescan());
        l_world.ClearLog();
        l_manager.OnQueueUploadRequested("bob", l_path);
        QVERIFY(l_world.LogTexts().contains("   Already queued"));
        QCOMPARE(d.GetType("upload_entry")->ItemCount(), std::size_t(1));
        QVERIFY(SharedFoldersManager::IsIndexed(l_upload["shared_file"]));
        QCOMPARE(d.GetType("shared_file")->ItemCount(), std::size_t(1));
        TransfersTestWorld::SetOnline("bob");
        QCOMPARE(TransfersTestWorld::Sent("bob"), QList<QByteArray>{Offer(1, l_path, 800)});
    }

    void theEntryLastPlacedCanGo()
    {
        TransfersTestWorld l_world;
        for (const char* lp_file : {"a", "b", "c"})
            TransfersTestWorld::ShareFile("/shares", lp_file);
        l_world.Manager().OnQueueUploadRequested("ann", Path("a"));
        l_world.Manager().OnQueueUploadRequested("ben", Path("b"));
        UploadOf("ben", Path("b")).Remove();
        l_world.Manager().OnQueueUploadRequested("cid", Path("c"));
        QCOMPARE(UploadOf("cid", Path("c"))["effective_upload_order"].AsInt(), 2);
    }

    void requestsArriveAndAnswersLeaveOverTheWire()
    {
        TransfersTestWorld l_world;
        TransfersTestWorld::ShareFile("/shares/Music", "a.mp3", 77);
        FakePeer l_peer;
        FakePeerConnection* lp_bob = l_world.Peer().ConnectAs(l_peer, "bob");
        QVERIFY(lp_bob);
        TransfersTestWorld::SetOnline("bob");
        lp_bob->SendFrame(MessageBody(Codes::QueueUpload, Path("Music\\secret.txt")));
        QVERIFY(lp_bob->WaitForFrames(1));
        QCOMPARE(lp_bob->Frames()[0], MessageBody(Codes::UploadDenied, Path("Music\\secret.txt"), NotShared.toStdString()));
        lp_bob->SendFrame(MessageBody(Codes::QueueUpload, Path("Music\\a.mp3")));
        QVERIFY(lp_bob->WaitForFrames(2));
        QCOMPARE(lp_bob->Frames()[1], Offer(1, Path("Music\\a.mp3"), 77));
    }
};

QTEST_MAIN(TestTransfersUploads)
#include "tst_transfers_uploads.moc"
