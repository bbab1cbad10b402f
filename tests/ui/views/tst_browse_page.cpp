// The browse page of one listing: its folder tree, file list and filter, the
// expand commands with their button text, the downloads it queues, and a
// picture of it.

#include "SharesViewWorld.h"

#include "core/persist/Settings.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui_ShareForm.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QtTest>

namespace
{
QStringList Headers(const QTreeWidget& i_tree)
{
    QStringList l_texts;
    for (int l_column = 0; l_column < i_tree.columnCount(); ++l_column)
        l_texts << i_tree.headerItem()->text(l_column);
    return l_texts;
}

// Folders with a file named after each, and a few of their own.
const Listing Records{
    {"Beatles", {{"Help Me.mp3", 100}, {"Yesterday.mp3", 200}}},
    {"Beatles\\Live", {{"Twist.mp3", 300}}},
    {"Deliverance", {{"Theme.ogg", 400}}},
    {"Jazz", {}},
    {"Jazz\\Live Sets", {{"Take Five.flac", 500}}},
    {"Jazz\\Live Sets\\Yellow", {{"Mellow.flac", 600}}},
    {"Rock", {{"yellow submarine.mp3", 700}}},
};
}  // namespace

class TestBrowsePage : public QObject
{
    Q_OBJECT

private slots:
    void folderTree_data();
    void folderTree();
    void headersAndNoRowCurrent();
    void fileListOfCurrentFolder();
    void expandLevel();
    void expandLevelAfterWholeTreeOpened();
    void expandLevelWithTopLevelRowsOnly();
    void filter_data();
    void filter();
    void filterHidesCurrentFolder();
    void downloadFile();
    void downloadFolder_data();
    void downloadFolder();
    void downloadsNeedASelection();
    void onlyThePageTheBarServesDownloads();
    void picture();
};

void TestBrowsePage::folderTree_data()
{
    QTest::addColumn<Listing>("listing");
    QTest::addColumn<QStringList>("outline");
    QTest::addColumn<int>("maxLevel");

    // Byte order: " " before "\" before lower case.
    QTest::newRow("names sharing prefixes")
        << Listing{{"Music", {}}, {"Music\\Rock", {}}, {"Music\\Rock\\Live", {}}, {"music", {}}, {"Music Live", {}}}
        << QStringList{"Music", "  Rock", "    Live", "Music Live", "music"} << 2;
    QTest::newRow("parent not listed") << Listing{{"D:\\Share\\Audio", {{"a.mp3"}}}} << QStringList{"Audio"} << 0;
    QTest::newRow("a gap in the path")
        << Listing{{"A", {}}, {"A\\B\\C", {}}, {"A\\D", {}}} << QStringList{"A", "  D", "C"} << 1;
    QTest::newRow("folders without files")
        << Listing{{"Empty", {}}, {"Empty\\Also", {}}} << QStringList{"Empty", "  Also"} << 1;
    QTest::newRow("slash separators and UTF-8")
        << Listing{{"Docs", {}}, {"Docs/M\xC3\xBAsica", {}}} << QStringList{"Docs", QString::fromUtf8("  M\xC3\xBAsica")}
        << 1;
    QTest::newRow("empty listing") << Listing{} << QStringList{} << 0;
}

void TestBrowsePage::folderTree()
{
    QFETCH(Listing, listing);
    QFETCH(QStringList, outline);
    QFETCH(int, maxLevel);
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", listing);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), outline);
    QCOMPARE(lp_page->MaxLevel(), maxLevel);
    // One node item per row.
    QCOMPARE(int(d.GetType("user_share_folder_node")->ItemCount()), int(listing.size()));
}

void TestBrowsePage::headersAndNoRowCurrent()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", Records);
    QCOMPARE(Headers(*lp_page->Form()->folderTree), QStringList{"Folder"});
    QCOMPARE(Headers(*lp_page->Form()->fileList), QStringList({"File", "Size", "Attributes"}));
    QCOMPARE(lp_page->Form()->fileList->columnWidth(0), 200);
    // Never below 70; wide enough for a size in the list's font (tst_column_widths).
    QVERIFY(lp_page->Form()->fileList->columnWidth(1) >= 70);
    QVERIFY(lp_page->Form()->fileList->header()->stretchLastSection());
    QVERIFY(!lp_page->Form()->folderTree->currentItem());
    QCOMPARE(lp_page->Form()->fileList->topLevelItemCount(), 0);
    QVERIFY(lp_page->Form()->filterEdit->text().isEmpty());
}

