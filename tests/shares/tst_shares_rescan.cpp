// Walking shared folders into the index: what is found, what a rescan adds
// and removes, and what survives a restart.
#include "SharesTestWorld.h"

#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/util/GeneralFunctions.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::size_t Count(const char* ip_type)
{
    return d.GetType(ip_type)->ItemCount();
}

bool HasWord(ItemPtr i_file, const std::string& i_word)
{
    ItemPtr l_word = d.GetType("search_token")->HasItem(i_word);
    return l_word && i_file.IsConnected(l_word);
}
}  // namespace

class TestSharesRescan : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void StartUpIndexesTheTreeSilently();
    void RescanReportsWhatChanged();
    void KnownFilesAreKeptWhateverTheirOrderInMemory();
    void WhatOnlyGoneFilesHeldGoesWithThem();
    void LargeRemovalsAreCountedWhole_data();
    void LargeRemovalsAreCountedWhole();
    void Mp3FilesAreHandedToTheScanner_data();
    void Mp3FilesAreHandedToTheScanner();
    void LinksCyclesAndSpecialFiles();
    void NestedRootsIndexEachFileOnce();
    void VanishedRootStaysShared();
    void ShareRemovedBeforeItsWalkIsApplied();
    void RescanDuringRescanRunsAgain();
    void IndexAndMarksSurviveARestart();
    void AFileSomethingHoldsIsSetAsideUntilLetGo();
    void UnsharingTakesTheFilesOutAtOnce();

private:
    std::unique_ptr<SharesTestWorld> mp_world;
};

void TestSharesRescan::init()
{
    mp_world = std::make_unique<SharesTestWorld>();
}

void TestSharesRescan::cleanup()
{
    mp_world.reset();
}

void TestSharesRescan::StartUpIndexesTheTreeSilently()
{
    const std::string l_root = mp_world->MakeFolder("Music");
    mp_world->MakeFile("Music/Best Of/Don't Stop.ogg", 1234);
    mp_world->MakeFile("Music/a.txt", 7);
    mp_world->MakeFolder("Music/empty");
    mp_world->MakeFile("Music/.hidden.txt");
    mp_world->MakeFile("Music/.secret/inside.txt");
    mp_world->Share(l_root);
    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);

    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(l_reports.count(), 0);
    QCOMPARE(mp_world->Shares().FilesAdded(), 2);
    QCOMPARE(Count("shared_file"), std::size_t(2));
    for (const char* lp_folder : {"", "/Best Of", "/empty"})
        QVERIFY2(d.GetType("shared_file_folder")->HasItem(l_root + lp_folder), lp_folder);
    QCOMPARE(Count("shared_file_folder"), std::size_t(3));

    ItemPtr l_song = SharesTestWorld::FileItem(l_root + "/Best Of", "Don't Stop.ogg");
    QVERIFY(l_song);
    QCOMPARE(l_song["shared_file_size"].AsString(), std::string("1234"));
    QCOMPARE(l_song["shared_file_name"]["shared_file_lowercase_name"].AsString(), std::string("don't stop.ogg"));
    QVERIFY(d.GetType("shared_file_folder_lowercase_name")->HasItem(GetAbsoluteFileName(l_root + "/Best Of")));
    for (const char* lp_word : {"best", "of", "don", "t", "don't", "stop", "ogg", "stop.ogg", "music"})
        QVERIFY2(HasWord(l_song, lp_word), lp_word);
    QVERIFY(!HasWord(SharesTestWorld::FileItem(l_root, "a.txt"), "best"));
}

void TestSharesRescan::RescanReportsWhatChanged()
{
    const std::string l_root = mp_world->MakeFolder("share");
    mp_world->MakeFile("share/song.txt");
    mp_world->MakeFile("share/sub/b.txt");
    mp_world->MakeFile("share/sub/c.txt");
    mp_world->MakeFile("share/keep.txt", 1);
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    ItemPtr l_keep = SharesTestWorld::FileItem(l_root, "keep.txt");

    // A change of case only is a new file; a renamed folder's files are
    // removed and added again; a grown file keeps its item and offers its
    // real size.
    QVERIFY(QFile::rename(QString::fromStdString(l_root + "/song.txt"), QString::fromStdString(l_root + "/Song.txt")));
    QVERIFY(QDir().rename(QString::fromStdString(l_root + "/sub"), QString::fromStdString(l_root + "/moved")));
    mp_world->MakeFile("share/keep.txt", 5);
    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    QVERIFY(mp_world->RescanAndWait());

    QCOMPARE(l_reports.count(), 1);
    QCOMPARE(l_reports.front(), (QVariantList{3, 3}));
    QCOMPARE(SharesTestWorld::FileItem(l_root, "keep.txt"), l_keep);
    QCOMPARE(l_keep["shared_file_size"].AsString(), std::string("5"));
    QVERIFY(!d.GetType("shared_file_folder")->HasItem(l_root + "/sub"));
    QVERIFY(SharesTestWorld::FileItem(l_root + "/moved", "b.txt"));
    QVERIFY(!d.GetType("shared_file_name")->HasItem("song.txt").IsConnected("shared_file"));
    QCOMPARE(Count("shared_file"), std::size_t(4));
    // Words of files that are gone go with them.
    QVERIFY(!d.GetType("search_token")->HasItem("sub"));
}

