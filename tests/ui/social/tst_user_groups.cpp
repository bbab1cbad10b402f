// The user groups dialog and the group download-priority dialog: their
// rows, the memberships and priorities they set, both kept through a
// restart, and the cases where there is nothing to set.
#include "SocialTestWorld.h"

#include "MessageBoxCatcher.h"

#include "core/store/Data.h"
#include "ui/social/UserGroupConfigDialog.h"
#include "ui/social/UserGroupsDialog.h"
#include "ui_UserGroupConfigDialog.h"
#include "ui_UserGroupsDialog.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

ItemPtr User(const std::string& i_name)
{
    return d.GetType("user")->GetItem(i_name);
}

ItemPtr Group(const std::string& i_name)
{
    return d.GetType("user_list_group")->GetItem(i_name);
}

// The rows as the user sees them: "[x] name" or "[ ] name".
QStringList Rows(const QListWidget* ip_list)
{
    QStringList l_rows;
    for (int l_row = 0; l_row < ip_list->count(); ++l_row) {
        const QListWidgetItem* lp_item = ip_list->item(l_row);
        const bool l_checkable = lp_item->data(Qt::CheckStateRole).isValid();
        l_rows << (l_checkable ? (lp_item->checkState() == Qt::Checked ? "[x] " : "[ ] ") : "") + lp_item->text();
    }
    return l_rows;
}

QListWidgetItem* Row(const QListWidget* ip_list, const QString& i_text)
{
    const QList<QListWidgetItem*> l_rows = ip_list->findItems(i_text, Qt::MatchExactly);
    return l_rows.isEmpty() ? nullptr : l_rows.first();
}

void CreateGroup(UserGroupsDialog& io_dialog, const QString& i_typed)
{
    QTest::keyClicks(io_dialog.Form()->newGroupEdit, i_typed);
    QTest::keyClick(io_dialog.Form()->newGroupEdit, Qt::Key_Return);
}

ItemSet GroupsOf(const std::string& i_user)
{
    return User(i_user)["in_user_list"].GetItems("user_list_group");
}

}  // namespace

class TestUserGroups : public QObject
{
    Q_OBJECT

private slots:
    void groupsDialogRowsAndNewGroups();
    void checksSetMemberships();
    void userOffTheListChangesNothing();
    void priorities();
    void prioritiesOpenWithNoGroupChosen();
    void groupTitleShowsTheNameAsItStands_data();
    void groupTitleShowsTheNameAsItStands();
    void bothKeptThroughARestart();
};

void TestUserGroups::groupsDialogRowsAndNewGroups()
{
    SocialTestWorld l_world;
    User("ivy").NewItem("in_user_list");
    UserGroupsDialog l_first("ivy");
    l_first.show();
    QVERIFY(QTest::qWaitForWindowActive(&l_first));
    QCOMPARE(l_first.windowTitle(), QStringLiteral("User Groups for [ivy]"));
    QCOMPARE(Rows(l_first.Form()->groupListWidget), QStringList());
    UserGroupsDialog l_second("ivy");
    l_second.show();
    l_first.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&l_first));
    CreateGroup(l_first, QStringLiteral("  night owls "));
    QCOMPARE(l_first.Form()->newGroupEdit->text(), QString());
    CreateGroup(l_first, QStringLiteral("   "));
    CreateGroup(l_first, QStringLiteral("Night owls"));
    CreateGroup(l_first, QStringLiteral("night owls"));
    QCOMPARE(Rows(l_first.Form()->groupListWidget), QStringList({"[ ] Night owls", "[ ] night owls"}));
    QCOMPARE(Rows(l_second.Form()->groupListWidget), Rows(l_first.Form()->groupListWidget));
    QVERIFY(GroupsOf("ivy").empty());
    QCOMPARE(d.GetType("user_list_group")->ItemCount(), std::size_t(2));

    // A name outside Latin-1 is refused and stays to be mended.
    MessageBoxCatcher l_boxes;
    l_first.Form()->newGroupEdit->setText(QString::fromUtf8("Ἀθῆναι"));
    l_first.Form()->newGroupButton->click();
    QCOMPARE(l_boxes.m_boxes.size(), 1);
    QCOMPARE(l_first.Form()->newGroupEdit->text(), QString::fromUtf8("Ἀθῆναι"));
    QCOMPARE(d.GetType("user_list_group")->ItemCount(), std::size_t(2));
}

