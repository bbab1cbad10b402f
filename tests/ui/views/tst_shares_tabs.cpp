// The Shares page's tab set: one tab per arrived listing, closing a tab and
// what it takes along, a listing that replaces an open page, pages while a
// listing is still being stored, and the expand commands sent to the page in
// front only.

#include "PeerConversation.h"
#include "SharesViewWorld.h"

#include "core/persist/Settings.h"
#include "shares/SharedFoldersManager.h"
#include "peer/PeerProbation.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui_ShareForm.h"
#include "ui_SharesForm.h"

#include <QPointer>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace
{
const Listing Music{{"Music", {{"a.mp3", 10}}}, {"Music\\Rock", {{"b.mp3", 20}, {"c.mp3", 30}}}};

int Count(const char* ip_type)
{
    return int(d.GetType(ip_type)->ItemCount());
}

// Runs the deletions that pages left to the event loop.
void RunDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A root folder with discs of many files each: with the least slice budget,
// storing it takes many turns of the event loop.
Listing Discs(const std::string& i_root, int i_discs, int i_files)
{
    Listing l_listing{{i_root, {}}};
    for (int l_disc = 0; l_disc < i_discs; ++l_disc) {
        std::vector<ListedFile> l_files;
        for (int l_file = 0; l_file < i_files; ++l_file)
            l_files.push_back({"track " + std::to_string(l_file) + ".flac", l_file + 1});
        l_listing.emplace_back(i_root + "\\disc " + std::to_string(l_disc), std::move(l_files));
    }
    return l_listing;
}

const QStringList DiscsOutline{"Big", "  disc 0", "  disc 1", "  disc 2"};

// Runs the action from the event loop, between two of its turns, once the
// nth item of the type has been added (or removed); at once for 0.
class AfterNth : public DataHandler
{
public:
    AfterNth(const char* ip_type, bool i_removed, int i_nth, std::function<void()> i_action)
        : m_left(i_nth), m_action(std::move(i_action))
    {
        Type* lp_type = d.GetType(ip_type);
        (i_removed ? lp_type->ItemRemovedEvent : lp_type->ItemAddedEvent)
            .m_handlerSet.insert(MakeHandler(&AfterNth::OnItem));
        if (m_left == 0)
            Run();
    }
    bool Done() const { return m_done; }

private:
    void OnItem(Item*)
    {
        if (--m_left == 0)
            QTimer::singleShot(0, [this] { Run(); });
    }
    void Run()
    {
        m_done = true;
        m_action();
    }

    int m_left;
    std::function<void()> m_action;
    bool m_done = false;
};

// How many pages were opened while it lived.
class PagesOpened : public DataHandler
{
public:
    PagesOpened() { d.GetType("user_share_tab")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&PagesOpened::OnTab)); }
    int m_count = 0;

private:
    void OnTab(Item*) { ++m_count; }
};

// The listing items and the view's items that a user's pages leave behind.
QString Leftovers()
{
    return QStringLiteral("share %1, tab %2, folders %3, files %4, folder nodes %5, file nodes %6")
        .arg(Count("user_share"))
        .arg(Count("user_share_tab"))
        .arg(Count("user_share_folder"))
        .arg(Count("user_share_file"))
        .arg(Count("user_share_folder_node"))
        .arg(Count("user_share_file_node"));
}
}  // namespace

class TestSharesTabs : public QObject
{
    Q_OBJECT

private slots:
    void firstListingIsCurrentLaterOnesAppend();
    void ampersandsInTitleAndNotice();
    void closingTabTakesItsListingOnly();
    void closedUserOpensFreshPage();
    void commandsWithoutTabsDoNothing();
    void expandActsOnPageInFront();
    void newListingReplacesOpenPage();
    void replacedPageActsNoMore();
    void pageOpensOnceItsListingIsStored_data();
    void pageOpensOnceItsListingIsStored();
    void newerListingWhileOneIsStored_data();
    void newerListingWhileOneIsStored();
    void pageClosedWhileAListingIsStored_data();
    void pageClosedWhileAListingIsStored();
    void listingAskedAgainAfterItsConnectionWentOpensItsPage();

private:
    // Each slice of storing does one step: many turns of the event loop.
    static void LeastSlices() { sharedFoldersManager->Received().SetSliceBudgetMs(0); }
};

