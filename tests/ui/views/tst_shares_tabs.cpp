// The Shares page's tab set: one tab per arrived listing, closing a tab and
// what it takes along, a listing that replaces an open page, and the expand
// commands sent to the page in front only.

#include "SharesViewWorld.h"

#include "core/persist/Settings.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui_ShareForm.h"
#include "ui_SharesForm.h"

#include <QPointer>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

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
    QCOMPARE(Leftovers(), QString("share 2, tab 2, folders 3, files 4, folder nodes 3, file nodes 0"));
    // The old page has let go of everything and goes with the event loop.
    QVERIFY(lp_old);
    QVERIFY(!lp_old->ShareItem());
    QCOMPARE(lp_old->Form()->folderTree->topLevelItemCount(), 0);
    RunDeferredDeletes();
    QVERIFY(lp_old.isNull());

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
    ShareForm* lp_new = l_world.Receive("bob", Music);
    // Until the old page is gone its tree may still be the bar's widget.
    QVERIFY(PressBarButton(*lp_tree, "share_folders", "Download Folder"));
    QCOMPARE(Count("download_entry"), 0);
    RunDeferredDeletes();
    QCOMPARE(l_world.TabControl().count(), 1);
    emit l_world.TabControl().tabCloseRequested(l_world.TabControl().indexOf(lp_new));
    QCOMPARE(Leftovers(), QString("share 0, tab 0, folders 0, files 0, folder nodes 0, file nodes 0"));
}

QTEST_MAIN(TestSharesTabs)
#include "tst_shares_tabs.moc"
