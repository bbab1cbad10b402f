// The add-user dialog against the fake central server: its status texts for
// every local refusal and every answer, the locked inputs while it waits,
// and a link that drops meanwhile.
#include "SocialTestWorld.h"

#include "WireBytes.h"

#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/social/AddUserDialog.h"
#include "ui_AddUserDialog.h"

#include <QPushButton>
#include <QTest>

namespace {

bool Listed(const std::string& i_user)
{
    return !d.GetType("user")->HasItem(i_user).HasItem("in_user_list").IsNull();
}

}  // namespace

class TestAddUserDialog : public QObject
{
    Q_OBJECT

private slots:
    void refusedBeforeAsking_data();
    void refusedBeforeAsking();
    void answers_data();
    void answers();
    void waitsForItsOwnAnswer();
    void droppedLinkWhileWaiting();
};

void TestAddUserDialog::refusedBeforeAsking_data()
{
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("status");
    QTest::newRow("empty") << true << "" << "User name must not be empty.";
    QTest::newRow("blanks") << true << "   " << "User name must not be empty.";
    QTest::newRow("outside Latin-1") << true << QString::fromUtf8("Иван") << "User name holds characters outside Latin-1.";
    QTest::newRow("offline") << false << "pat" << "Must be online to add a user to your list.";
    QTest::newRow("listed") << true << " quin " << "User already in list.";
}

void TestAddUserDialog::refusedBeforeAsking()
{
    QFETCH(bool, online);
    QFETCH(QString, typed);
    QFETCH(QString, status);
    SocialTestWorld l_world;
    d.GetType("user")->GetItem("quin").NewItem("in_user_list");
    if (online)
        QVERIFY(l_world.LogIn());
    SocialTestWorld::Fake().ClearReceived();
    AddUserDialog l_dialog;
    l_dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&l_dialog));
    QCOMPARE(QApplication::focusWidget(), l_dialog.Form()->userNameEdit);
    l_dialog.Form()->userNameEdit->setText(typed);
    QTest::keyClick(l_dialog.Form()->userNameEdit, Qt::Key_Return);
    QCOMPARE(l_dialog.Form()->statusEdit->text(), status);
    QVERIFY(l_dialog.Form()->addFriendButton->isEnabled());
    QVERIFY(!l_dialog.Form()->userNameEdit->isReadOnly());
    QTest::qWait(100);
    QCOMPARE(SocialTestWorld::Fake().CountOf(Server::AddUserCode), 0);
}

void TestAddUserDialog::answers_data()
{
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("status");
    QTest::newRow("exists") << true << "User added to list.";
    QTest::newRow("unknown") << false << "User name does not exist.";
}

void TestAddUserDialog::answers()
{
    QFETCH(bool, known);
    QFETCH(QString, status);
    SocialTestWorld l_world;
    // Latin-1 bytes, inner blanks kept; a name differing in case is asked.
    const std::string l_name = known ? "Ren\xe9 Roe" : "Ren\xe9 Ray";
    if (known)
        SocialTestWorld::Fake().AddKnownUser(l_name, FakeCentralServer::KnownUser());
    d.GetType("user")->GetItem("ren\xe9 roe").NewItem("in_user_list");
    d.GetType("user")->GetItem("ren\xe9 ray").NewItem("in_user_list");
    QVERIFY(l_world.LogIn());
    SocialTestWorld::Fake().ClearReceived();
    AddUserDialog l_dialog;
    const QString l_typed = "  " + QString::fromLatin1(l_name) + " ";
    l_dialog.Form()->userNameEdit->setText(l_typed);
    l_dialog.Form()->addFriendButton->click();
    QCOMPARE(l_dialog.Form()->statusEdit->text(), QStringLiteral("Adding user..."));
    QVERIFY(SocialTestWorld::Fake().WaitFor(Server::AddUserCode));
    QCOMPARE(WireReader(SocialTestWorld::Fake().Received(Server::AddUserCode).first().m_payload).Str(), l_name);
    QTRY_COMPARE(l_dialog.Form()->statusEdit->text(), status);
    QCOMPARE(Listed(l_name), known);
    QVERIFY(l_dialog.Form()->addFriendButton->isEnabled());
    QCOMPARE(l_dialog.Form()->userNameEdit->text(), l_typed);
    // Ready for the next name.
    l_dialog.Form()->userNameEdit->setText(QStringLiteral("next"));
    l_dialog.Form()->addFriendButton->click();
    QTRY_COMPARE(l_dialog.Form()->statusEdit->text(), QStringLiteral("User name does not exist."));
}

void TestAddUserDialog::waitsForItsOwnAnswer()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    AddUserDialog l_first;
    AddUserDialog l_second;
    // An answer while idle, or about another name, changes nothing.
    emit l_world.Link().AddUserResponse("sam", true);
    QVERIFY(l_first.Form()->statusEdit->text().isEmpty());
    l_first.Form()->userNameEdit->setText(QStringLiteral("sam"));
    l_second.Form()->userNameEdit->setText(QStringLiteral("sam"));
    // Both wait for the same name: the first answer is taken by both.
    l_first.Form()->addFriendButton->click();
    l_second.Form()->addFriendButton->click();
    QVERIFY(!l_first.Form()->addFriendButton->isEnabled());
    QVERIFY(l_first.Form()->userNameEdit->isReadOnly());
    QTRY_COMPARE(l_first.Form()->statusEdit->text(), QStringLiteral("User name does not exist."));
    QCOMPARE(l_second.Form()->statusEdit->text(), QStringLiteral("User name does not exist."));
    emit l_world.Link().AddUserResponse("tom", true);
    QCOMPARE(l_first.Form()->statusEdit->text(), QStringLiteral("User name does not exist."));
    QVERIFY(!Listed("tom"));
}

void TestAddUserDialog::droppedLinkWhileWaiting()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    SocialTestWorld::Fake().AddKnownUser("uma", FakeCentralServer::KnownUser());
    AddUserDialog l_dialog;
    // The fake server answers at once: cut the dialog off the answer, as if
    // the link dropped before it came.
    QObject::disconnect(&l_world.Link(), &Server::AddUserResponse, &l_dialog, nullptr);
    l_dialog.Form()->userNameEdit->setText(QStringLiteral("uma"));
    l_dialog.Form()->addFriendButton->click();
    QCOMPARE(l_dialog.Form()->statusEdit->text(), QStringLiteral("Adding user..."));
    SocialTestWorld::Fake().DropClient("me");
    QTRY_VERIFY(!l_world.Link().IsConnected());
    QCOMPARE(l_dialog.Form()->statusEdit->text(), QStringLiteral("Must be online to add a user to your list."));
    QVERIFY(l_dialog.Form()->addFriendButton->isEnabled());
    QVERIFY(!l_dialog.Form()->userNameEdit->isReadOnly());
    QVERIFY(!Listed("uma"));
}

QTEST_MAIN(TestAddUserDialog)
#include "tst_add_user_dialog.moc"