void TestSharesTabs::firstListingIsCurrentLaterOnesAppend()
{
    SharesViewWorld l_world;
    QCOMPARE(l_world.TabControl().count(), 0);
    QVERIFY(l_world.TabControl().tabsClosable());
    ShareForm* lp_alice = l_world.Receive("alice", Music);
    QVERIFY(lp_alice);
    QCOMPARE(l_world.Titles(), QStringList{"alice"});
    QCOMPARE(l_world.TabControl().currentIndex(), 0);
    l_world.Receive("bob", Music);
    l_world.Receive("carol", Music);
    QCOMPARE(l_world.Titles(), QStringList({"alice", "bob", "carol"}));
    QCOMPARE(l_world.TabControl().currentWidget(), lp_alice);
    // The user menu finds a user's page through the tab item.
    QCOMPARE(ItemPtr(lp_alice->ShareItem())["user_share_tab"].AsObject<ShareForm>(), lp_alice);
}

void TestSharesTabs::ampersandsInTitleAndNotice()
{
    SharesViewWorld l_world;
    ShareForm* lp_page = l_world.Receive("R&B fan", Music);
    QCOMPARE(l_world.Titles(), QStringList{"R&&B fan"});
    // The event bar doubles it itself: it reads as the plain name.
    QStringList l_notices;
    for (QAction* lp_action : l_world.EventBar().actions())
        l_notices << lp_action->text();
    QCOMPARE(l_notices, QStringList{"R&&B fan"});
    // The notice goes once the page is shown.
    l_world.Tabs().show();
    QVERIFY(lp_page->isVisible());
    QVERIFY(l_world.EventBar().IsEmpty());
}

void TestSharesTabs::closingTabTakesItsListingOnly()
{
    SharesViewWorld l_world;
    l_world.Receive("alice", Music);
    QPointer<ShareForm> lp_bob = l_world.Receive("bob", Music);
    l_world.Receive("carol", {{"Docs", {{"x.txt", 1}}}});
    // bob's file list holds rows, with their node items.
    SharesViewWorld::Open(*lp_bob, "Music/Rock");
    QCOMPARE(lp_bob->Form()->fileList->topLevelItemCount(), 2);
    QCOMPARE(Leftovers(), QString("share 3, tab 3, folders 5, files 7, folder nodes 5, file nodes 2"));

    emit l_world.TabControl().tabCloseRequested(1);
    QCOMPARE(l_world.Titles(), QStringList({"alice", "carol"}));
    QCOMPARE(l_world.TabControl().currentIndex(), 0);
    QVERIFY(lp_bob.isNull());
    QCOMPARE(Leftovers(), QString("share 2, tab 2, folders 3, files 4, folder nodes 3, file nodes 0"));
    // The user stays, without a listing: browsing asks the peer again.
    const ItemPtr l_bob = d.GetType("user")->HasItem("bob");
    QVERIFY(!l_bob.IsNull());
    QVERIFY(l_bob["user_share"].IsNull());
    // Names only bob's listing held are gone; shared ones stay.
    QVERIFY(d.GetType("user_share_folder_name")->HasItem("Docs"));
    QVERIFY(d.GetType("user_share_file_name")->HasItem("b.mp3"));

    // An index without a page.
    emit l_world.TabControl().tabCloseRequested(7);
    QCOMPARE(l_world.TabControl().count(), 2);
}

void TestSharesTabs::closedUserOpensFreshPage()
{
    SharesViewWorld l_world;
    l_world.Receive("alice", Music);
    emit l_world.TabControl().tabCloseRequested(0);
    QCOMPARE(Leftovers(), QString("share 0, tab 0, folders 0, files 0, folder nodes 0, file nodes 0"));
    QCOMPARE(Count("user_share_folder_name"), 0);
    ShareForm* lp_page = l_world.Receive("alice", Music);
    QCOMPARE(l_world.Titles(), QStringList{"alice"});
    QCOMPARE(l_world.TabControl().currentWidget(), lp_page);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), QStringList({"Music", "  Rock"}));
}

