// Another user's listing as items for the browse view: the folder tree, the
// files with their attributes, replacing an earlier listing, storing over
// later turns of the event loop, and the short attribute text shown beside
// a file.
#include "SharesTestWorld.h"

#include <QtTest>

#include <functional>
#include <set>

using Attributes = std::vector<std::pair<unsigned int, int>>;
Q_DECLARE_METATYPE(Attributes)

namespace
{
FileInfo Record(const std::string& i_name, qint64 i_size, const Attributes& i_attributes = {})
{
    FileInfo l_record;
    l_record.m_name = i_name;
    l_record.m_fileSize = i_size;
    l_record.m_attributeMap.m_map.assign(i_attributes.begin(), i_attributes.end());
    return l_record;
}

// The peer layer's hand-over alone.
void HandOver(const std::string& i_user, FileInfoMap i_share)
{
    AttributeTranslationTable l_table{{0, "bitrate"}};
    sharedFoldersManager->OnUserShare(i_user, i_share, l_table);
}

ItemPtr Listing(const std::string& i_user)
{
    return d.GetType("user")->GetItem(i_user)["user_share"];
}

ItemPtr Receive(const std::string& i_user, FileInfoMap i_share)
{
    HandOver(i_user, std::move(i_share));
    return WaitUntilListingsStored() ? Listing(i_user) : ItemPtr();
}

// Folders of i_files[n] files each, named "<folder> <n>.flac".
FileInfoMap Generated(const QStringList& i_folders, const QList<int>& i_files)
{
    FileInfoMap l_share;
    for (int l_folder = 0; l_folder < i_folders.size(); ++l_folder) {
        std::set<FileInfo>& l_files = l_share[i_folders[l_folder].toStdString()];
        for (int l_file = 0; l_file < i_files.value(l_folder); ++l_file) {
            FileInfo l_record;
            l_record.m_name = i_folders[l_folder].toStdString() + " " + std::to_string(l_file) + ".flac";
            l_record.m_fileSize = l_file + 1;
            l_files.insert(l_record);
        }
    }
    return l_share;
}

// A listing's folder names and the number of files in each, as stored.
QStringList Contents(ItemPtr i_listing)
{
    QStringList l_folders;
    for (Item* lp_folder : i_listing.GetItems("user_share_folder")) {
        l_folders << QString("%1: %2").arg(QString::fromStdString(ItemPtr(lp_folder)["user_share_folder_name"].AsString()))
                         .arg(ItemPtr(lp_folder).GetItems("user_share_file").size());
    }
    l_folders.sort();
    return l_folders;
}

// The turns of the event loop in which files of listings were stored: a
// zero timer counts the turns, and each new file notes the count.
class StoringTurns : public DataHandler
{
public:
    StoringTurns()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_turn; });
        m_timer.start(0);
        d.GetType("user_share_file")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&StoringTurns::OnFile));
    }
    std::size_t Count() const { return m_turns.size(); }

private:
    void OnFile(Item*) { m_turns.insert(m_turn); }

    QTimer m_timer;
    int m_turn = 0;
    std::set<int> m_turns;
};

// Runs the action when the nth file is stored, inside that store operation.
class OnNthFile : public DataHandler
{
public:
    OnNthFile(int i_nth, std::function<void()> i_action) : m_left(i_nth), m_action(std::move(i_action))
    {
        d.GetType("user_share_file")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&OnNthFile::OnFile));
    }

private:
    void OnFile(Item*)
    {
        if (--m_left == 0)
            m_action();
    }

    int m_left;
    std::function<void()> m_action;
};

ItemPtr Folder(ItemPtr i_listing, const std::string& i_name)
{
    for (Item* lp_folder : i_listing.GetItems("user_share_folder")) {
        if (ItemPtr(lp_folder)["user_share_folder_name"].AsString() == i_name)
            return lp_folder;
    }
    return ItemPtr();
}

// Child folder, its parent link, the matching child link, the parent folder.
QString ParentName(ItemPtr i_folder)
{
    ItemPtr l_parent = i_folder["user_share_folder_parent"]["user_share_folder_child"]["user_share_folder"];
    return QString::fromStdString(l_parent["user_share_folder_name"].AsString());
}