void TestSharesRescan::KnownFilesAreKeptWhateverTheirOrderInMemory()
{
    // A loaded index holds its files in the data file's order, not the
    // walk's: made here in reverse name order, so the walk meets them from
    // the highest address down.
    const std::string l_root = mp_world->MakeFolder("many");
    ItemPtr l_share = mp_world->Share(l_root);
    std::vector<std::pair<std::string, Item*>> l_files;
    for (int l_n = 63; l_n >= 0; --l_n) {
        const std::string l_name = QString("f%1.txt").arg(l_n, 2, 10, QLatin1Char('0')).toStdString();
        mp_world->MakeFile("many/" + l_name);
        l_files.emplace_back(l_name, SharesTestWorld::Index(l_share, l_root, l_name).Get());
    }
    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(mp_world->Shares().FilesAdded(), 0);
    QCOMPARE(mp_world->Shares().FilesRemoved(), 0);
    QCOMPARE(Count("shared_file"), l_files.size());
    for (const auto& l_file : l_files)
        QVERIFY2(SharesTestWorld::FileItem(l_root, l_file.first).Get() == l_file.second, l_file.first.c_str());
}

void TestSharesRescan::WhatOnlyGoneFilesHeldGoesWithThem()
{
    const std::string l_root = mp_world->MakeFolder("lib");
    mp_world->MakeFile("lib/keep/Common Song.txt", 10);
    mp_world->MakeFile("lib/gone/Zebra Song.txt", 777);
    mp_world->MakeFile("lib/grow.txt", 5);
    mp_world->MakeFolder("lib/hollow");
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    QVERIFY(QDir(QString::fromStdString(l_root + "/gone")).removeRecursively());
    mp_world->MakeFile("lib/grow.txt", 6);
    QVERIFY(mp_world->RescanAndWait());

    QCOMPARE(mp_world->Shares().FilesRemoved(), 1);
    // Its name, size, words and folder, each with its twin.
    QVERIFY(!d.GetType("shared_file_name")->HasItem("Zebra Song.txt"));
    QVERIFY(!d.GetType("shared_file_lowercase_name")->HasItem("zebra song.txt"));
    QVERIFY(!d.GetType("shared_file_size")->HasItem("777"));
    QVERIFY(!d.GetType("shared_file_folder")->HasItem(l_root + "/gone"));
    QVERIFY(!d.GetType("shared_file_folder_lowercase_name")->HasItem(GetAbsoluteFileName(l_root + "/gone")));
    for (const char* lp_gone : {"zebra", "zebra song.txt", "gone"})
        QVERIFY2(!d.GetType("search_token")->HasItem(lp_gone), lp_gone);
    // The grown file's old size, and the words of a folder without files.
    QVERIFY(!d.GetType("shared_file_size")->HasItem("5"));
    QVERIFY(!d.GetType("search_token")->HasItem("hollow"));
    QVERIFY(d.GetType("shared_file_folder")->HasItem(l_root + "/hollow"));
    // What a remaining file still has stays.
    ItemPtr l_kept = SharesTestWorld::FileItem(l_root + "/keep", "Common Song.txt");
    for (const char* lp_word : {"song", "lib", "keep"})
        QVERIFY2(HasWord(l_kept, lp_word), lp_word);
    QVERIFY(d.GetType("shared_file_size")->HasItem("10"));
    QCOMPARE(SharesTestWorld::FileItem(l_root, "grow.txt")["shared_file_size"].AsString(), std::string("6"));
}

