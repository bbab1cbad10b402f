// The Users page: both lists built from the loaded store and following it,
// the online column, the groups text, the action set and the menus.
#include "SocialTestWorld.h"

#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/social/AddUserDialog.h"
#include "ui/social/UserGroupConfigDialog.h"
#include "ui/social/UserListForm.h"
#include "ui_UserListForm.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

namespace {

ItemPtr User(const std::string& i_name)
{
    return d.GetType("user")->GetItem(i_name);
}

ItemPtr Group(const std::string& i_name)
{
    return d.GetType("user_list_group")->GetItem(i_name);
}

// The page as the window makes it: built with the form, Init after the load.
std::unique_ptr<UserListForm> MakePage(SocialTestWorld& io_world)
{
    auto lp_page = std::make_unique<UserListForm>();
    lp_page->Init();
    io_world.RoomTabs().addTab(lp_page.get(), QStringLiteral("Users"));
    return lp_page;
}

}  // namespace

class TestUserList : public QObject
{
    Q_OBJECT

private slots:
    void builtFromTheLoadedList();
    void followsTheStore();
    void groupsText_data();
    void groupsText();
    void actionsOpenTheDialogs();
    void menusOnRowsOnly();
};

void TestUserList::builtFromTheLoadedList()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("data.dat");
    {
        SocialTestWorld l_world;
        for (const char* lp_name : {"zed", "amy", "Bob"})
            User(lp_name).NewItem("in_user_list");
        User("amy")["in_user_list"] += Group("Work");
        User("amy")["in_user_list"] += Group("friends");
        User("amy").NewItem("unshared");
        User("cy").NewItem("unshared");
        l_world.Save(l_file);
    }
    SocialTestWorld l_world(l_file);
    SocialTestWorld::Fake().AddKnownUser("amy", FakeCentralServer::KnownUser());
    auto lp_page = MakePage(l_world);
    Ui::UserListForm* lp_form = lp_page->Form();
    QCOMPARE(lp_form->userList->headerItem()->text(0), QStringLiteral("User"));
    QCOMPARE(lp_form->userList->headerItem()->text(1), QStringLiteral("Online Status"));
    QCOMPARE(lp_form->userList->headerItem()->text(2), QStringLiteral("Groups"));
    QCOMPARE(lp_form->tabWidget->tabText(0), QStringLiteral("User List"));
    QCOMPARE(lp_form->tabWidget->tabText(1), QStringLiteral("Unshared"));
    // In the tree's own order of names (capitals first).
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"Bob", "amy | Work, friends", "zed"}));
    QCOMPARE(SocialTestWorld::Rows(lp_form->unsharedList), QStringList({"amy", "cy"}));
    // Every listed user is tracked: asked for after the login.
    SocialTestWorld::Fake().ClearReceived();
    QVERIFY(l_world.LogIn());
    QVERIFY(SocialTestWorld::Fake().WaitFor(Server::AddUserCode, 3));
    QTRY_COMPARE(SocialTestWorld::Rows(lp_form->userList),
                 QStringList({"Bob", "amy | Online | Work, friends", "zed"}));
    l_world.RoomTabs().setCurrentWidget(lp_page.get());
    const QString l_path = QDir::currentPath() + "/user_list.png";
    QVERIFY(l_world.Window().grab().save(l_path));
    qInfo("user list picture: %s", qPrintable(l_path));
    // The end of the link ends every "Online".
    l_world.Link().Disconnect();
    // In the tree's own order of names (capitals first).
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"Bob", "amy | Work, friends", "zed"}));
}

void TestUserList::followsTheStore()
{
    SocialTestWorld l_world;
    auto lp_page = MakePage(l_world);
    Ui::UserListForm* lp_form = lp_page->Form();
    QCOMPARE(lp_form->userList->topLevelItemCount(), 0);
    QCOMPARE(lp_form->unsharedList->topLevelItemCount(), 0);
    // Online before joining the list: shown at once; online off the list:
    // nothing.
    User("dee") += d.GetType("is_online")->GetGlobalNullItem();
    User("eli") += d.GetType("is_online")->GetGlobalNullItem();
    User("dee").NewItem("in_user_list");
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"dee | Online"}));
    User("dee").Disconnect("is_online");
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"dee"}));
    User("dee")["in_user_list"] += Group("pals");
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"dee | pals"}));
    User("dee").NewItem("unshared");
    // Leaving the list leaves the Unshared row; added again: no groups.
    User("dee").Disconnect("in_user_list");
    QCOMPARE(lp_form->userList->topLevelItemCount(), 0);
    QCOMPARE(SocialTestWorld::Rows(lp_form->unsharedList), QStringList({"dee"}));
    User("dee").NewItem("in_user_list");
    QCOMPARE(SocialTestWorld::Rows(lp_form->userList), QStringList({"dee"}));
    User("dee").Disconnect("unshared");
    QCOMPARE(lp_form->unsharedList->topLevelItemCount(), 0);
    QCOMPARE(d.GetType("unshared_list_node")->ItemCount(), std::size_t(0));
    QCOMPARE(d.GetType("user_list_node")->ItemCount(), std::size_t(1));
}