// What a browse view finds when the listing is marked complete.
class LoadedWatcher : public DataHandler
{
public:
    LoadedWatcher() { d.GetType("user_share_loaded")->ItemsConnectedEvent.m_handlerSet.insert(MakeHandler(&LoadedWatcher::OnLoaded)); }
    QStringList m_seen;

private:
    void OnLoaded(ConnectionInfo)
    {
        const ItemSet l_folders = d.GetType("user_share")->GetItems().GetItems("user_share_folder");
        m_seen << QString("%1 listing, %2 folders, %3 files")
                      .arg(d.GetType("user_share")->ItemCount()).arg(l_folders.size()).arg(l_folders.GetItems("user_share_file").size());
    }
};
}  // namespace

class TestSharesReceived : public QObject
{
    Q_OBJECT

private slots:
    void init() { mp_world = std::make_unique<SharesTestWorld>(); }
    void cleanup() { mp_world.reset(); }
    void FolderTree_data();
    void FolderTree();
    void ParentsComeOnlyFromTheSameListing();
    void FilesAndAttributes();
    void NewListingReplacesTheOld();
    void StoredOverLaterTurns_data();
    void StoredOverLaterTurns();
    void NewerListingEndsTheStoringOfAnOlder_data();
    void NewerListingEndsTheStoringOfAnOlder();
    void DisplayText_data();
    void DisplayText();

private:
    std::unique_ptr<SharesTestWorld> mp_world;
};

void TestSharesReceived::FolderTree_data()
{
    // Folders as received, and the parent each should get ("" for none).
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("parents");
    QTest::newRow("folder and subfolder") << QStringList{"C:\\music", "C:\\music\\jazz"} << QStringList{"", "C:\\music"};
    QTest::newRow("drive folder present") << QStringList{"C:", "C:\\music"} << QStringList{"", "C:"};
    QTest::newRow("sibling sharing a stem") << QStringList{"C:\\music", "C:\\music videos"} << QStringList{"", ""};
    QTest::newRow("no separator") << QStringList{"loose"} << QStringList{""};
    QTest::newRow("missing middle") << QStringList{"C:\\a", "C:\\a\\b\\c"} << QStringList{"", ""};
    QTest::newRow("chain") << QStringList{"a\\b", "a\\b\\c", "a\\b\\c\\d", "a\\b\\e"}
                           << QStringList{"", "a\\b", "a\\b\\c", "a\\b"};
    QTest::newRow("forward slashes") << QStringList{"x/y", "x/y/z"} << QStringList{"", "x/y"};
    QTest::newRow("trailing separator") << QStringList{"C:\\music", "C:\\music\\jazz\\"} << QStringList{"", "C:\\music"};
}

void TestSharesReceived::FolderTree()
{
    QFETCH(QStringList, folders);
    QFETCH(QStringList, parents);
    FileInfoMap l_share;
    for (const QString& l_folder : folders)
        l_share[l_folder.toStdString()];
    ItemPtr l_listing = Receive("bob", l_share);
    QVERIFY(l_listing.IsConnected("user_share_loaded"));
    QCOMPARE(l_listing.GetItems("user_share_folder").size(), std::size_t(folders.size()));
    for (int l_n = 0; l_n < folders.size(); ++l_n) {
        ItemPtr l_folder = Folder(l_listing, folders[l_n].toStdString());
        QCOMPARE(ParentName(l_folder), parents[l_n]);
        // One link pair per child.
        QCOMPARE(int(l_folder.GetItems("user_share_folder_child").size()), int(parents.count(folders[l_n])));
    }
}

void TestSharesReceived::ParentsComeOnlyFromTheSameListing()
{
    ItemPtr l_ann = Receive("ann", {{"C:\\music", {}}});
    ItemPtr l_bob = Receive("bob", {{"C:\\music\\jazz", {}}});
    QVERIFY(!Folder(l_bob, "C:\\music\\jazz").IsConnected("user_share_folder_parent"));
    QVERIFY(!Folder(l_ann, "C:\\music").IsConnected("user_share_folder_child"));
}