void TestSharesRescan::LargeRemovalsAreCountedWhole_data()
{
    // More files than one step removes, so the removal spans several.
    QTest::addColumn<bool>("unshare");
    QTest::newRow("files gone from a folder") << false;
    QTest::newRow("share given up") << true;
}

void TestSharesRescan::LargeRemovalsAreCountedWhole()
{
    QFETCH(bool, unshare);
    const int l_files = int(SharedFoldersManager::RemovalsPerStep) * 2 + 7;
    const std::string l_root = mp_world->MakeFolder("big");
    for (int l_n = 0; l_n < l_files; ++l_n)
        mp_world->MakeFile(QString("big/%1/f%2.txt").arg(l_n % 2).arg(l_n).toStdString(), l_n + 1);
    ItemPtr l_share = mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(Count("shared_file"), std::size_t(l_files));

    if (unshare) {
        // Unsharing takes the files out at once; the rescan finds nothing
        // more to remove.
        l_share.Remove();
        QCOMPARE(Count("shared_file"), std::size_t(0));
    } else {
        for (const char* lp_folder : {"/0", "/1"}) {
            QDir l_folder(QString::fromStdString(l_root + lp_folder));
            QVERIFY(l_folder.removeRecursively() && l_folder.mkpath("."));
        }
    }
    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    QVERIFY(mp_world->RescanAndWait());
    QCOMPARE(l_reports.count(), 1);
    QCOMPARE(l_reports.front(), (QVariantList{0, unshare ? 0 : l_files}));
    for (const char* lp_type : {"shared_file", "shared_file_name", "shared_file_lowercase_name", "shared_file_size"})
        QVERIFY2(Count(lp_type) == 0, lp_type);
    QCOMPARE(Count("shared_file_folder"), std::size_t(unshare ? 0 : 3));
    // Only the folders' own words could stay, and no file holds them.
    QCOMPARE(Count("search_token"), std::size_t(0));
}

void TestSharesRescan::Mp3FilesAreHandedToTheScanner_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("scanned");
    QTest::addColumn<bool>("requested");
    QTest::newRow("lower") << "a.mp3" << false << true;
    QTest::newRow("upper") << "a.MP3" << false << true;
    QTest::newRow("mixed") << "a.Mp3" << false << false;
    QTest::newRow("other") << "a.ogg" << false << false;
    QTest::newRow("already scanned") << "a.mp3" << true << false;
}

void TestSharesRescan::Mp3FilesAreHandedToTheScanner()
{
    QFETCH(QString, name);
    QFETCH(bool, scanned);
    const std::string l_root = mp_world->MakeFolder("m");
    const std::string l_path = mp_world->MakeFile("m/" + name.toStdString());
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    if (scanned)
        SharesTestWorld::FileItem(l_root, name.toStdString()).NewItem("is_scanned");

    QSignalSpy l_requests(&mp_world->Shares(), &SharedFoldersManager::MP3ScanRequired);
    QVERIFY(mp_world->RescanAndWait());
    QStringList l_asked;
    for (const QVariantList& l_request : l_requests)
        l_asked << l_request.front().toString();
    QFETCH(bool, requested);
    QCOMPARE(l_asked, requested ? QStringList{QString::fromStdString(l_path)} : QStringList{});
}

void TestSharesRescan::LinksCyclesAndSpecialFiles()
{
    const std::string l_root = mp_world->MakeFolder("r");
    mp_world->MakeFile("r/a.txt");
    mp_world->MakeFile("r/deeper/b.txt");
    QVERIFY(symlink(l_root.c_str(), (l_root + "/deeper/loop").c_str()) == 0);
    QVERIFY(symlink((l_root + "/a.txt").c_str(), (l_root + "/link.txt").c_str()) == 0);
    QVERIFY(symlink((l_root + "/nowhere").c_str(), (l_root + "/broken.txt").c_str()) == 0);
    QVERIFY(mkfifo((l_root + "/pipe").c_str(), 0600) == 0);
    mp_world->Share(l_root);

    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(Count("shared_file"), std::size_t(3));
    QVERIFY(SharesTestWorld::FileItem(l_root, "link.txt"));
    QVERIFY(!d.GetType("shared_file_name")->HasItem("pipe"));
    QCOMPARE(Count("shared_file_folder"), std::size_t(2));
}