void TestBrowsePage::fileListOfCurrentFolder()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive(
        "alice", {{"Music",
                   {{"b.mp3", 1234567, {{0, 192}, {2, 1}, {1, 245}}},
                    {"a.mp3", 0, {{2, 0}}},
                    {"Z.txt", 5},
                    {"\xC3\xA9t\xC3\xA9.flac", 1000, {{1, 59}}}}},
                  {"Music\\Empty", {}}});
    QTreeWidget* lp_list = lp_page->Form()->fileList;
    SharesViewWorld::Open(*lp_page, "Music");
    // In the listing's byte order; a file of 0 bytes has no size.
    QCOMPARE(SharesViewWorld::Outline(*lp_list),
             QStringList({"Z.txt | 5", "a.mp3 |  CBR", "b.mp3 | 1,234,567 | 192 VBR, 4m5s",
                          QString::fromUtf8("\xC3\xA9t\xC3\xA9.flac | 1,000 | , 0m59s")}));
    QCOMPARE(int(d.GetType("user_share_file_node")->ItemCount()), 4);
    SharesViewWorld::Open(*lp_page, "Music/Empty");
    QCOMPARE(lp_list->topLevelItemCount(), 0);
    // The earlier rows' node items went with them.
    QCOMPARE(int(d.GetType("user_share_file_node")->ItemCount()), 0);
}

void TestBrowsePage::expandLevel()
{
    SharesViewWorld l_world;
    Settings::Set("expand_new_shares", "no");
    ShareForm* lp_page = l_world.Receive("alice", Records);
    QTreeWidget* lp_tree = lp_page->Form()->folderTree;
    QCOMPARE(lp_page->MaxLevel(), 2);
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree), QStringList());
    QCOMPARE(BarButtons(*lp_tree, "share_folders"),
             QStringList({"Download Folder", "Expand Level", "Collapse All", "Expand All"}));

    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level"));
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree), QStringList({"Beatles", "Deliverance", "Jazz", "Rock"}));
    // Rows of depth 1 open too; the deepest stay closed.
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level [1]"));
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree),
             QStringList({"Beatles", "Beatles/Live", "Deliverance", "Jazz", "Jazz/Live Sets", "Rock"}));
    // The deepest level is open: nothing more happens.
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level [2]"));
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level [2]"));

    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Collapse All"));
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree), QStringList());
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level"));
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level"));
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level [1]"));
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand All"));
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree).size(), 7);
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level"));
}

void TestBrowsePage::expandLevelAfterWholeTreeOpened()
{
    SharesViewWorld l_world;
    Settings::Set("expand_new_shares", "yes");
    ShareForm* lp_page = l_world.Receive("alice", Records);
    QTreeWidget* lp_tree = lp_page->Form()->folderTree;
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree).size(), 7);
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level"));
    QCOMPARE(SharesViewWorld::Expanded(*lp_tree), QStringList({"Beatles", "Deliverance", "Jazz", "Rock"}));
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level [1]"));
}

void TestBrowsePage::expandLevelWithTopLevelRowsOnly()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", {{"A", {}}, {"B", {}}});
    QTreeWidget* lp_tree = lp_page->Form()->folderTree;
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Expand Level"));
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level"));
    // Each page has its own count.
    ShareForm* lp_other = l_world.Receive("bob", Records);
    QVERIFY(PressBarButton(*lp_other->Form()->folderTree, "share_folders", "Expand Level"));
    QCOMPARE(BarButtons(*lp_tree, "share_folders").at(1), QString("Expand Level"));
}