void TestSharesReceived::FilesAndAttributes()
{
    ItemPtr l_listing = Receive("bob", {{"C:\\music", {Record("a.mp3", 4000000, {{0, 192}, {2, 1}, {1, 245}}), Record("empty", 0),
                                                       Record("b.mp3", 4000000, {{0, 128}, {7, 5}, {0, 160}, {2, 0}})}},
                                        {"C:\\music\\jazz", {Record("a.mp3", 12)}}});
    std::map<std::string, ItemPtr> l_files;
    for (Item* lp_file : Folder(l_listing, "C:\\music").GetItems("user_share_file"))
        l_files[ItemPtr(lp_file)["user_share_file_name"].AsString()] = lp_file;
    QCOMPARE(l_files.size(), std::size_t(3));
    auto l_values = [](ItemPtr i_file) {
        std::string l_text;
        for (const char* lp_type : {"user_share_file_size", "bitrate", "bitrate_mode", "length_seconds"})
            l_text += i_file[lp_type].AsString() + "|";
        return l_text;
    };
    QCOMPARE(l_values(l_files["a.mp3"]), std::string("4000000|192|vbr|245|"));
    QCOMPARE(l_values(l_files["empty"]), std::string("0||||"));
    // A repeated code keeps the last value; unknown codes are skipped.
    QCOMPARE(l_values(l_files["b.mp3"]), std::string("4000000|160|cbr||"));
    // Equal values share one item, across folders too.
    QCOMPARE(l_files["a.mp3"]["user_share_file_size"], l_files["b.mp3"]["user_share_file_size"]);
    QCOMPARE(Folder(l_listing, "C:\\music\\jazz")["user_share_file"]["user_share_file_name"], l_files["a.mp3"]["user_share_file_name"]);
}

void TestSharesReceived::NewListingReplacesTheOld()
{
    ItemPtr l_first = Receive("bob", {{"old", {Record("x", 1), Record("y", 2)}}, {"old\\sub", {Record("z", 3)}}});
    LoadedWatcher l_watcher;
    ItemPtr l_second = Receive("bob", {{"new", {Record("n", 1)}}, {"new\\a", {Record("m", 2), Record("o", 3)}}, {"other", {}}});
    QVERIFY(l_second != l_first);
    // The old one is gone before the new one is built; the new one is
    // marked complete only once it is.
    QCOMPARE(l_watcher.m_seen, QStringList{"1 listing, 3 folders, 3 files"});
    // Nothing of the old tree stays, though its sizes are the new one's too.
    d.RemoveDisconnectedItems();
    QCOMPARE(d.GetType("user_share")->ItemCount(), std::size_t(1));
    QCOMPARE(d.GetType("user_share_folder")->ItemCount(), std::size_t(3));
    QCOMPARE(d.GetType("user_share_file")->ItemCount(), std::size_t(3));
    QCOMPARE(d.GetType("user_share_folder_parent")->ItemCount(), std::size_t(1));

    // An empty listing replaces it too, and is complete at once.
    ItemPtr l_empty = Receive("bob", {});
    QVERIFY(l_empty.IsConnected("user_share_loaded") && !l_empty.IsConnected("user_share_folder"));
    QCOMPARE(l_watcher.m_seen.last(), QString("1 listing, 0 folders, 0 files"));
}

void TestSharesReceived::StoredOverLaterTurns_data()
{
    QTest::addColumn<bool>("replacing");
    QTest::addColumn<bool>("collect");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QList<int>>("files");
    const QStringList l_folders{"C:\\music", "C:\\music\\jazz", "C:\\other"};
    QTest::newRow("first listing") << false << false << l_folders << QList<int>{100, 130, 0};
    QTest::newRow("replacing one") << true << false << l_folders << QList<int>{100, 130, 0};
    // As closing any page does: what waits must stay reachable.
    QTest::newRow("replacing one, unreachable items collected between turns")
        << true << true << l_folders << QList<int>{100, 130, 0};
    QTest::newRow("empty listing replacing one") << true << true << QStringList{} << QList<int>{};
}

void TestSharesReceived::StoredOverLaterTurns()
{
    QFETCH(bool, replacing);
    QFETCH(bool, collect);
    QFETCH(QStringList, folders);
    QFETCH(QList<int>, files);
    const FileInfoMap l_share = Generated(folders, files);
    if (replacing)
        QVERIFY(Receive("bob", Generated({"old", "old\\sub"}, {70, 70})));
    const ItemPtr l_before = Listing("bob");
    const std::size_t l_filesBefore = d.GetType("user_share_file")->ItemCount();
    mp_world->Shares().Received().SetSliceBudgetMs(0);
    LoadedWatcher l_watcher;
    StoringTurns l_turns;

    HandOver("bob", l_share);
    // The hand-over stores nothing: the user's listing is still the one
    // before, and not one file is new.
    QCOMPARE(Listing("bob"), l_before);
    QCOMPARE(d.GetType("user_share_file")->ItemCount(), l_filesBefore);

    QVERIFY(WaitUntilListingsStored([collect] {
        if (collect)
            d.RemoveDisconnectedItems();
    }));
    int l_total = 0;
    std::size_t l_steps = 0;
    QStringList l_expected;
    for (int l_folder = 0; l_folder < folders.size(); ++l_folder) {
        l_total += files[l_folder];
        l_steps += (std::size_t(files[l_folder]) + ReceivedListings::FilesPerStep - 1) / ReceivedListings::FilesPerStep;
        l_expected << QString("%1: %2").arg(folders[l_folder]).arg(files[l_folder]);
    }
    // The old listing was gone when the new one was marked complete.
    QCOMPARE(l_watcher.m_seen,
             QStringList{QString("1 listing, %1 folders, %2 files").arg(folders.size()).arg(l_total)});
    QCOMPARE(Contents(Listing("bob")), l_expected);
    // A step of files a turn, with the least of budgets.
    QCOMPARE(l_turns.Count(), l_steps);
    d.RemoveDisconnectedItems();
    QCOMPARE(d.GetType("user_share")->ItemCount(), std::size_t(1));
    QCOMPARE(d.GetType("user_share_file")->ItemCount(), std::size_t(l_total));
    QCOMPARE(d.GetType("user_share_folder_parent")->ItemCount(), std::size_t(folders.isEmpty() ? 0 : 1));
}