void TestSharesTabs::commandsWithoutTabsDoNothing()
{
    SharesViewWorld l_world;
    for (const char* lp_action : {"expand_level", "collapse_all", "expand_all", "download_share_folder"})
        emit actionBar->ActionTriggered(lp_action);
    QCOMPARE(l_world.TabControl().count(), 0);
    QCOMPARE(Count("download_entry"), 0);
}

void TestSharesTabs::expandActsOnPageInFront()
{
    SharesViewWorld l_world;
    Settings::Set("expand_new_shares", "no");
    ShareForm* lp_alice = l_world.Receive("alice", Music);
    ShareForm* lp_bob = l_world.Receive("bob", Music);
    l_world.TabControl().setCurrentIndex(1);
    // The bar stays on alice's tree: the page in front is the one told.
    emit actionBar->ActionTriggered("expand_level");
    QCOMPARE(SharesViewWorld::Expanded(*lp_bob->Form()->folderTree), QStringList{"Music"});
    QCOMPARE(SharesViewWorld::Expanded(*lp_alice->Form()->folderTree), QStringList());
    emit actionBar->ActionTriggered("collapse_all");
    QCOMPARE(SharesViewWorld::Expanded(*lp_bob->Form()->folderTree), QStringList());
    l_world.TabControl().setCurrentIndex(0);
    emit actionBar->ActionTriggered("expand_all");
    QCOMPARE(SharesViewWorld::Expanded(*lp_alice->Form()->folderTree), QStringList({"Music", "Music/Rock"}));
    QCOMPARE(SharesViewWorld::Expanded(*lp_bob->Form()->folderTree), QStringList());
}

void TestSharesTabs::newListingReplacesOpenPage()
{
    SharesViewWorld l_world;
    l_world.Receive("alice", Music);
    QPointer<ShareForm> lp_old = l_world.Receive("bob", Music);
    SharesViewWorld::Open(*lp_old, "Music/Rock");
    lp_old->Form()->fileList->setCurrentItem(lp_old->Form()->fileList->topLevelItem(0));

    ShareForm* lp_new = l_world.Receive("bob", {{"Video", {{"v.mkv", 5}}}});
    QVERIFY(lp_new != lp_old);
    QCOMPARE(l_world.Titles(), QStringList({"alice", "bob"}));
    QCOMPARE(l_world.TabControl().widget(1), lp_new);
    QCOMPARE(SharesViewWorld::Outline(*lp_new->Form()->folderTree), QStringList{"Video"});
    // The old page let go of everything and went with the event loop.
    QVERIFY(lp_old.isNull());
    QCOMPARE(Leftovers(), QString("share 2, tab 2, folders 3, files 4, folder nodes 3, file nodes 0"));

    // Closing the new page leaves bob without a listing or a tab.
    emit l_world.TabControl().tabCloseRequested(1);
    QCOMPARE(Leftovers(), QString("share 1, tab 1, folders 2, files 3, folder nodes 2, file nodes 0"));
    QVERIFY(d.GetType("user")->HasItem("bob")["user_share"].IsNull());
}

void TestSharesTabs::replacedPageActsNoMore()
{
    SharesViewWorld l_world;
    ShareForm* lp_old = l_world.Receive("bob", Music);
    QTreeWidget* lp_tree = lp_old->Form()->folderTree;
    lp_tree->setCurrentItem(SharesViewWorld::FolderRow(*lp_old, "Music"));
    // The listing goes as a newer one's storing removes it: the page lets
    // go at once and is deleted from the event loop.
    QPointer<ShareForm> lp_gone = lp_old;
    SharedFoldersManager::RemoveUserShare(lp_old->ShareItem());
    QVERIFY(lp_gone);
    QVERIFY(!lp_old->ShareItem());
    QCOMPARE(lp_tree->topLevelItemCount(), 0);
    QCOMPARE(l_world.TabControl().count(), 0);
    // Until the old page is gone its tree may still be the bar's widget.
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Download Folder"));
    QCOMPARE(Count("download_entry"), 0);
    RunDeferredDeletes();
    QVERIFY(lp_gone.isNull());
    ShareForm* lp_new = l_world.Receive("bob", Music);
    QCOMPARE(l_world.TabControl().count(), 1);
    emit l_world.TabControl().tabCloseRequested(l_world.TabControl().indexOf(lp_new));
    QCOMPARE(Leftovers(), QString("share 0, tab 0, folders 0, files 0, folder nodes 0, file nodes 0"));
}