void TestSharesRescan::NestedRootsIndexEachFileOnce()
{
    const std::string l_outer = mp_world->MakeFolder("outer");
    const std::string l_inner = mp_world->MakeFolder("outer/inner");
    mp_world->MakeFile("outer/inner/x.txt");
    mp_world->MakeFile("outer/y.txt");
    ItemPtr l_outerShare = mp_world->Share(l_outer);
    ItemPtr l_innerShare = mp_world->Share(l_inner, false);
    QVERIFY(mp_world->InitAndWait());
    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    QVERIFY(mp_world->RescanAndWait());

    QCOMPARE(Count("shared_file"), std::size_t(2));
    QCOMPARE(l_reports.front(), (QVariantList{0, 0}));
    ItemPtr l_innerFolder = d.GetType("shared_file_folder")->HasItem(l_inner);
    QVERIFY(l_innerFolder.IsConnected(l_outerShare));
    QVERIFY(l_innerFolder.IsConnected(l_innerShare));
}

void TestSharesRescan::VanishedRootStaysShared()
{
    const std::string l_root = mp_world->MakeFolder("gone");
    mp_world->MakeFile("gone/a.txt");
    mp_world->MakeFile("gone/sub/b.txt");
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    QVERIFY(QDir(QString::fromStdString(l_root)).removeRecursively());

    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    QVERIFY(mp_world->RescanAndWait());
    QCOMPARE(l_reports.front(), (QVariantList{0, 2}));
    QVERIFY(d.GetType("shared_folder")->HasItem(l_root));
    ItemPtr l_rootFolder = d.GetType("shared_file_folder")->HasItem(l_root);
    QVERIFY(l_rootFolder);
    QVERIFY(!l_rootFolder.IsConnected("shared_file"));
    QCOMPARE(Count("shared_file"), std::size_t(0));
}

void TestSharesRescan::ShareRemovedBeforeItsWalkIsApplied()
{
    const std::string l_root = mp_world->MakeFolder("brief");
    mp_world->MakeFile("brief/a.txt");
    mp_world->Share(l_root);
    mp_world->Shares().Init();
    d.GetType("shared_folder")->HasItem(l_root).Remove();
    QVERIFY(mp_world->WaitIdle());
    QVERIFY(!d.GetType("shared_folder")->HasItem(l_root));
    QCOMPARE(Count("shared_file"), std::size_t(0));
}

void TestSharesRescan::RescanDuringRescanRunsAgain()
{
    const std::string l_root = mp_world->MakeFolder("twice");
    mp_world->MakeFile("twice/a.txt");
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    QSignalSpy l_reports(&mp_world->Shares(), &SharedFoldersManager::SharedFilesRescanned);
    mp_world->Shares().RescanShares();
    mp_world->MakeFile("twice/b.txt");
    mp_world->Shares().RescanShares();
    QVERIFY(mp_world->WaitIdle());
    QCOMPARE(l_reports.count(), 2);
    QVERIFY(SharesTestWorld::FileItem(l_root, "b.txt"));
}

void TestSharesRescan::IndexAndMarksSurviveARestart()
{
    // The disk and the data file outlive the first run's world.
    QTemporaryDir l_disk;
    SharesTestWorld::MakeFileIn(l_disk.path(), "Kept/Sub/Tune.txt", 42);
    const std::string l_root = l_disk.filePath("Kept").toStdString();
    ItemPtr l_share = mp_world->Share(l_root, false);
    l_share += d.GetType("shared_userlist")->GetGlobalNullItem();
    l_share += d.GetType("user_list_group")->GetItem("friends");
    d.GetType("user")->GetItem("pest").NewItem("unshared");
    QVERIFY(mp_world->InitAndWait());
    const QString l_file = l_disk.filePath("kstr.dat");
    mp_world->Saver().Save(l_file.toUtf8().constData());

    mp_world.reset();
    mp_world = std::make_unique<SharesTestWorld>(false);
    mp_world->Saver().Load(l_file.toUtf8().constData());
    l_share = d.GetType("shared_folder")->HasItem(l_root);
    QVERIFY(l_share);
    QVERIFY(l_share.IsConnected("shared_userlist"));
    QVERIFY(!l_share.IsConnected("shared_public"));
    QCOMPARE(l_share.GetItems("user_list_group").size(), std::size_t(1));
    QVERIFY(d.GetType("user")->HasItem("pest").IsConnected("unshared"));
    ItemPtr l_tune = SharesTestWorld::FileItem(l_root + "/Sub", "Tune.txt");
    QVERIFY(l_tune);
    QCOMPARE(l_tune["shared_file_size"].AsString(), std::string("42"));
    // Twins are made again while loading; words only by the rescan.
    QVERIFY(l_tune["shared_file_name"].IsConnected("shared_file_lowercase_name"));
    QVERIFY(d.GetType("shared_file_folder")->HasItem(l_root + "/Sub").IsConnected("shared_file_folder_lowercase_name"));
    QCOMPARE(Count("search_token"), std::size_t(0));
    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(mp_world->Shares().FilesAdded(), 0);
    QVERIFY(HasWord(SharesTestWorld::FileItem(l_root + "/Sub", "Tune.txt"), "tune"));
}

