// The download queue: adding, queueing at the users, the periodic and
// online triggers, status changes and their release, removal, places in
// line and the peers' refusals and failures.
#include "TransfersTestWorld.h"

#include "core/persist/Settings.h"
#include "peer/PeerMessageCodes.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>

namespace
{
using Codes = PeerMessageCodes::Code;

QByteArray Queue(const std::string& i_path)
{
    return MessageBody(Codes::QueueUpload, i_path);
}

QByteArray Place(const std::string& i_path)
{
    return MessageBody(Codes::UploadPlaceInLineRequest, i_path);
}

bool IsTracked(const char* ip_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(ip_user);
    return l_user && l_user.IsConnected("is_tracked");
}

std::string Status(ItemPtr i_download)
{
    return i_download["download_entry_status"].AsString();
}

// Adds a download in the given status, with its order number.
ItemPtr Download(TransferQueueManager& io_manager, const std::string& i_user, const std::string& i_file,
                 const std::string& i_status, long long i_order = 0)
{
    ItemPtr l_download = io_manager.AddDownload(i_user, i_file, "Music", 1, 0);
    io_manager.SetDownloadEntryStatus(l_download, i_status);
    if (i_order)
        l_download += d.GetType("download_order")->GetItem(ToString(i_order));
    return l_download;
}
}  // namespace

