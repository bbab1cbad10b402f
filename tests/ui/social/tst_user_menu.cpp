// The user menu: its entries for each state of the user, the separator
// rule, and what each entry does.
#include "SocialTestWorld.h"

#include "core/store/Data.h"
#include "peer/PeerMessenger.h"
#include "ui/social/ChatForm.h"
#include "ui/social/UserGroupsDialog.h"
#include "ui/social/UserMenuOptions.h"

#include <QMenu>
#include <QTabWidget>
#include <QTest>

namespace {

QStringList Entries(const QMenu& i_menu)
{
    QStringList l_entries;
    for (QAction* lp_action : i_menu.actions())
        l_entries << (lp_action->isSeparator() ? QStringLiteral("-") : lp_action->text());
    return l_entries;
}

// Builds the menu for the user and chooses the entry, as a click would.
void Choose(const std::string& i_user, const QString& i_entry)
{
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, i_user, nullptr);
    for (QAction* lp_action : l_menu.actions()) {
        if (lp_action->text() == i_entry) {
            lp_action->trigger();
            return;
        }
    }
    QFAIL(qPrintable("no entry " + i_entry));
}

ItemPtr User(const std::string& i_name)
{
    return d.GetType("user")->GetItem(i_name);
}

QList<UserGroupsDialog*> GroupDialogs()
{
    QList<UserGroupsDialog*> l_open;
    for (QWidget* lp_window : QApplication::topLevelWidgets()) {
        if (auto* lp_dialog = qobject_cast<UserGroupsDialog*>(lp_window); lp_dialog && lp_dialog->isVisible())
            l_open << lp_dialog;
    }
    return l_open;
}