void TestUserGroups::checksSetMemberships()
{
    SocialTestWorld l_world;
    User("jo").NewItem("in_user_list");
    User("jo")["in_user_list"] += Group("b-team");
    Group("a-team");
    UserGroupsDialog l_first("jo");
    UserGroupsDialog l_second("jo");
    QCOMPARE(Rows(l_first.Form()->groupListWidget), QStringList({"[ ] a-team", "[x] b-team"}));
    Row(l_first.Form()->groupListWidget, "a-team")->setCheckState(Qt::Checked);
    QCOMPARE(GroupsOf("jo").size(), std::size_t(2));
    // The second still shows the state at opening; its click changes
    // nothing more.
    Row(l_second.Form()->groupListWidget, "a-team")->setCheckState(Qt::Checked);
    QCOMPARE(GroupsOf("jo").size(), std::size_t(2));
    Row(l_second.Form()->groupListWidget, "b-team")->setCheckState(Qt::Unchecked);
    Row(l_first.Form()->groupListWidget, "b-team")->setCheckState(Qt::Unchecked);
    QCOMPARE(GroupsOf("jo"), ItemSet(Group("a-team").Get()));
    Row(l_first.Form()->groupListWidget, "a-team")->setCheckState(Qt::PartiallyChecked);
    QCOMPARE(GroupsOf("jo"), ItemSet(Group("a-team").Get()));
}

void TestUserGroups::userOffTheListChangesNothing()
{
    SocialTestWorld l_world;
    Group("c-team");
    UserGroupsDialog l_dialog("kai");
    QCOMPARE(Rows(l_dialog.Form()->groupListWidget), QStringList({"[ ] c-team"}));
    Row(l_dialog.Form()->groupListWidget, "c-team")->setCheckState(Qt::Checked);
    QCOMPARE(Rows(l_dialog.Form()->groupListWidget), QStringList({"[ ] c-team"}));
    QVERIFY(!User("kai").IsConnected("in_user_list"));
    QVERIFY(Group("c-team").GetItems("in_user_list").empty());
    // A group made meanwhile is listed unchecked and joins nobody.
    Group("d-team");
    QCOMPARE(Rows(l_dialog.Form()->groupListWidget), QStringList({"[ ] c-team", "[ ] d-team"}));
}

void TestUserGroups::priorities()
{
    SocialTestWorld l_world;
    Group("zeta");
    Group("alpha");
    UserGroupConfigDialog l_dialog;
    Ui::UserGroupConfigDialog* lp_form = l_dialog.Form();
    QCOMPARE(userGroupConfigDialog, &l_dialog);
    QCOMPARE(Rows(lp_form->groupList), QStringList({"alpha", "zeta"}));
    QVERIFY(!lp_form->prioritySpinBox->isEnabled());
    // No current group: a value set meanwhile changes nothing.
    lp_form->prioritySpinBox->setValue(4);
    QVERIFY(Group("alpha")["group_download_priority"].IsNull());
    QVERIFY(Group("zeta")["group_download_priority"].IsNull());

    lp_form->groupList->setCurrentRow(0);
    QCOMPARE(lp_form->groupBox->title(), QStringLiteral("alpha"));
    QVERIFY(lp_form->prioritySpinBox->isEnabled());
    QCOMPARE(lp_form->prioritySpinBox->value(), 0);
    lp_form->prioritySpinBox->setValue(3);
    QCOMPARE(Group("alpha")["group_download_priority"].AsString(), std::string("3"));
    lp_form->groupList->setCurrentRow(1);
    QCOMPARE(lp_form->prioritySpinBox->value(), 0);
    lp_form->prioritySpinBox->setValue(3);
    QCOMPARE(Group("zeta")["group_download_priority"].Get(), Group("alpha")["group_download_priority"].Get());
    lp_form->prioritySpinBox->setValue(0);
    QVERIFY(Group("zeta")["group_download_priority"].IsNull());
    QCOMPARE(Group("alpha")["group_download_priority"].AsString(), std::string("3"));
    // Groups come and go; the current one going moves the choice on.
    Group("beta");
    QCOMPARE(Rows(lp_form->groupList), QStringList({"alpha", "beta", "zeta"}));
    lp_form->groupList->setCurrentRow(0);
    Group("alpha").Remove();
    QCOMPARE(Rows(lp_form->groupList), QStringList({"beta", "zeta"}));
    QCOMPARE(lp_form->groupBox->title(), lp_form->groupList->currentItem()->text());
    QCOMPARE(lp_form->prioritySpinBox->value(), 0);
}

