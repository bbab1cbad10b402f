// Another user's listing as items for the browse view: the folder tree, the
// files with their attributes, replacing an earlier listing, and the short
// attribute text shown beside a file.
#include "SharesTestWorld.h"

#include <QtTest>

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

ItemPtr Receive(const std::string& i_user, FileInfoMap i_share)
{
    AttributeTranslationTable l_table{{0, "bitrate"}};
    sharedFoldersManager->OnUserShare(i_user, i_share, l_table);
    return d.GetType("user")->GetItem(i_user)["user_share"];
}

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