class TestTransfersDownloads : public QObject
{
    Q_OBJECT

private slots:
    void addingQueuesAtTheUserWhenOnline_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("atCompletePath");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("messages");
        QTest::newRow("offline") << false << "" << "queued" << 0;
        QTest::newRow("online") << true << "" << "queued" << 2;
        QTest::newRow("finished, online") << true << "file" << "complete" << 0;
        QTest::newRow("finished, offline") << false << "file" << "complete" << 0;
        // Only a file is a finished download; a folder of that name is not.
        QTest::newRow("a folder there, online") << true << "folder" << "queued" << 2;
    }
    void addingQueuesAtTheUserWhenOnline()
    {
        QFETCH(bool, online);
        QFETCH(QString, atCompletePath);
        QFETCH(QString, status);
        QFETCH(int, messages);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        const QString l_completePath = l_world.DownloadRoot() + "/complete/CD1/01.mp3";
        if (atCompletePath == "file") {
            TransfersTestWorld::MakeFile(l_completePath);
            QVERIFY(QFile::resize(l_completePath, 4000000000LL));
        }
        else if (atCompletePath == "folder")
            QVERIFY(QDir().mkpath(l_completePath));
        TransfersTestWorld::SetOnline("bob", online);
        Settings::Set("transfer_order_counter", "7");

        ItemPtr l_download = l_manager.AddDownload("bob", "01.mp3", "Music\\CD1", 4000000000LL, 0);
        QCOMPARE(QString::fromStdString(Status(l_download)), status);
        QCOMPARE(l_download["download_order"].AsInt64(), 7LL);
        QCOMPARE(l_download["file_size"].AsInt64(), 4000000000LL);
        QCOMPARE(Settings::Get("transfer_order_counter"), std::string("8"));
        QVERIFY(IsTracked("bob"));
        const QList<QByteArray> l_expected{Queue("Music\\CD1\\01.mp3"), Place("Music\\CD1\\01.mp3")};
        QCOMPARE(TransfersTestWorld::Sent("bob"), l_expected.mid(0, messages));

        // Adding it again returns it unchanged and sends nothing.
        TransfersTestWorld::ClearSent();
        QCOMPARE(l_manager.AddDownload("bob", "01.mp3", "Music\\CD1", 5, 1), l_download);
        QCOMPARE(Settings::Get("transfer_order_counter"), std::string("8"));
        QCOMPARE(l_download["file_size"].AsInt64(), 4000000000LL);
        QVERIFY(TransfersTestWorld::Sent("bob").isEmpty());
    }

    void aUserComingOnlineGetsThePendingDownloadsInOrder()
    {
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        Download(l_manager, "bob", "done.mp3", "complete", 1);
        Download(l_manager, "bob", "refused.mp3", "denied", 2);
        Download(l_manager, "bob", "queued.mp3", "queued", 9);
        Download(l_manager, "bob", "failed.mp3", "local error", 4);
        ItemPtr l_found = Download(l_manager, "bob", "found.mp3", "aborted", 5);
        TransfersTestWorld::MakeFile(l_world.DownloadRoot() + "/complete/Music/found.mp3");
        // A queued upload for the same user starts once the user is online.
        TransfersTestWorld::ShareFile("/shares/x", "up.mp3", 3);
        l_manager.OnQueueUploadRequested("bob", "\\shares\\x\\up.mp3");
        l_world.ClearLog();

        TransfersTestWorld::SetOnline("bob");
        const QList<QByteArray> l_sent = TransfersTestWorld::Sent("bob");
        QCOMPARE(l_sent.size(), 5);
        QCOMPARE(l_sent.mid(0, 4), (QList<QByteArray>{Queue("Music\\failed.mp3"), Place("Music\\failed.mp3"),
                                                       Queue("Music\\queued.mp3"), Place("Music\\queued.mp3")}));
        QVERIFY(l_sent[4].startsWith(QByteArray::fromHex("28000000")));
        QCOMPARE(Status(l_found), std::string("complete"));
        QCOMPARE(Status(l_manager.GetDownloadEntry("bob", "failed.mp3", "Music")), std::string("local error"));
        const QStringList l_log = l_world.LogTexts();
        QVERIFY(l_log.contains("User bob went online, processing pending downloads"));
        QVERIFY(l_log.contains("   Queueing queued.mp3"));

        // Reported online again while online: nothing happens.
        TransfersTestWorld::ClearSent();
        TransfersTestWorld::SetOnline("bob");
        QVERIFY(TransfersTestWorld::Sent("bob").isEmpty());
        // After going offline and coming back, the same downloads go again.
        TransfersTestWorld::SetOnline("bob", false);
        TransfersTestWorld::SetOnline("bob");
        QCOMPARE(TransfersTestWorld::Sent("bob").size(), 4);
    }

    // Downloads as "user file status order"; the queue requests each user
    // gets, in order.
    void theFiveMinuteCheckQueuesAgainWhileNothingDownloads_data()
    {
        QTest::addColumn<QStringList>("downloads");
        QTest::addColumn<QStringList>("online");
        QTest::addColumn<QStringList>("bob");
        QTest::addColumn<QStringList>("carol");
        QTest::newRow("aborted and queued, by order")
            << QStringList{"bob a aborted 12", "bob b aborted 5", "carol c queued 8"} << QStringList{"bob", "carol"}
            << QStringList{"b", "a"} << QStringList{"c"};
        QTest::newRow("something downloads") << QStringList{"bob a aborted 1", "carol c downloading 2"}
                                             << QStringList{"bob", "carol"} << QStringList{} << QStringList{};
        QTest::newRow("offline users wait") << QStringList{"bob a queued 1", "carol c queued 2"} << QStringList{"carol"}
                                            << QStringList{} << QStringList{"c"};
        QTest::newRow("finished, refused and broken ones stay")
            << QStringList{"bob a complete 1", "bob b denied 2", "bob c local error 3"} << QStringList{"bob"}
            << QStringList{} << QStringList{};
    }
    void theFiveMinuteCheckQueuesAgainWhileNothingDownloads()
    {
        QFETCH(QStringList, downloads);
        QFETCH(QStringList, online);
        QFETCH(QStringList, bob);
        QFETCH(QStringList, carol);
        TransfersTestWorld l_world;
        std::vector<std::pair<ItemPtr, std::string>> l_entries;
        for (const QString& l_line : downloads) {
            const QStringList l_fields = l_line.split(' ');
            const std::string l_status = l_fields.mid(2, l_fields.size() - 3).join(' ').toStdString();
            l_entries.emplace_back(Download(l_world.Manager(), l_fields[0].toStdString(), l_fields[1].toStdString(),
                                            l_status, l_fields.last().toLongLong()),
                                   l_status);
        }
        for (const QString& l_user : online)
            TransfersTestWorld::SetOnline(l_user.toStdString());
        TransfersTestWorld::ClearSent();
        l_world.ClearLog();

        l_world.Manager().PeriodicCheck();
        for (const auto& [l_user, l_files] : {std::pair{"bob", bob}, std::pair{"carol", carol}}) {
            QList<QByteArray> l_expected;
            for (const QString& l_file : l_files)
                l_expected.append(Queue("Music\\" + l_file.toStdString()));
            QCOMPARE(TransfersTestWorld::Sent(l_user), l_expected);
        }
        QCOMPARE(l_world.LogTexts().contains("Not currently downloading anything, re-queueing inactive downloads"),
                 !bob.isEmpty() || !carol.isEmpty());
        // The check changes no status.
        for (const auto& [l_download, l_status] : l_entries)
            QCOMPARE(Status(l_download), l_status);
    }

    void leavingTheActiveStateReleasesTheTransfer_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("released");
        QTest::newRow("downloading to aborted") << "downloading" << "aborted" << true;
        QTest::newRow("downloading to denied") << "downloading" << "denied" << true;
        QTest::newRow("downloading again") << "downloading" << "downloading" << false;
        QTest::newRow("queued to denied") << "queued" << "denied" << false;
        QTest::newRow("removed") << "downloading" << "" << true;
    }
    void leavingTheActiveStateReleasesTheTransfer()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, released);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        ItemPtr l_download = Download(l_manager, "bob", "a", from.toStdString());
        QTemporaryDir l_folder;
        QPointer<QFile> lp_file = new QFile(l_folder.filePath("part"));
        QVERIFY(lp_file->open(QIODevice::WriteOnly));
        QPointer<QTcpSocket> lp_socket = new QTcpSocket;
        l_download += d.GetType("download_file")->GetItem(Value(lp_file.data()));
        l_download += d.GetType("download_socket")->GetItem(Value(lp_socket.data()));
        TransferFigures::Attach<TransferFigures::Position>(l_download, "write_position", 100);
        TransferFigures::Attach<TransferFigures::Time>(l_download, "last_receipt_time", QDateTime::currentDateTime());
        TransferFigures::Attach<TransferFigures::Speed>(l_download, "bytes_per_second", 10);

        if (to.isEmpty())
            l_manager.RemoveDownload(l_download);
        else
            l_manager.SetDownloadEntryStatus(l_download, to.toStdString());
        PeerTestWorld::Settle(0);
        QCOMPARE(lp_file.isNull(), released);
        QCOMPARE(lp_socket.isNull(), released);
        QCOMPARE(d.GetType("download_file")->ItemCount() == 0, released);
        QCOMPARE(d.GetType("download_socket")->ItemCount() == 0, released);
        QCOMPARE(d.GetType("write_position")->ItemCount() == 0, released);
        if (!released) {
            l_download["download_file"].Remove();
            l_download["download_socket"].Remove();
            delete lp_file;
            delete lp_socket;
        }
        // Removing sends nothing to the peer.
        QVERIFY(TransfersTestWorld::Sent("bob").isEmpty());
    }

    void placesInLineAreRecordedForTheNamedDownload_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("matched");
        QTest::newRow("exact") << "bob" << QByteArray("Music\\CD1\\a.mp3") << true;
        QTest::newRow("trailing backslash") << "bob" << QByteArray("Music\\CD1\\a.mp3\\") << true;
        QTest::newRow("slash before the name") << "bob" << QByteArray("Music\\CD1/a.mp3") << true;
        QTest::newRow("other case") << "bob" << QByteArray("music\\CD1\\a.mp3") << false;
        QTest::newRow("other user") << "carol" << QByteArray("Music\\CD1\\a.mp3") << false;
        QTest::newRow("no separator") << "bob" << QByteArray("a.mp3") << false;
    }
    void placesInLineAreRecordedForTheNamedDownload()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, path);
        QFETCH(bool, matched);
        TransfersTestWorld l_world;
        ItemPtr l_download = l_world.Manager().AddDownload("bob", "a.mp3", "Music\\CD1", 1, 0);
        l_world.ClearLog();
        l_world.Manager().OnDownloadPlaceInLine(user.toStdString(), path.toStdString(), 3);
        l_world.Manager().OnDownloadPlaceInLine(user.toStdString(), path.toStdString(), 1);
        QCOMPARE(l_download["place_in_line"].AsString(), std::string(matched ? "1" : ""));
        QVERIFY(l_world.LogTexts().isEmpty());
    }

    void peersRefusalsAndFailuresAreRecorded_data()
    {
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<QString>("line");
        const QString l_denied = "   Download found, marking as denied.";
        QTest::newRow("denied while queued") << "denied" << "queued" << false << "denied" << false << l_denied;
        QTest::newRow("denied when complete") << "denied" << "complete" << true << "denied" << false << l_denied;
        QTest::newRow("denied while downloading") << "denied" << "downloading" << true << "denied" << false << l_denied;
        const QString l_again = "User bob appears to still be online, re-queueing Music\\a.mp3";
        QTest::newRow("failed when aborted") << "failed" << "aborted" << true << "aborted" << true << l_again;
        QTest::newRow("failed when denied") << "failed" << "denied" << true << "denied" << true << l_again;
        QTest::newRow("failed in local error") << "failed" << "local error" << true << "local error" << false
                                               << "Download status local error, not re-queueing Music\\a.mp3";
        QTest::newRow("failed while offline") << "failed" << "queued" << false << "queued" << false
                                              << "User bob offline, not re-queueing Music\\a.mp3";
        QTest::newRow("denied, unknown file") << "denied other" << "queued" << true << "queued" << false
                                              << "   Download not found.";
        QTest::newRow("failed, unknown file") << "failed other" << "aborted" << true << "aborted" << false
                                              << "   Download not found.";
    }
    void peersRefusalsAndFailuresAreRecorded()
    {
        QFETCH(QString, notice);
        QFETCH(QString, status);
        QFETCH(bool, online);
        QFETCH(QString, after);
        QFETCH(bool, queued);
        QFETCH(QString, line);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        ItemPtr l_download = Download(l_manager, "bob", "a.mp3", status.toStdString());
        TransferFigures::Attach<TransferFigures::Position>(l_download, "write_position", 1);
        TransfersTestWorld::SetOnline("bob", online);
        TransfersTestWorld::ClearSent();
        l_world.ClearLog();
        const std::string l_path = notice.endsWith("other") ? "Music\\b.mp3" : "Music\\a.mp3";
        if (notice.startsWith("denied"))
            l_manager.OnUploadDeniedNotification("bob", l_path, "Too many files");
        else
            l_manager.OnUploadFailedNotification("bob", l_path);

        QCOMPARE(QString::fromStdString(Status(l_download)), after);
        QCOMPARE(l_download["denial_reason"].AsString(), std::string(after == "denied" && status != "denied" ? "Too many files" : ""));
        // A running download that is refused lets go of its transfer.
        QCOMPARE(l_download.IsConnected("write_position"), status != "downloading" || after == "downloading");
        QCOMPARE(TransfersTestWorld::Sent("bob"), queued ? QList<QByteArray>{Queue(l_path)} : QList<QByteArray>{});
        QVERIFY2(l_world.LogTexts().contains(line), qPrintable(l_world.LogTexts().join('|')));
    }

    // What makes the saved download list out of date: an entry added,
    // removed or finished, each told once; other status changes are not.
    // "existing" is the status of download "a" before the change.
    void changesOfTheDownloadListAreTold_data()
    {
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("told");
        QTest::newRow("added") << "queued" << "add b" << 1;
        QTest::newRow("added again") << "queued" << "add a" << 0;
        QTest::newRow("removed") << "downloading" << "remove a" << 1;
        QTest::newRow("finished") << "downloading" << "complete" << 1;
        QTest::newRow("finished before") << "complete" << "complete" << 0;
        QTest::newRow("started") << "queued" << "downloading" << 0;
        QTest::newRow("failed") << "downloading" << "aborted" << 0;
    }
    void changesOfTheDownloadListAreTold()
    {
        QFETCH(QString, existing);
        QFETCH(QString, change);
        QFETCH(int, told);
        TransfersTestWorld l_world;
        TransferQueueManager& l_manager = l_world.Manager();
        ItemPtr l_download = Download(l_manager, "bob", "a", existing.toStdString());
        QSignalSpy l_told(&l_manager, &TransferQueueManager::DownloadListChanged);
        if (change.startsWith("add "))
            l_manager.AddDownload("bob", change.mid(4).toStdString(), "Music", 1, 0);
        else if (change == "remove a")
            l_manager.RemoveDownload(l_download);
        else
            l_manager.SetDownloadEntryStatus(l_download, change.toStdString());
        QCOMPARE(l_told.size(), told);
    }

    void placesAreAskedForQueuedDownloadsOnly()
    {
        TransfersTestWorld l_world;
        for (const char* lp_file : {"a", "b", "c"})
            Download(l_world.Manager(), "bob", lp_file, "queued");
        Download(l_world.Manager(), "bob", "d", "aborted");
        TransfersTestWorld::ClearSent();
        l_world.Manager().RequestUserDownloadsPlaceInLine("bob");
        QList<QByteArray> l_sent = TransfersTestWorld::Sent("bob");
        std::sort(l_sent.begin(), l_sent.end());
        QCOMPARE(l_sent, (QList<QByteArray>{Place("Music\\a"), Place("Music\\b"), Place("Music\\c")}));
    }
};

QTEST_MAIN(TestTransfersDownloads)
#include "tst_transfers_downloads.moc"