// A vanished file that an upload entry holds is not removed from under it:
// it is kept, out of the index, until let go.
void TestSharesRescan::AFileSomethingHoldsIsSetAsideUntilLetGo()
{
    Type* lp_holder = d.NewType("test_holder", true, true, true);
    lp_holder->RelateToType(d.GetType("shared_file"), Many, One, false);
    const std::string l_root = mp_world->MakeFolder("held");
    mp_world->MakeFile("held/Kept Song.txt", 5);
    mp_world->MakeFile("held/Other Song.txt", 6);
    mp_world->Share(l_root);
    QVERIFY(mp_world->InitAndWait());
    ItemPtr l_holder = lp_holder->NewItem();
    l_holder += SharesTestWorld::FileItem(l_root, "Kept Song.txt");

    QVERIFY(QFile::remove(QString::fromStdString(l_root + "/Kept Song.txt")));
    QVERIFY(mp_world->RescanAndWait());
    QCOMPARE(mp_world->Shares().FilesRemoved(), 1);
    ItemPtr l_held = l_holder["shared_file"];
    QVERIFY(l_held);
    QCOMPARE(l_held["shared_file_name"].AsString(), std::string("Kept Song.txt"));
    QCOMPARE(l_held["shared_file_size"].AsString(), std::string("5"));
    // Neither listed nor found.
    QVERIFY(!SharedFoldersManager::IsIndexed(l_held));
    QVERIFY(!l_held.IsConnected("search_token"));
    QVERIFY(!mp_world->Shares().GetSharedFileItem(l_root + "/Kept Song.txt"));
    QVERIFY(!d.GetType("search_token")->HasItem("kept"));
    QCOMPARE(mp_world->Shares().IndexedFileCount(), 1);
    mp_world->Shares().ProcessSearch("bob", 7, "kept");
    QVERIFY(mp_world->m_replies.empty());

    // Back on disk: a new item; the held one goes once let go.
    mp_world->MakeFile("held/Kept Song.txt", 9);
    QVERIFY(mp_world->RescanAndWait());
    ItemPtr l_back = SharesTestWorld::FileItem(l_root, "Kept Song.txt");
    QVERIFY(l_back && l_back != l_held);
    QCOMPARE(Count("shared_file"), std::size_t(3));
    l_holder.Remove();
    QCOMPARE(Count("shared_file"), std::size_t(2));
    QVERIFY(!d.GetType("shared_file_size")->HasItem("5"));
    QCOMPARE(mp_world->Shares().IndexedFileCount(), 2);
}

// "Unshare Folder" left the files in the index until the next rescan when
// a word of theirs was also a word of a file of another share.
void TestSharesRescan::UnsharingTakesTheFilesOutAtOnce()
{
    const std::string l_first = mp_world->MakeFolder("first");
    const std::string l_second = mp_world->MakeFolder("second");
    mp_world->MakeFile("first/Common One.txt");
    mp_world->MakeFile("first/inner/Common Two.txt");
    mp_world->MakeFile("second/Common Three.txt");
    ItemPtr l_share = mp_world->Share(l_first);
    mp_world->Share(l_second);
    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(mp_world->Shares().IndexedFileCount(), 3);

    l_share.Remove();
    d.RemoveDisconnectedItems();
    QCOMPARE(Count("shared_file"), std::size_t(1));
    QCOMPARE(mp_world->Shares().IndexedFileCount(), 1);
    QVERIFY(!mp_world->Shares().GetSharedFileItem(l_first + "/Common One.txt"));
    QVERIFY(!d.GetType("shared_file_folder")->HasItem(l_first + "/inner"));
    QVERIFY(!d.GetType("search_token")->HasItem("one"));
    QVERIFY(d.GetType("search_token")->HasItem("common"));
    QVERIFY(mp_world->Shares().GetSharedFileItem(l_second + "/Common Three.txt"));
}

QTEST_MAIN(TestSharesRescan)
#include "tst_shares_rescan.moc"
