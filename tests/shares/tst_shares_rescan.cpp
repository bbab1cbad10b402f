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
    void RescanOfAnUnchangedTreeKeepsEveryItem();
    void Mp3FilesAreHandedToTheScanner_data();
    void Mp3FilesAreHandedToTheScanner();
    void LinksCyclesAndSpecialFiles();
    void NestedRootsIndexEachFileOnce();
    void VanishedRootStaysShared();
    void ShareRemovedBeforeItsWalkIsApplied();
    void RescanDuringRescanRunsAgain();
    void IndexAndMarksSurviveARestart();

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

void TestSharesRescan::RescanOfAnUnchangedTreeKeepsEveryItem()
{
    // The index already holds the files, made in the reverse of the order
    // in which the walk lists them, so that the walk meets them in an
    // order other than their items' addresses.
    const std::string l_root = mp_world->MakeFolder("many");
    std::vector<std::string> l_names;
    for (int l_index = 0; l_index < 120; ++l_index)
        l_names.push_back("f" + std::to_string(1000 + l_index) + ".txt");
    ItemPtr l_share = mp_world->Share(l_root);
    for (auto l_name = l_names.rbegin(); l_name != l_names.rend(); ++l_name) {
        mp_world->MakeFile("many/" + *l_name);
        SharesTestWorld::Index(l_share, l_root, *l_name);
    }
    const ItemSet l_before = d.GetType("shared_file")->GetItems();
    QVERIFY(mp_world->InitAndWait());
    QCOMPARE(mp_world->Shares().FilesAdded(), 0);
    QCOMPARE(mp_world->Shares().FilesRemoved(), 0);
    QVERIFY(d.GetType("shared_file")->GetItems() == l_before);
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

QTEST_MAIN(TestSharesRescan)
#include "tst_shares_rescan.moc"