void CloseGroupDialogs()
{
    for (UserGroupsDialog* lp_dialog : GroupDialogs())
        lp_dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class TestUserMenu : public QObject
{
    Q_OBJECT

private slots:
    void entriesForEachState_data();
    void entriesForEachState();
    void separatorOnlyAfterEntries();
    void messageOpensAndBringsTheTab();
    void addRemoveAndAddAgain();
    void browseAsksOrShowsTheOpenPage();
    void unshareAndReshare();
};

void TestUserMenu::entriesForEachState_data()
{
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("unshared");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("stranger") << false << false
                              << QStringList{"Message user", "Add user to list", "Browse user's files", "-",
                                             "Unshare files from user"};
    QTest::newRow("listed") << true << false
                            << QStringList{"Message user", "Set user's groups", "Remove user from list",
                                           "Browse user's files", "-", "Unshare files from user"};
    QTest::newRow("listed, unshared") << true << true
                                      << QStringList{"Message user", "Set user's groups", "Remove user from list",
                                                     "Browse user's files", "-", "Re-share files with user"};
    QTest::newRow("unshared") << false << true
                              << QStringList{"Message user", "Add user to list", "Browse user's files", "-",
                                             "Re-share files with user"};
}

void TestUserMenu::entriesForEachState()
{
    QFETCH(bool, listed);
    QFETCH(bool, unshared);
    QFETCH(QStringList, entries);
    SocialTestWorld l_world;
    if (listed)
        User("kim").NewItem("in_user_list");
    if (unshared)
        User("kim").NewItem("unshared");
    QMenu l_menu;
    UserMenuOptions l_options(&l_menu, "kim", nullptr);
    QCOMPARE(Entries(l_menu), entries);
    for (QAction* lp_action : l_menu.actions())
        QVERIFY(lp_action->isSeparator() || !lp_action->icon().isNull());
}

void TestUserMenu::separatorOnlyAfterEntries()
{
    SocialTestWorld l_world;
    QMenu l_menu;
    l_menu.addAction(QStringLiteral("Remove download"));
    UserMenuOptions l_options(&l_menu, "kim", nullptr);
    QCOMPARE(Entries(l_menu).mid(0, 3), QStringList({"Remove download", "-", "Message user"}));
}

void TestUserMenu::messageOpensAndBringsTheTab()
{
    SocialTestWorld l_world;
    QWidget l_front;
    l_world.ChatTabs().addTab(&l_front, QStringLiteral("front"));
    // Latin-1 bytes of the name reach the command unchanged.
    const std::string l_name = "Andr\xe9";
    Choose(l_name, QStringLiteral("Message user"));
    QCOMPARE(l_world.ChatTabs().count(), 2);
    auto* lp_tab = qobject_cast<ChatForm*>(l_world.ChatTabs().currentWidget());
    QVERIFY(lp_tab);
    QCOMPARE(lp_tab->User(), l_name);
    QCOMPARE(l_world.ChatTabs().tabText(1), QString::fromUtf8("André"));
    l_world.ChatTabs().setCurrentWidget(&l_front);
    Choose(l_name, QStringLiteral("Message user"));
    QCOMPARE(l_world.ChatTabs().count(), 2);
    QCOMPARE(l_world.ChatTabs().currentWidget(), lp_tab);
}

void TestUserMenu::addRemoveAndAddAgain()
{
    SocialTestWorld l_world;
    // Logged out: added all the same, and its groups can be chosen at once.
    Choose("lee", QStringLiteral("Add user to list"));
    QVERIFY(User("lee").IsConnected("in_user_list"));
    QCOMPARE(GroupDialogs().size(), 1);
    QCOMPARE(GroupDialogs().first()->windowTitle(), QStringLiteral("User Groups for [lee]"));
    CloseGroupDialogs();
    User("lee")["in_user_list"] += d.GetType("user_list_group")->GetItem("friends");

    Choose("lee", QStringLiteral("Set user's groups"));
    QCOMPARE(GroupDialogs().size(), 1);
    CloseGroupDialogs();
    Choose("lee", QStringLiteral("Remove user from list"));
    QVERIFY(!User("lee").IsConnected("in_user_list"));
    QCOMPARE(GroupDialogs().size(), 0);
    Choose("lee", QStringLiteral("Add user to list"));
    QVERIFY(User("lee")["in_user_list"].GetItems("user_list_group").empty());
    CloseGroupDialogs();
}

void TestUserMenu::browseAsksOrShowsTheOpenPage()
{
    SocialTestWorld l_world;
    TransfersTestWorld::ClearSent();
    Choose("max", QStringLiteral("Browse user's files"));
    QCOMPARE(TransfersTestWorld::Sent("max").size(), 1);

    // The browse view links an open page to the share; the page comes
    // forward and nothing is asked.
    Type* lp_tab = d.NewType("user_share_tab", true, false, true);
    lp_tab->RelateToType(d.GetType("user_share"), One, One, false);
    QWidget l_front;
    QWidget l_page;
    l_world.RoomTabs().addTab(&l_front, QStringLiteral("front"));
    l_world.RoomTabs().addTab(&l_page, QStringLiteral("max's share"));
    ItemPtr l_share = d.GetType("user_share")->NewItem();
    l_share += User("max");
    l_share += lp_tab->GetItem(Value(&l_page));
    TransfersTestWorld::ClearSent();
    Choose("max", QStringLiteral("Browse user's files"));
    QCOMPARE(l_world.RoomTabs().currentWidget(), &l_page);
    QCOMPARE(TransfersTestWorld::Sent("max").size(), 0);
    Choose("ned", QStringLiteral("Browse user's files"));
    QCOMPARE(TransfersTestWorld::Sent("ned").size(), 1);
}

void TestUserMenu::unshareAndReshare()
{
    SocialTestWorld l_world;
    Choose("oz", QStringLiteral("Unshare files from user"));
    QVERIFY(User("oz").IsConnected("unshared"));
    Choose("oz", QStringLiteral("Re-share files with user"));
    QVERIFY(!User("oz").IsConnected("unshared"));
}

QTEST_MAIN(TestUserMenu)
#include "tst_user_menu.moc"