void TestBrowsePage::filter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");

    const QStringList l_all{"Beatles", "  Live", "Deliverance", "Jazz", "  Live Sets", "    Yellow", "Rock"};
    QTest::newRow("none") << "" << "Beatles" << l_all << QStringList({"Help Me.mp3 | 100", "Yesterday.mp3 | 200"});
    QTest::newRow("a lone minus is no filter") << " - " << "Beatles" << l_all
                                               << QStringList({"Help Me.mp3 | 100", "Yesterday.mp3 | 200"});
    // "beatles" is in the folder's name, "help" in one file's.
    QTest::newRow("word in the path, word in a file")
        << "beatles help" << "Beatles" << QStringList{"Beatles"} << QStringList{"Help Me.mp3 | 100"};
    // A word in a sub-folder's file keeps the rows above it.
    QTest::newRow("file below keeps its parents")
        << "TWIST" << "Beatles/Live" << QStringList({"Beatles", "  Live"}) << QStringList{"Twist.mp3 | 300"};
    // Any case, a part of a word: Live, Live Sets and Deliverance go with
    // everything below them.
    QTest::newRow("unwanted word") << "-live" << "Rock" << QStringList({"Beatles", "Jazz", "Rock"})
                                   << QStringList{"yellow submarine.mp3 | 700"};
    QTest::newRow("words along the path")
        << "jazz yellow mellow" << "Jazz/Live Sets/Yellow" << QStringList({"Jazz", "  Live Sets", "    Yellow"})
        << QStringList{"Mellow.flac | 600"};
    QTest::newRow("nothing matches") << "nowhere" << "Rock" << QStringList() << QStringList();
}

void TestBrowsePage::filter()
{
    QFETCH(QString, filter);
    QFETCH(QString, current);
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", Records);
    SharesViewWorld::Open(*lp_page, current);
    lp_page->Form()->filterEdit->setText(filter);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), folders);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->fileList), files);
}

void TestBrowsePage::filterHidesCurrentFolder()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", Records);
    SharesViewWorld::Open(*lp_page, "Jazz/Live Sets/Yellow");
    QCOMPARE(lp_page->Form()->fileList->topLevelItemCount(), 1);
    lp_page->Form()->filterEdit->setText("beatles yellow");
    QCOMPARE(lp_page->Form()->fileList->topLevelItemCount(), 0);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), QStringList());
    QCOMPARE(int(d.GetType("user_share_file_node")->ItemCount()), 0);
    // Clearing the filter brings the rows back and the list with them.
    lp_page->Form()->filterEdit->clear();
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->fileList), QStringList{"Mellow.flac | 600"});
}

void TestBrowsePage::downloadFile()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", Records);
    QTreeWidget* lp_list = lp_page->Form()->fileList;
    SharesViewWorld::Open(*lp_page, "Jazz/Live Sets");
    lp_list->setCurrentItem(lp_list->topLevelItem(0));
    QVERIFY(PressBarButton(*lp_list, "share_files", "Download File"));
    QVERIFY(PressBarButton(*lp_list, "share_files", "Download File"));
    // Queued once, with the folder's full remote path and level 0.
    QCOMPARE(SharesViewWorld::Downloads(), QStringList{"alice | Jazz\\Live Sets | Take Five.flac | 500 | 0"});
    const ItemPtr l_entry = d.GetType("download_entry")->GetItems();
    QCOMPARE(transferQueueManager->GetDownloadRelativeDownloadFolder(l_entry), QString("Live Sets"));
}

void TestBrowsePage::downloadFolder_data()
{
    QTest::addColumn<Listing>("listing");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("downloads");
    QTest::addColumn<QStringList>("localFolders");

    QTest::newRow("every depth keeps its folders")
        << Listing{{"Top", {{"t.mp3", 1}}}, {"Top\\Mid", {{"m.mp3", 2}}}, {"Top\\Mid\\Low", {{"x", 3}}}} << QString()
        << QStringList({"alice | Top | t.mp3 | 1 | 0", "alice | Top\\Mid | m.mp3 | 2 | 1",
                        "alice | Top\\Mid\\Low | x | 3 | 2"})
        << QStringList({"Top", "Top/Mid", "Top/Mid/Low"});
    // Two sub-folders named alike land in two local folders.
    QTest::newRow("sub-folders named alike")
        << Listing{{"Top", {}}, {"Top\\A\\CD1", {{"01.mp3", 1}}}, {"Top\\A", {}}, {"Top\\B", {}},
                   {"Top\\B\\CD1", {{"01.mp3", 2}}}}
        << QString()
        << QStringList({"alice | Top\\A\\CD1 | 01.mp3 | 1 | 2", "alice | Top\\B\\CD1 | 01.mp3 | 2 | 2"})
        << QStringList({"Top/A/CD1", "Top/B/CD1"});
    // The filter hides Mid's row and leaves out t.mp3: both still go.
    QTest::newRow("the filter limits nothing")
        << Listing{{"Top", {{"t.mp3", 1}, {"u.mp3", 4}}}, {"Top\\Mid", {{"m.mp3", 2}}}} << QString("-mid -t.mp3")
        << QStringList({"alice | Top | t.mp3 | 1 | 0", "alice | Top | u.mp3 | 4 | 0", "alice | Top\\Mid | m.mp3 | 2 | 1"})
        << QStringList({"Top", "Top", "Top/Mid"});
}