void TestUserList::groupsText_data()
{
    QTest::addColumn<QStringList>("groups");
    QTest::addColumn<QString>("shown");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("byte order") << QStringList{"friends", "Work", "Admins"} << "Admins, Work, friends";
    QTest::newRow("Latin-1") << QStringList{QString::fromUtf8("Über"), "Alt"} << QString::fromUtf8("Alt, Über");
}

void TestUserList::groupsText()
{
    QFETCH(QStringList, groups);
    QFETCH(QString, shown);
    SocialTestWorld l_world;
    auto lp_page = MakePage(l_world);
    ItemPtr l_membership = User("fay").NewItem("in_user_list");
    for (const QString& l_group : groups)
        l_membership += Group(l_group.toLatin1().toStdString());
    QCOMPARE(lp_page->Form()->userList->topLevelItem(0)->text(2), shown);
    for (const QString& l_group : groups)
        l_membership -= Group(l_group.toLatin1().toStdString());
    QCOMPARE(lp_page->Form()->userList->topLevelItem(0)->text(2), QString());
}

void TestUserList::actionsOpenTheDialogs()
{
    SocialTestWorld l_world;
    auto lp_page = MakePage(l_world);
    l_world.RoomTabs().setCurrentWidget(lp_page.get());
    QVERIFY(l_world.FocusOn(lp_page->Form()->userList));
    QCOMPARE(SocialTestWorld::BarTexts().mid(0, 2), QStringList({"Add User", "Configure User Groups"}));
    lp_page->OnActionBarTriggered("manual_add_user");
    lp_page->OnActionBarTriggered("manual_add_user");
    QCOMPARE(lp_page->findChildren<AddUserDialog*>().size(), 2);
    QVERIFY(!userGroupConfigDialog);
    lp_page->OnActionBarTriggered("configure_user_groups");
    QVERIFY(userGroupConfigDialog);
    UserGroupConfigDialog* lp_dialog = userGroupConfigDialog;
    lp_page->OnActionBarTriggered("configure_user_groups");
    QCOMPARE(lp_page->findChildren<UserGroupConfigDialog*>().size(), 1);
    QCOMPARE(userGroupConfigDialog, lp_dialog);
    lp_dialog->close();
    QTRY_VERIFY(!userGroupConfigDialog);
    lp_page->OnActionBarTriggered("expand_all");
    QCOMPARE(lp_page->findChildren<AddUserDialog*>().size(), 2);
}

void TestUserList::menusOnRowsOnly()
{
    SocialTestWorld l_world;
    auto lp_page = MakePage(l_world);
    l_world.RoomTabs().setCurrentWidget(lp_page.get());
    User("gil").NewItem("in_user_list");
    User("gil").NewItem("unshared");
    QTreeWidget* lp_list = lp_page->Form()->userList;
    const QPoint l_free(5, lp_list->viewport()->height() - 5);
    QCOMPARE(RunPopup([&] { emit lp_list->customContextMenuRequested(l_free); }), QStringList());
    const QPoint l_row = lp_list->visualItemRect(lp_list->topLevelItem(0)).center();
    QCOMPARE(RunPopup([&] { emit lp_list->customContextMenuRequested(l_row); }, QStringLiteral("Remove user from list")),
             QStringList({"Message user", "Set user's groups", "Remove user from list", "Browse user's files", "-",
                          "Re-share files with user"}));
    QCOMPARE(lp_list->topLevelItemCount(), 0);
    lp_page->Form()->tabWidget->setCurrentIndex(1);
    QTreeWidget* lp_unshared = lp_page->Form()->unsharedList;
    const QPoint l_unsharedRow = lp_unshared->visualItemRect(lp_unshared->topLevelItem(0)).center();
    QCOMPARE(RunPopup([&] { emit lp_unshared->customContextMenuRequested(l_unsharedRow); },
                      QStringLiteral("Re-share files with user")).last(),
             QStringLiteral("Re-share files with user"));
    QCOMPARE(lp_unshared->topLevelItemCount(), 0);
}

QTEST_MAIN(TestUserList)
#include "tst_user_list.moc"
