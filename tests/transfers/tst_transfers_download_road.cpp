// The receiving side of downloads over the loopback network, with a fake
// peer as the uploader: offers accepted or refused, file connections
// matched by user and token, the offset, the data, the finished file and its
// record, and the connections that are turned away.
#include "HeapMeter.h"
#include "TransferRoad.h"
#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "transfers/DownloadPartials.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace
{
const std::string Path = "Music\\song.mp3";

std::string Status(ItemPtr i_download)
{
    return TransferRoad::StatusOf(i_download);
}

QByteArray Accept(quint32 i_token)
{
    return WireWriter().U32(41).U32(i_token).U8(1);
}

QByteArray Refuse(quint32 i_token, const std::string& i_reason)
{
    return WireWriter().U32(41).U32(i_token).U8(0).Str(i_reason);
}

qint64 Offset(const QByteArray& i_bytes)
{
    return WireReader(i_bytes).I64();
}

}  // namespace

class TestTransfersDownloadRoad : public QObject
{
    Q_OBJECT

private slots:
    void offersAreAcceptedOrRefused_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("direction");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("after");
        QTest::newRow("queued") << "queued" << 1 << "Music\\song.mp3" << Accept(5) << "queued";
        QTest::newRow("aborted") << "aborted" << 1 << "Music/song.mp3" << Accept(5) << "aborted";
        QTest::newRow("downloading: stopped first") << "downloading" << 1 << "Music\\song.mp3" << Accept(5) << "aborted";
        QTest::newRow("no such download") << "queued" << 1 << "Music\\other.mp3" << Refuse(5, "Cancelled") << "queued";
        QTest::newRow("no folder in the path") << "queued" << 1 << "song.mp3" << Refuse(5, "Cancelled") << "queued";
        QTest::newRow("complete") << "complete" << 1 << "Music\\song.mp3" << Refuse(5, "Complete") << "complete";
        QTest::newRow("asks us to send") << "queued" << 0 << "Music\\song.mp3" << QByteArray() << "queued";
    }
    void offersAreAcceptedOrRefused()
    {
        QFETCH(QString, status);
        QFETCH(int, direction);
        QFETCH(QString, path);
        QFETCH(QByteArray, answer);
        QFETCH(QString, after);
        TransfersTestWorld l_world;
        ItemPtr l_download = l_world.Manager().AddDownload("bob", "song.mp3", "Music", 10, 0);
        l_world.Manager().SetDownloadEntryStatus(l_download, status.toStdString());
        TransfersTestWorld::ClearSent();
        l_world.Manager().OnFileTransferRequest("bob", direction, 5, path.toStdString(), 999);
        QCOMPARE(TransfersTestWorld::Sent("bob"), answer.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{answer});
        QCOMPARE(QString::fromStdString(Status(l_download)), after);
        QCOMPARE(l_download["remote_transfer_req"].AsString(), std::string(answer == Accept(5) ? "5" : ""));
    }

    // The peer sends "sent" after our offset; "partial" is in the partial
    // file before, "size" the size our entry expects.
    void theFileArrivesIntoThePartialFileAndMovesWhenWhole_data()
    {
        QTest::addColumn<QByteArray>("partial");
        QTest::addColumn<int>("size");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("peerCloses");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QByteArray>("file");
        const QByteArray l_data = Pattern(20000);
        QTest::newRow("a new file") << QByteArray() << 20000 << l_data << false << "complete" << l_data;
        QTest::newRow("resumed after 4 bytes") << QByteArray("abcd") << 20004 << l_data << false << "complete"
                                               << QByteArray("abcd") + l_data;
        QTest::newRow("more than announced") << QByteArray() << 10 << l_data << false << "complete" << l_data.left(10);
        QTest::newRow("an empty file") << QByteArray() << 0 << QByteArray() << false << "complete" << QByteArray();
        QTest::newRow("already whole") << QByteArray("abcd") << 4 << QByteArray() << false << "complete"
                                       << QByteArray("abcd");
        QTest::newRow("the peer leaves midway") << QByteArray() << 20000 << l_data.left(5000) << true << "aborted"
                                                << l_data.left(5000);
    }
    void theFileArrivesIntoThePartialFileAndMovesWhenWhole()
    {
        QFETCH(QByteArray, partial);
        QFETCH(int, size);
        QFETCH(QByteArray, sent);
        QFETCH(bool, peerCloses);
        QFETCH(QString, status);
        QFETCH(QByteArray, file);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        QList<qint64> l_positions;
        QList<ItemPtr> l_records;
        connect(&l_road.Manager(), &TransferQueueManager::DownloadProgressed, this, [&](ItemPtr i_download) {
            l_positions.append(*TransferFigures::Of<TransferFigures::Position>(i_download, "write_position"));
        });
        connect(&l_road.Manager(), &TransferQueueManager::CompleteDownloadAdded, this,
                [&](ItemPtr i_record) { l_records.append(i_record); });

        ItemPtr l_download = l_road.Manager().AddDownload("bob", "song.mp3", "Music", size, 0);
        if (!partial.isEmpty())
            TransfersTestWorld::MakeOwnPartial(l_download, l_road.m_world.Partial("song.mp3"), partial);
        // Queue request and place request, then the offer and our accept.
        QVERIFY(l_road.mp_bob->WaitForFrames(2));
        QCOMPARE(l_road.Offer(77, Path, 123456), Accept(77));
        FakePeerConnection* lp_file = l_road.Open("bob", 77);
        QVERIFY(lp_file);
        QVERIFY(lp_file->WaitForBytes(8));
        QCOMPARE(lp_file->Received().size(), 8);
        QCOMPARE(Offset(lp_file->Received()), qint64(partial.size()));
        lp_file->SendRaw(sent);
        if (peerCloses)
            lp_file->Socket()->disconnectFromHost();

        QVERIFY(TransferRoad::Reaches(l_download, status.toUtf8().constData()));
        // Whatever happened, the transfer let go of what it held.
        QVERIFY(PeerTestWorld::WaitFor([&] { return !l_download.IsConnected("download_socket"); }));
        QVERIFY(!l_download.IsConnected("download_thread") && !l_download.IsConnected("write_position"));
        QVERIFY(lp_file->WaitForDisconnect());
        QVERIFY(!l_positions.isEmpty());
        QCOMPARE(l_positions.last(), qint64(partial.size() + sent.size() < size ? partial.size() + sent.size() : size));
        if (status == "complete") {
            QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), file);
            QVERIFY(!QFileInfo::exists(l_road.m_world.Partial("song.mp3")));
            QVERIFY(!QFileInfo::exists(l_road.m_world.DownloadRoot() + "/downloading/Music"));
            QCOMPARE(l_records.size(), 1);
            QCOMPARE(l_records[0]["complete_download_filename"].AsString(), std::string("song.mp3"));
            QCOMPARE(l_records[0]["complete_download_folder"].AsString(),
                     (l_road.m_world.DownloadRoot() + "/complete/Music").toStdString());
            QCOMPARE(l_records[0]["complete_download_relative_folder"].AsString(), std::string("Music"));
            QCOMPARE(l_records[0]["complete_download_file_size"].AsInt64(), qint64(size));
            QCOMPARE(l_records[0]["user"].AsString(), std::string("bob"));
            return;
        }
        // An aborted download keeps what arrived and is queued again.
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Partial("song.mp3")), file);
        QVERIFY(l_records.isEmpty());
        const int l_before = int(l_road.mp_bob->Frames().size());
        l_road.Manager().PeriodicCheck();
        QVERIFY(l_road.mp_bob->WaitForFrames(l_before + 1));
        QCOMPARE(l_road.mp_bob->Frames().value(l_before), MessageBody(43, Path));
        // The next offer resumes from there.
        QCOMPARE(l_road.Offer(78, Path, size), Accept(78));
        FakePeerConnection* lp_again = l_road.Open("bob", 78);
        QVERIFY(lp_again && lp_again->WaitForBytes(8));
        QCOMPARE(Offset(lp_again->Received()), qint64(file.size()));
    }

    // The partial path recomputed at completion from the setting stranded
    // the file when the download folder changed meanwhile.
    void theWrittenFileMovesAfterTheDownloadFolderChanged()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        QTemporaryDir l_newRoot;
        const QString l_oldRoot = l_road.m_world.DownloadRoot();
        const QByteArray l_data = Pattern(20000);
        ItemPtr l_download = l_road.Manager().AddDownload("bob", "song.mp3", "Music", l_data.size(), 0);
        QVERIFY(l_road.mp_bob->WaitForFrames(2));
        QCOMPARE(l_road.Offer(77, Path, l_data.size()), Accept(77));
        FakePeerConnection* lp_file = l_road.Open("bob", 77);
        QVERIFY(lp_file && lp_file->WaitForBytes(8));
        // The user picks another download folder while the data arrives.
        Settings::Set("download_folder", l_newRoot.path().toStdString());
        lp_file->SendRaw(l_data);

        QVERIFY(TransferRoad::Reaches(l_download, "complete"));
        QCOMPARE(TransfersTestWorld::ReadFile(l_newRoot.path() + "/complete/Music/song.mp3"), l_data);
        QVERIFY(!QFileInfo::exists(l_oldRoot + "/downloading/Music/song.mp3"));
        // The emptied partial folder under the old root went too.
        QVERIFY(!QFileInfo::exists(l_oldRoot + "/downloading/Music"));
        QVERIFY(!QFileInfo::exists(l_newRoot.path() + "/downloading/Music/song.mp3"));
    }

    // Connections that start nothing; "setup" names what stands before.
    void fileConnectionsThatNoDownloadTakesAreClosed_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("user");
        QTest::addColumn<quint32>("token");
        QTest::addColumn<QString>("status");
        QTest::newRow("unknown token") << "" << "bob" << 99u << "queued";
        QTest::newRow("another user's token") << "" << "carol" << 77u << "queued";
        QTest::newRow("an older token") << "offered again" << "bob" << 77u << "queued";
        QTest::newRow("stale token of a finished download") << "complete" << "bob" << 77u << "complete";
        QTest::newRow("partial file longer than the file") << "long partial" << "bob" << 77u << "local error";
        QTest::newRow("partial file cannot be opened") << "blocked folder" << "bob" << 77u << "local error";
    }
    void fileConnectionsThatNoDownloadTakesAreClosed()
    {
        QFETCH(QString, setup);
        QFETCH(QString, user);
        QFETCH(quint32, token);
        QFETCH(QString, status);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        ItemPtr l_download = l_road.Manager().AddDownload("bob", "song.mp3", "Music", 100, 0);
        QCOMPARE(l_road.Offer(77, Path, 100), Accept(77));
        if (setup == "offered again")
            QCOMPARE(l_road.Offer(78, Path, 100), Accept(78));
        else if (setup == "complete")
            l_road.Manager().SetDownloadEntryStatus(l_download, TransferStatus::Complete);
        else if (setup == "long partial")
            TransfersTestWorld::MakeOwnPartial(l_download, l_road.m_world.Partial("song.mp3"), Pattern(101));
        else if (setup == "blocked folder")
            TransfersTestWorld::MakeFile(l_road.m_world.DownloadRoot() + "/downloading/Music");
        l_road.m_world.ClearLog();

        FakePeerConnection* lp_file = l_road.Open(user.toStdString(), token);
        QVERIFY(lp_file && lp_file->WaitForDisconnect());
        QVERIFY(lp_file->Received().isEmpty());
        QCOMPARE(QString::fromStdString(Status(l_download)), status);
        QVERIFY(!l_download.IsConnected("download_socket"));
        if (setup != "long partial" && setup != "blocked folder")
            QVERIFY(!QFileInfo::exists(l_road.m_world.Partial("song.mp3")));
        // One line says why; a download in local error is not queued again.
        QCOMPARE(l_road.m_world.LogTexts().size(), 2);
        const int l_before = int(l_road.mp_bob->Frames().size());
        l_road.Manager().PeriodicCheck();
        PeerTestWorld::Settle(50);
        QCOMPARE(int(l_road.mp_bob->Frames().size()), l_before + (status == "queued" ? 1 : 0));
    }

    // A peer that restarted counts its tokens from the start again: older
    // downloads from it ("before") still hold the token of its new offer,
    // and carol's download holds the same number from her own count.
    void aReusedTokenReachesTheDownloadThatAcceptedIt_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::newRow("two finished") << QStringList{"complete", "complete"};
        QTest::newRow("finished and failed") << QStringList{"complete", "aborted", "complete", "local error"};
    }
    void aReusedTokenReachesTheDownloadThatAcceptedIt()
    {
        QFETCH(QStringList, before);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        TransferQueueManager& l_manager = l_road.Manager();
        const ItemPtr l_token = d.GetType("remote_transfer_req")->GetItem("1");
        l_manager.AddDownload("carol", "c.mp3", "Music", 1, 0) += l_token;
        for (int l_index = 0; l_index < before.size(); ++l_index) {
            ItemPtr l_older = l_manager.AddDownload("bob", "older" + std::to_string(l_index), "Music", 1, 0);
            l_manager.SetDownloadEntryStatus(l_older, before[l_index].toStdString());
            l_older += l_token;
        }
        const QByteArray l_data = Pattern(3000);
        ItemPtr l_download = l_manager.AddDownload("bob", "song.mp3", "Music", l_data.size(), 0);
        QCOMPARE(l_road.Offer(1, Path, l_data.size()), Accept(1));
        QStringList l_holders;
        for (const ItemPtr& l_entry : l_token.GetItems("download_entry").SortAlphabeticBy("file_name", true))
            l_holders << QString::fromStdString(l_entry["user"].AsString() + " " + l_entry["file_name"].AsString());
        QCOMPARE(l_holders, QStringList({"carol c.mp3", "bob song.mp3"}));

        QVERIFY(l_road.Deliver(1, l_data, l_download));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), l_data);
    }

    // Bob shares it at the top of his share: its path is its name alone.
    void aFileAtTheTopOfAShareIsDownloaded()
    {
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        const QByteArray l_data = Pattern(3000);
        ItemPtr l_download = l_road.Manager().AddDownload("bob", "rootfile.mp3", "", l_data.size(), 0);
        QVERIFY(l_road.mp_bob->WaitForFrames(2));
        QCOMPARE(l_road.mp_bob->Frames(),
                 QList<QByteArray>({MessageBody(43, "rootfile.mp3"), MessageBody(51, "rootfile.mp3")}));
        l_road.mp_bob->SendFrame(WireWriter().U32(44).Str("rootfile.mp3").U32(3));
        QVERIFY(PeerTestWorld::WaitFor([&] { return l_download.IsConnected("place_in_line"); }));
        QCOMPARE(l_download["place_in_line"].AsString(), std::string("3"));

        QCOMPARE(l_road.Offer(7, "rootfile.mp3", l_data.size()), Accept(7));
        QVERIFY(l_road.Deliver(7, l_data, l_download));
        // Straight into the complete folder.
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.DownloadRoot() + "/complete/rootfile.mp3"), l_data);
    }

    // The same folder and name from two users at once: each writes a
    // partial file of its own, and the second finished file takes a free
    // name beside the first.
    void onlyOneTransferWritesAPartialFile()
    {
        TransferRoad l_road;
        FakePeer l_carolPeer;
        FakePeerConnection* lp_carol = l_road.m_world.Peer().ConnectAs(l_carolPeer, "carol");
        QVERIFY(l_road.Ready() && lp_carol);
        TransfersTestWorld::SetOnline("carol");
        ItemPtr l_fromBob = l_road.Manager().AddDownload("bob", "song.mp3", "Music", 100, 0);
        ItemPtr l_fromCarol = l_road.Manager().AddDownload("carol", "song.mp3", "Music", 100, 0);
        QCOMPARE(l_road.Offer(1, Path, 100), Accept(1));
        lp_carol->SendFrame(OfferBody(2, Path, 100));
        QVERIFY(lp_carol->WaitForFrames(3));
        FakePeerConnection* lp_bobFile = nullptr;
        QCOMPARE(l_road.OffsetFor("bob", 1, &lp_bobFile), 0);
        lp_bobFile->SendRaw(Pattern(10));
        QCOMPARE(Status(l_fromBob), std::string("downloading"));

        FakePeerConnection* lp_carolFile = nullptr;
        QCOMPARE(l_road.OffsetFor("carol", 2, &lp_carolFile), 0);
        lp_carolFile->SendRaw(Other(100));
        QVERIFY(TransferRoad::Reaches(l_fromCarol, TransferStatus::Complete));
        // The same token twice: the running transfer goes on alone.
        FakePeerConnection* lp_bobAgain = l_road.Open("bob", 1);
        QVERIFY(lp_bobAgain && lp_bobAgain->WaitForDisconnect());
        QVERIFY(lp_bobAgain->Received().isEmpty());
        lp_bobFile->SendRaw(Pattern(100).mid(10));
        QVERIFY(TransferRoad::Reaches(l_fromBob, TransferStatus::Complete));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), Other(100));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song (1).mp3")), Pattern(100));
        QVERIFY(!QFileInfo::exists(l_road.m_world.DownloadRoot() + "/downloading/Music"));
    }

    // Bob's file breaks off; carol offers another file of the same folder
    // and name. "left" is what became of bob's download before.
    void aPartialFileIsContinuedOnlyByTheDownloadThatWroteIt_data()
    {
        QTest::addColumn<QString>("left");
        QTest::newRow("broken off") << "aborted";
        QTest::newRow("removed") << "removed";
        // As an earlier version marked it at login, by another's file.
        QTest::newRow("marked complete, its partial kept") << "complete";
    }
    void aPartialFileIsContinuedOnlyByTheDownloadThatWroteIt()
    {
        QFETCH(QString, left);
        TransferRoad l_road;
        FakePeer l_carolPeer;
        FakePeerConnection* lp_carol = l_road.m_world.Peer().ConnectAs(l_carolPeer, "carol");
        QVERIFY(l_road.Ready() && lp_carol);
        TransfersTestWorld::SetOnline("carol");
        QList<ItemPtr> l_records;
        connect(&l_road.Manager(), &TransferQueueManager::CompleteDownloadAdded, this,
                [&](ItemPtr i_record) { l_records.append(i_record); });
        const QByteArray l_bobs = Pattern(8000);
        const QByteArray l_carols = Other(10000);
        ItemPtr l_fromBob = l_road.Manager().AddDownload("bob", "song.mp3", "Music", l_bobs.size(), 0);
        QCOMPARE(l_road.Offer(1, Path, l_bobs.size()), Accept(1));
        QVERIFY(l_road.BreakOff(1, l_bobs.left(3000), l_fromBob));
        if (left == "removed") {
            l_road.Manager().RemoveDownload(l_fromBob);
        } else if (left == "complete") {
            l_road.Manager().SetDownloadEntryStatus(l_fromBob, TransferStatus::Complete);
        }

        ItemPtr l_fromCarol = l_road.Manager().AddDownload("carol", "song.mp3", "Music", l_carols.size(), 0);
        lp_carol->SendFrame(OfferBody(2, Path, l_carols.size()));
        QVERIFY(lp_carol->WaitForFrames(3));
        FakePeerConnection* lp_file = nullptr;
        QCOMPARE(l_road.OffsetFor("carol", 2, &lp_file), 0);
        lp_file->SendRaw(l_carols);
        QVERIFY(TransferRoad::Reaches(l_fromCarol, TransferStatus::Complete));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), l_carols);
        QCOMPARE(l_records.size(), 1);
        QCOMPARE(l_records[0]["user"].AsString(), std::string("carol"));
        QCOMPARE(l_records[0]["complete_download_filename"].AsString(), std::string("song.mp3"));
        // Bob's partial file is left as it was.
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Partial("song.mp3")), l_bobs.left(3000));
        if (left != "aborted")
            return;
        // And bob's download goes on from it, to bob's whole file.
        QCOMPARE(l_road.Offer(3, Path, l_bobs.size()), Accept(3));
        QVERIFY(l_road.Deliver(3, l_bobs.mid(3000), l_fromBob));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song (1).mp3")), l_bobs);
    }

    // Another user's file of the same folder and name, "other" bytes long,
    // finished at the complete path of bob's download of 20,000 bytes. Bob's
    // broke off after "own" bytes before (-1: it never started), then is
    // queued again "by" adding it, at bob's login or by the five-minute
    // check; or it is complete at once, shown whole, with nothing asked.
    void anotherUsersFinishedFileCompletesOnlyADownloadWithNothingOfItsOwn_data()
    {
        QTest::addColumn<QString>("by");
        QTest::addColumn<int>("own");
        QTest::addColumn<int>("other");
        QTest::addColumn<bool>("complete");
        QTest::newRow("added, another size") << "add" << -1 << 30000 << false;
        QTest::newRow("added, the same size") << "add" << -1 << 20000 << true;
        QTest::newRow("login, broken off, another size") << "login" << 3000 << 30000 << false;
        QTest::newRow("login, broken off, the same size") << "login" << 3000 << 20000 << false;
        // A data file of an older version records no partial file.
        QTest::newRow("login after an upgrade, broken off, the same size") << "login, unrecorded" << 3000 << 20000
                                                                           << false;
        QTest::newRow("login, broken off before a byte, the same size") << "login" << 0 << 20000 << true;
        QTest::newRow("login, never started, the same size") << "login" << -1 << 20000 << true;
        QTest::newRow("login, never started, another size") << "login" << -1 << 30000 << false;
        QTest::newRow("five minutes, broken off, the same size") << "check" << 3000 << 20000 << false;
        QTest::newRow("five minutes, never started, the same size") << "check" << -1 << 20000 << true;
        QTest::newRow("five minutes, never started, another size") << "check" << -1 << 30000 << false;
    }
    void anotherUsersFinishedFileCompletesOnlyADownloadWithNothingOfItsOwn()
    {
        QFETCH(QString, by);
        QFETCH(int, own);
        QFETCH(int, other);
        QFETCH(bool, complete);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        TransferQueueManager& l_manager = l_road.Manager();
        const QByteArray l_bobs = Pattern(20000);
        ItemPtr l_download;
        if (by != "add") {
            l_download = l_manager.AddDownload("bob", "song.mp3", "Music", l_bobs.size(), 0);
            QVERIFY(l_road.mp_bob->WaitForFrames(2));
            if (own >= 0) {
                QCOMPARE(l_road.Offer(1, Path, l_bobs.size()), Accept(1));
                QVERIFY(l_road.BreakOff(1, l_bobs.left(own), l_download));
            }
            if (by.endsWith("unrecorded")) {
                l_download.Disconnect("partial_path");
                DownloadPartials::MarkUnrecorded(ItemSet{l_download.Get()});
            }
        }
        TransfersTestWorld::MakeFile(l_road.m_world.Complete("song.mp3"), Other(other));
        QSignalSpy l_shown(&l_manager, &TransferQueueManager::DownloadProgressed);
        const int l_before = int(l_road.mp_bob->Frames().size());

        if (by == "add") {
            l_download = l_manager.AddDownload("bob", "song.mp3", "Music", l_bobs.size(), 0);
        } else if (by.startsWith("login")) {
            TransfersTestWorld::SetOnline("bob", false);
            TransfersTestWorld::SetOnline("bob");
        } else {
            l_manager.PeriodicCheck();
        }

        QCOMPARE(Status(l_download) == TransferStatus::Complete, complete);
        if (complete) {
            QCOMPARE(l_shown.size(), 1);
            QCOMPARE(*TransferFigures::Of<TransferFigures::Position>(l_download, "write_position"), qint64(20000));
            PeerTestWorld::Settle(50);
            QCOMPARE(int(l_road.mp_bob->Frames().size()), l_before);
            QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), Other(other));
            QVERIFY(!QFileInfo::exists(l_road.m_world.Partial("song.mp3")));
            return;
        }
        // Asked for again, it goes on from its own bytes to a file beside
        // the other's.
        QVERIFY(l_road.mp_bob->WaitForFrames(l_before + 1));
        QCOMPARE(l_road.mp_bob->Frames().value(l_before), MessageBody(43, Path));
        QCOMPARE(l_road.Offer(2, Path, l_bobs.size()), Accept(2));
        const int l_offset = std::max(own, 0);
        FakePeerConnection* lp_file = nullptr;
        QCOMPARE(l_road.OffsetFor("bob", 2, &lp_file), qint64(l_offset));
        lp_file->SendRaw(l_bobs.mid(l_offset));
        QVERIFY(TransferRoad::Reaches(l_download, TransferStatus::Complete));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song (1).mp3")), l_bobs);
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), Other(other));
    }

    // A download found finished, "by" adding it, at bob's login or by the
    // five-minute check, since a file of its name and size is already at
    // its complete path: its row shows the whole size, and the services'
    // end lets go of that figure with every other, so the leak checker
    // finds nothing left once the store is gone.
    void aDownloadFoundFinishedLeavesNothingAtTheEnd_data()
    {
        QTest::addColumn<QString>("by");
        QTest::newRow("added") << "add";
        QTest::newRow("at login") << "login";
        QTest::newRow("five-minute check") << "check";
    }
    void aDownloadFoundFinishedLeavesNothingAtTheEnd()
    {
        QFETCH(QString, by);
        if (!HeapMeter::Available())
            QSKIP("needs the leak checker of the sanitizer build");
        {
            TransferRoad l_road;
            QVERIFY(l_road.Ready());
            TransferQueueManager& l_manager = l_road.Manager();
            ItemPtr l_download;
            if (by != "add") {
                l_download = l_manager.AddDownload("bob", "song.mp3", "Music", 20000, 0);
                QVERIFY(l_road.mp_bob->WaitForFrames(2));
            }
            TransfersTestWorld::MakeFile(l_road.m_world.Complete("song.mp3"), Other(20000));
            if (by == "add") {
                l_download = l_manager.AddDownload("bob", "song.mp3", "Music", 20000, 0);
            } else if (by == "login") {
                TransfersTestWorld::SetOnline("bob", false);
                TransfersTestWorld::SetOnline("bob");
            } else {
                l_manager.PeriodicCheck();
            }
            QCOMPARE(Status(l_download), std::string(TransferStatus::Complete));
            QCOMPARE(*TransferFigures::Of<TransferFigures::Position>(l_download, "write_position"), qint64(20000));
        }
        QVERIFY2(!HeapMeter::LeaksLeft(), "the services' end left heap blocks behind");
    }

    // Bob's download after a restart, with a partial file at its path from
    // the run before ("before"): whose the partial is decides whether it
    // is continued. A data file of an older version records none.
    void aRestartKeepsWhosePartialFileItIs_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<qint64>("offset");
        QTest::newRow("bob's, broken off") << "own" << qint64(3000);
        // Only bob's record, saved with his download, tells the two apart.
        QTest::newRow("bob's, carol at its path too") << "own, shared" << qint64(3000);
        QTest::newRow("an older version's, bob alone at its path") << "older, alone" << qint64(3000);
        QTest::newRow("an older version's, carol at its path too") << "older, shared" << qint64(0);
        QTest::newRow("carol's") << "carol's" << qint64(0);
    }
    void aRestartKeepsWhosePartialFileItIs()
    {
        QFETCH(QString, before);
        QFETCH(qint64, offset);
        QTemporaryDir l_dataFolder;
        const QString l_dataFile = l_dataFolder.filePath("client.dat");
        QTemporaryDir l_downloads;
        const QString l_partial = l_downloads.path() + "/downloading/Music/song.mp3";
        const QByteArray l_bobs = Pattern(8000);
        {
            TransferRoad l_road;
            QVERIFY(l_road.Ready());
            Settings::Set("download_folder", l_downloads.path().toStdString());
            ItemPtr l_fromBob = l_road.Manager().AddDownload("bob", "song.mp3", "Music", l_bobs.size(), 0);
            if (before.startsWith("own")) {
                QCOMPARE(l_road.Offer(1, Path, l_bobs.size()), Accept(1));
                QVERIFY(l_road.BreakOff(1, l_bobs.left(3000), l_fromBob));
                if (before == "own, shared")
                    l_road.Manager().AddDownload("carol", "song.mp3", "Music", 10000, 0);
            } else if (before == "older, alone") {
                TransfersTestWorld::MakeFile(l_partial, l_bobs.left(3000));
            } else {
                ItemPtr l_fromCarol = l_road.Manager().AddDownload("carol", "song.mp3", "Music", 10000, 0);
                if (before == "carol's")
                    TransfersTestWorld::MakeOwnPartial(l_fromCarol, l_partial, Other(3000));
                else
                    TransfersTestWorld::MakeFile(l_partial, Other(3000));
            }
            l_road.m_world.Save(l_dataFile);
        }
        const QByteArray l_left = TransfersTestWorld::ReadFile(l_partial);

        TransferRoad l_road(false);
        l_road.Load(l_dataFile);
        QVERIFY(l_road.Ready());
        ItemPtr l_fromBob = l_road.Manager().GetDownloadEntry("bob", "song.mp3", "Music");
        QVERIFY(l_fromBob);
        QCOMPARE(l_road.Offer(5, Path, l_bobs.size()), Accept(5));
        FakePeerConnection* lp_file = nullptr;
        QCOMPARE(l_road.OffsetFor("bob", 5, &lp_file), offset);
        lp_file->SendRaw(l_bobs.mid(int(offset)));
        QVERIFY(TransferRoad::Reaches(l_fromBob, TransferStatus::Complete));
        QCOMPARE(TransfersTestWorld::ReadFile(l_downloads.path() + "/complete/Music/song.mp3"), l_bobs);
        if (offset == 0)
            QCOMPARE(TransfersTestWorld::ReadFile(l_partial), l_left);
    }

    // A finished file meets the complete folder: "taken" holds an older file
    // under the name, "blocked" makes the folder a file.
    void theFinishedFileFindsAFreeNameOrStays_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("status");
        QTest::newRow("the name is taken") << "taken" << "song (1).mp3" << "complete";
        QTest::newRow("two names are taken") << "taken twice" << "song (2).mp3" << "complete";
        QTest::newRow("the folder cannot be made") << "blocked" << "" << "local error";
    }
    void theFinishedFileFindsAFreeNameOrStays()
    {
        QFETCH(QString, setup);
        QFETCH(QString, name);
        QFETCH(QString, status);
        TransferRoad l_road;
        QVERIFY(l_road.Ready());
        ItemPtr l_download = l_road.Manager().AddDownload("bob", "song.mp3", "Music", 4, 0);
        if (setup.startsWith("taken")) {
            TransfersTestWorld::MakeFile(l_road.m_world.Complete("song.mp3"), "old");
            // Made after the download was added, which would otherwise
            // count as finished already.
            if (setup == "taken twice")
                TransfersTestWorld::MakeFile(l_road.m_world.Complete("song (1).mp3"), "older");
        } else {
            TransfersTestWorld::MakeFile(l_road.m_world.DownloadRoot() + "/complete/Music", "a file");
        }
        int l_records = 0;
        connect(&l_road.Manager(), &TransferQueueManager::CompleteDownloadAdded, this, [&] { ++l_records; });
        QCOMPARE(l_road.Offer(7, Path, 4), Accept(7));
        FakePeerConnection* lp_file = l_road.Open("bob", 7);
        QVERIFY(lp_file && lp_file->WaitForBytes(8));
        lp_file->SendRaw("data");
        QVERIFY(TransferRoad::Reaches(l_download, status.toUtf8().constData()));
        if (name.isEmpty()) {
            QCOMPARE(l_records, 0);
            QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Partial("song.mp3")), QByteArray("data"));
            return;
        }
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete("song.mp3")), QByteArray("old"));
        QCOMPARE(TransfersTestWorld::ReadFile(l_road.m_world.Complete(name)), QByteArray("data"));
        QCOMPARE(l_records, 1);
        ItemPtr l_record = d.GetType("complete_download")->GetItems();
        QCOMPARE(QString::fromStdString(l_record["complete_download_filename"].AsString()), name);
    }
};

QTEST_MAIN(TestTransfersDownloadRoad)
#include "tst_transfers_download_road.moc"