void TestBrowsePage::downloadFolder()
{
    QFETCH(Listing, listing);
    QFETCH(QString, filter);
    QFETCH(QStringList, downloads);
    QFETCH(QStringList, localFolders);
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", listing);
    QTreeWidget* lp_tree = lp_page->Form()->folderTree;
    SharesViewWorld::Open(*lp_page, "Top");
    lp_page->Form()->filterEdit->setText(filter);
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Download Folder"));
    QCOMPARE(SharesViewWorld::Downloads(), downloads);
    QStringList l_local;
    for (const ItemPtr& l_entry : d.GetType("download_entry")->GetItems().SortNumericBy("download_order", true))
        l_local << transferQueueManager->GetDownloadRelativeDownloadFolder(l_entry).replace('\\', '/');
    QCOMPARE(l_local, localFolders);
}

void TestBrowsePage::downloadsNeedASelection()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("alice", Records);
    SharesViewWorld::Open(*lp_page, "Rock");
    lp_page->Form()->folderTree->clearSelection();
    QVERIFY(PressBarButton(*lp_page->Form()->folderTree, "share_folders", "Download Folder"));
    QVERIFY(PressBarButton(*lp_page->Form()->fileList, "share_files", "Download File"));
    QCOMPARE(SharesViewWorld::Downloads(), QStringList());
}

// Each page has a selected folder; the one whose tree the bar serves acts.
void TestBrowsePage::onlyThePageTheBarServesDownloads()
{
    SharesViewWorld l_world;
    ShareForm* lp_alice = l_world.Receive("alice", Records);
    ShareForm* lp_bob = l_world.Receive("bob", Records);
    SharesViewWorld::Open(*lp_alice, "Rock");
    SharesViewWorld::Open(*lp_bob, "Deliverance");
    lp_bob->Form()->fileList->setCurrentItem(lp_bob->Form()->fileList->topLevelItem(0));
    QVERIFY(PressBarButton(*lp_bob->Form()->folderTree, "share_folders", "Download Folder"));
    QCOMPARE(SharesViewWorld::Downloads(), QStringList{"bob | Deliverance | Theme.ogg | 400 | 0"});
    // The file command is not the folder tree's: the bar on a file list
    // sends it, to that list's page alone.
    QVERIFY(!PressBarButton(*lp_bob->Form()->folderTree, "share_folders", "Download File"));
    SharesViewWorld::Open(*lp_alice, "Beatles");
    lp_alice->Form()->fileList->setCurrentItem(lp_alice->Form()->fileList->topLevelItem(1));
    QVERIFY(PressBarButton(*lp_alice->Form()->fileList, "share_files", "Download File"));
    QCOMPARE(SharesViewWorld::Downloads(), QStringList({"bob | Deliverance | Theme.ogg | 400 | 0",
                                                        "alice | Beatles | Yesterday.mp3 | 200 | 0"}));
}

void TestBrowsePage::picture()
{
    SharesViewWorld l_world;
    Settings::Set("expand_new_shares", "yes");
    Listing l_listing = Records;
    l_listing[0].second.push_back({"Let It Be.mp3", 5123456, {{0, 192}, {2, 1}, {1, 243}}});
    l_world.Receive("bob", Records);
    ShareForm* lp_page = l_world.Receive("alice & co", l_listing);
    l_world.TabControl().setCurrentWidget(lp_page);
    l_world.Tabs().resize(900, 420);
    l_world.Tabs().show();
    SharesViewWorld::Open(*lp_page, "Beatles");
    const QString l_picture = QCoreApplication::applicationDirPath() + "/browse_page.png";
    QVERIFY(l_world.Tabs().grab().save(l_picture));
}

QTEST_MAIN(TestBrowsePage)
#include "tst_browse_page.moc"