void TestSharesTabs::pageOpensOnceItsListingIsStored_data()
{
    QTest::addColumn<Listing>("listing");
    QTest::addColumn<QStringList>("outline");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("nested folders") << Music << QStringList{"Music", "  Rock"} << "Music/Rock"
                                    << QStringList{"b.mp3 | 20", "c.mp3 | 30"};
    QTest::newRow("many files") << Discs("Big", 3, 150) << DiscsOutline << "Big/disc 1"
                                << QStringList{"track 0.flac | 1", "track 1.flac | 2", "track 10.flac | 11"};
    QTest::newRow("empty listing") << Listing{} << QStringList{} << "" << QStringList{};
}

void TestSharesTabs::pageOpensOnceItsListingIsStored()
{
    QFETCH(Listing, listing);
    QFETCH(QStringList, outline);
    QFETCH(QString, folder);
    QFETCH(QStringList, files);
    SharesViewWorld l_world;
    LeastSlices();
    SharesViewWorld::HandOver("alice", listing);
    // The hand-over returns to the event loop first: no page, no notice.
    QCOMPARE(l_world.Titles(), QStringList());
    QVERIFY(l_world.EventBar().IsEmpty());

    QVERIFY(SharesViewWorld::WaitUntilStored());
    QCOMPARE(l_world.Titles(), QStringList{"alice"});
    QVERIFY(!l_world.EventBar().IsEmpty());
    ShareForm* lp_page = l_world.Tabs().Page(0);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), outline);
    if (!folder.isEmpty())
        SharesViewWorld::Open(*lp_page, folder);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->fileList).mid(0, 3), files);
}

void TestSharesTabs::newerListingWhileOneIsStored_data()
{
    // When the newer listing arrives: at once, once this many files of the
    // older one were stored, or once this many files of the page's listing
    // were removed.
    QTest::addColumn<bool>("removed");
    QTest::addColumn<int>("nth");
    QTest::newRow("before the older one's storing begins") << false << 0;
    QTest::newRow("while the shown listing's files go") << true << 1;
    QTest::newRow("while the older one's files are stored") << false << 100;
}

void TestSharesTabs::newerListingWhileOneIsStored()
{
    QFETCH(bool, removed);
    QFETCH(int, nth);
    SharesViewWorld l_world;
    l_world.Receive("bob", Music);
    LeastSlices();
    PagesOpened l_pages;
    const Listing l_newer{{"Video", {{"v.mkv", 5}}}, {"Video\\Clips", {{"c.mkv", 6}}}};
    SharesViewWorld::HandOver("bob", Discs("Big", 3, 150));
    AfterNth l_arrival("user_share_file", removed, nth, [&l_newer] { SharesViewWorld::HandOver("bob", l_newer); });
    // As closing any page does, between turns.
    QVERIFY(SharesViewWorld::WaitUntilStored([] { d.RemoveDisconnectedItems(); }));
    QVERIFY(l_arrival.Done());

    // One page, of the newer listing alone; the older one never had one.
    QCOMPARE(l_pages.m_count, 1);
    QCOMPARE(l_world.Titles(), QStringList{"bob"});
    ShareForm* lp_page = l_world.Tabs().Page(0);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), QStringList({"Video", "  Clips"}));
    SharesViewWorld::Open(*lp_page, "Video/Clips");
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->fileList), QStringList{"c.mkv | 6"});
    d.RemoveDisconnectedItems();
    QCOMPARE(Leftovers(), QString("share 1, tab 1, folders 2, files 2, folder nodes 2, file nodes 1"));
}