void TestUserGroups::prioritiesOpenWithNoGroupChosen()
{
    SocialTestWorld l_world;
    Group("Admins");
    Group("Friends");
    UserGroupConfigDialog l_dialog;
    Ui::UserGroupConfigDialog* lp_form = l_dialog.Form();
    l_dialog.show();
    l_dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&l_dialog));
    QCOMPARE(QApplication::focusWidget(), lp_form->groupList);
    QCOMPARE(lp_form->groupList->currentItem(), nullptr);
    QCOMPARE(lp_form->groupBox->title(), QString());
    QVERIFY(!lp_form->prioritySpinBox->isEnabled());
    // The keyboard still chooses: the first arrow press takes the first group.
    QTest::keyClick(lp_form->groupList, Qt::Key_Down);
    QCOMPARE(lp_form->groupBox->title(), QStringLiteral("Admins"));
    QVERIFY(lp_form->prioritySpinBox->isEnabled());
}

void TestUserGroups::groupTitleShowsTheNameAsItStands_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("ampersand") << "R&D" << "R&&D";
    QTest::newRow("two at the end") << "Q&&" << "Q&&&&";
}

void TestUserGroups::groupTitleShowsTheNameAsItStands()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    SocialTestWorld l_world;
    Group(name.toStdString());
    UserGroupConfigDialog l_dialog;
    l_dialog.Form()->groupList->setCurrentRow(0);
    QCOMPARE(l_dialog.Form()->groupBox->title(), title);
}

void TestUserGroups::bothKeptThroughARestart()
{
    QTemporaryDir l_folder;
    const QString l_file = l_folder.filePath("data.dat");
    {
        SocialTestWorld l_world;
        User("liv").NewItem("in_user_list");
        UserGroupsDialog l_groups("liv");
        l_groups.show();
        QVERIFY(QTest::qWaitForWindowActive(&l_groups));
        CreateGroup(l_groups, QStringLiteral("crew"));
        Row(l_groups.Form()->groupListWidget, "crew")->setCheckState(Qt::Checked);
        UserGroupConfigDialog l_priorities;
        l_priorities.Form()->groupList->setCurrentRow(0);
        l_priorities.Form()->prioritySpinBox->setValue(7);
        l_world.Save(l_file);
    }
    SocialTestWorld l_world(l_file);
    QCOMPARE(GroupsOf("liv"), ItemSet(Group("crew").Get()));
    UserGroupConfigDialog l_priorities;
    l_priorities.Form()->groupList->setCurrentRow(0);
    QCOMPARE(l_priorities.Form()->prioritySpinBox->value(), 7);
    UserGroupsDialog l_groups("liv");
    QCOMPARE(Rows(l_groups.Form()->groupListWidget), QStringList({"[x] crew"}));
}

QTEST_MAIN(TestUserGroups)
#include "tst_user_groups.moc"