void TestSharesReceived::NewerListingEndsTheStoringOfAnOlder_data()
{
    // The newer listing arrives once this many files of the older one are
    // stored (0: before its storing begins).
    QTest::addColumn<int>("storedBefore");
    QTest::addColumn<bool>("earlierShown");
    QTest::newRow("before the older one begins") << 0 << false;
    QTest::newRow("after the older one's first file") << 1 << false;
    QTest::newRow("in the middle of a folder") << 100 << false;
    QTest::newRow("in the middle, a complete listing before both") << 100 << true;
}

void TestSharesReceived::NewerListingEndsTheStoringOfAnOlder()
{
    QFETCH(int, storedBefore);
    QFETCH(bool, earlierShown);
    if (earlierShown)
        QVERIFY(Receive("bob", Generated({"earlier"}, {50})));
    mp_world->Shares().Received().SetSliceBudgetMs(0);
    LoadedWatcher l_watcher;
    const FileInfoMap l_newer = Generated({"new", "new\\a"}, {3, 70});
    // Inside the store operation of that file: the harshest moment.
    OnNthFile l_arrival(storedBefore, [&l_newer] { HandOver("bob", l_newer); });
    HandOver("bob", Generated({"older", "older\\a", "older\\b"}, {150, 150, 10}));
    if (storedBefore == 0)
        HandOver("bob", l_newer);
    QVERIFY(WaitUntilListingsStored([] { d.RemoveDisconnectedItems(); }));

    // Only the newer one was ever complete, and nothing of the others was
    // left by then.
    QCOMPARE(l_watcher.m_seen, QStringList{"1 listing, 2 folders, 73 files"});
    QCOMPARE(Contents(Listing("bob")), (QStringList{"new: 3", "new\\a: 70"}));
    d.RemoveDisconnectedItems();
    QCOMPARE(d.GetType("user_share")->ItemCount(), std::size_t(1));
    QCOMPARE(d.GetType("user_share_folder")->ItemCount(), std::size_t(2));
    QCOMPARE(d.GetType("user_share_file")->ItemCount(), std::size_t(73));
    QCOMPARE(d.GetType("user_share_folder_child")->ItemCount(), std::size_t(1));
}

void TestSharesReceived::DisplayText_data()
{
    QTest::addColumn<Attributes>("attributes");
    QTest::addColumn<QString>("text");
    QTest::newRow("bitrate, VBR, duration") << Attributes{{0, 192}, {2, 1}, {1, 245}} << "192 VBR, 4m5s";
    QTest::newRow("CBR alone") << Attributes{{2, 0}} << " CBR";
    QTest::newRow("duration alone") << Attributes{{1, 245}} << ", 4m5s";
    QTest::newRow("nothing") << Attributes{} << "";
    QTest::newRow("any non-zero flag is VBR") << Attributes{{2, -3}, {0, 160}} << "160 VBR";
    QTest::newRow("days and hours") << Attributes{{1, 90061}} << ", 1d1h1m1s";
}

void TestSharesReceived::DisplayText()
{
    QFETCH(Attributes, attributes);
    ItemPtr l_file = Folder(Receive("bob", {{"f", {Record("a.mp3", 1, attributes)}}}), "f")["user_share_file"];
    QTEST(SharedFoldersManager::GetFileItemDisplayString(l_file), "text");
}

QTEST_GUILESS_MAIN(TestSharesReceived)
#include "tst_shares_received.moc"