void TestSharesTabs::pageClosedWhileAListingIsStored_data()
{
    // Which page is closed (alice's, or bob's own older one), and when: at
    // once, or once this many files were added or removed.
    QTest::addColumn<QString>("closed");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("the user's older page, right after the hand-over")
        << "bob" << false << 0 << QStringList({"alice", "bob"});
    QTest::newRow("another user's page, right after the hand-over")
        << "alice" << false << 0 << QStringList{"bob"};
    QTest::newRow("another user's page, while the older listing's files go")
        << "alice" << true << 1 << QStringList{"bob"};
    QTest::newRow("another user's page, while files are stored")
        << "alice" << false << 100 << QStringList{"bob"};
}

void TestSharesTabs::pageClosedWhileAListingIsStored()
{
    QFETCH(QString, closed);
    QFETCH(bool, removed);
    QFETCH(int, nth);
    QFETCH(QStringList, titles);
    SharesViewWorld l_world;
    l_world.Receive("alice", {{"Docs", {{"x.txt", 1}}}});
    l_world.Receive("bob", Music);
    LeastSlices();
    SharesViewWorld::HandOver("bob", Discs("Big", 3, 150));
    // The close button of that user's tab.
    AfterNth l_close("user_share_file", removed, nth, [&l_world, closed] {
        const int l_tab = l_world.Titles().indexOf(closed);
        QVERIFY(l_tab >= 0);
        emit l_world.TabControl().tabCloseRequested(l_tab);
    });
    QVERIFY(SharesViewWorld::WaitUntilStored());
    QVERIFY(l_close.Done());

    QCOMPARE(l_world.Titles(), titles);
    ShareForm* lp_bob = l_world.Tabs().Page(int(titles.indexOf("bob")));
    QCOMPARE(SharesViewWorld::Outline(*lp_bob->Form()->folderTree), DiscsOutline);
    d.RemoveDisconnectedItems();
    // Only the listings of the open pages are left.
    QCOMPARE(Leftovers(), titles.size() == 2
                              ? QString("share 2, tab 2, folders 5, files 451, folder nodes 5, file nodes 0")
                              : QString("share 1, tab 1, folders 4, files 450, folder nodes 4, file nodes 0"));
}

// The user browses bob, whose connection goes (reset) after it carried the
// request and before the listing came; bob listens at the address the
// server gives. The request goes again on a connection of ours, and the
// listing bob sends there opens his page.
void TestSharesTabs::listingAskedAgainAfterItsConnectionWentOpensItsPage()
{
    SharesViewWorld l_world;
    PeerTestWorld& l_peer = l_world.World().Peer();
    FakePeer l_bob;
    FakePeer l_bobsOwn;
    FakePeerConnection* lp_first = l_peer.BrowseOnOwnConnection(l_bob, l_bobsOwn, "bob");
    QVERIFY(lp_first);
    l_peer.Advance(PeerProbation::GraceMs);
    lp_first->Reset();

    FakePeerConnection* lp_second = l_bob.WaitForConnection(false);
    QVERIFY(lp_second);
    QVERIFY(lp_second->WaitForFrames(2));
    QCOMPARE(lp_second->Frames().at(1), QByteArray(WireWriter().U32(4)));
    WireWriter l_folders;
    l_folders.U32(2);
    l_folders.Str("Music").U32(1).U8(1).Str("a.mp3").I64(10).Str("mp3").U32(0);
    l_folders.Str("Music\\Rock").U32(1).U8(1).Str("b.mp3").I64(20).Str("mp3").U32(0);
    lp_second->SendFrame(WireWriter().U32(5).Raw(Compressed(l_folders)));
    QVERIFY(PeerTestWorld::WaitFor([&] { return l_world.Titles() == QStringList{"bob"}; }));
    QVERIFY(SharesViewWorld::WaitUntilStored());
    ShareForm* lp_page = l_world.Tabs().Page(0);
    QCOMPARE(SharesViewWorld::Outline(*lp_page->Form()->folderTree), (QStringList{"Music", "  Rock"}));
}

QTEST_MAIN(TestSharesTabs)
#include "tst_shares_tabs.moc"
