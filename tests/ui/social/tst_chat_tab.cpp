// Private chat tabs against the fake central server: a tab per user made by
// the first message, its lines and the own line, the event-bar notice for a
// hidden tab, closing and reopening, lines typed while not logged in.
#include "SocialTestWorld.h"

#include "WireBytes.h"

#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/frame/EventToolBar.h"
#include "ui/social/ChatForm.h"
#include "ui/social/SocialPages.h"
#include "ui_ChatForm.h"

#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

namespace {

ChatForm* TabOf(const std::string& i_user)
{
    return d.GetType("user")->GetItem(i_user)["user_chat_widget"].AsObject<ChatForm>();
}

// The event bar's notices, by their texts.
QStringList Notices()
{
    QStringList l_texts;
    for (QAction* lp_action : eventToolBar->actions()) {
        if (!lp_action->text().isEmpty() && lp_action->isVisible())
            l_texts << lp_action->text();
    }
    return l_texts;
}

}  // namespace

class TestChatTab : public QObject
{
    Q_OBJECT

private slots:
    void messagesOpenOneTabPerUser();
    void linesAsTheUserReadsThem_data();
    void linesAsTheUserReadsThem();
    void noticeForAHiddenTabOnly();
    void ownLinesAndLinesNotSent();
    void closedTabStartsAfresh();
};

void TestChatTab::messagesOpenOneTabPerUser()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    QWidget l_other;
    l_world.ChatTabs().addTab(&l_other, QStringLiteral("current"));
    SocialTestWorld::SayPrivately("ann & co", "one");
    SocialTestWorld::SayPrivately("ann & co", "two");
    SocialTestWorld::SayPrivately("ben", "three");
    QTRY_COMPARE(l_world.ChatTabs().count(), 3);
    // Made in the background, in the order of their first messages.
    QCOMPARE(l_world.ChatTabs().currentWidget(), &l_other);
    QCOMPARE(l_world.ChatTabs().tabText(1), QStringLiteral("ann && co"));
    QCOMPARE(l_world.ChatTabs().tabText(2), QStringLiteral("ben"));
    QTRY_COMPARE(SocialTestWorld::Lines(TabOf("ann & co")->Form()->chatView),
                 QStringList({"[ann & co] one", "[ann & co] two"}));
    QCOMPARE(TabOf("ann & co")->User(), std::string("ann & co"));
    // The server was told each message arrived.
    QVERIFY(SocialTestWorld::Fake().WaitFor(Server::AckPrivateChatCode, 3));

    l_world.Pages().OpenChatForm("ben");
    QCOMPARE(l_world.ChatTabs().currentWidget(), TabOf("ben"));
    QCOMPARE(l_world.ChatTabs().count(), 3);
    l_world.ChatTabs().removeTab(0);
    const QString l_path = QDir::currentPath() + "/chat_tab.png";
    QVERIFY(l_world.Window().grab().save(l_path));
    qInfo("chat tab picture: %s", qPrintable(l_path));
}

void TestChatTab::linesAsTheUserReadsThem_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("link");
    QTest::newRow("markup") << QByteArray("b<o>b") << QByteArray("<script>x</script> & <b>") << "[b<o>b] <script>x</script> & <b>"
                            << QString();
    QTest::newRow("link") << QByteArray("bob") << QByteArray("look: http://example.org/?q=\"a\"")
                          << "[bob] look: http://example.org/?q=\"a\"" << "http://example.org/?q=";
    QTest::newRow("encodings") << QByteArray("Ren\xe9") << QByteArray("\xe2\x82\xac 5") << QString::fromUtf8("[René] € 5")
                               << QString();
}

void TestChatTab::linesAsTheUserReadsThem()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    QFETCH(QString, link);
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    SocialTestWorld::SayPrivately(user.toStdString(), text.toStdString());
    QTRY_VERIFY(TabOf(user.toStdString()));
    QTextBrowser* lp_view = TabOf(user.toStdString())->Form()->chatView;
    QTRY_COMPARE(SocialTestWorld::Lines(lp_view), QStringList{shown});
    if (!link.isEmpty())
        QVERIFY2(lp_view->toHtml().contains("href=\"" + link + "\""), qPrintable(lp_view->toHtml()));
    else
        QVERIFY(!lp_view->toHtml().contains(QStringLiteral("href")));
}

void TestChatTab::noticeForAHiddenTabOnly()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    QWidget l_front;
    l_world.ChatTabs().addTab(&l_front, QStringLiteral("front"));
    SocialTestWorld::SayPrivately("cat & dog", "psst");
    QTRY_COMPARE(Notices(), QStringList{"cat && dog"});
    SocialTestWorld::SayPrivately("cat & dog", "again");
    QTRY_COMPARE(SocialTestWorld::Lines(TabOf("cat & dog")->Form()->chatView).size(), 2);
    QCOMPARE(Notices(), QStringList{"cat && dog"});
    // Shown: the notice goes; a message to a showing tab brings none.
    l_world.ChatTabs().setCurrentWidget(TabOf("cat & dog"));
    QTRY_COMPARE(Notices(), QStringList());
    SocialTestWorld::SayPrivately("cat & dog", "seen");
    QTRY_COMPARE(SocialTestWorld::Lines(TabOf("cat & dog")->Form()->chatView).size(), 3);
    QCOMPARE(Notices(), QStringList());
}

void TestChatTab::ownLinesAndLinesNotSent()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    ChatForm* lp_tab = l_world.Pages().GetChatForm("dan");
    QLineEdit* lp_edit = lp_tab->Form()->chatEdit;
    FakeCentralServer& l_fake = SocialTestWorld::Fake();
    l_fake.ClearReceived();
    QTest::keyClick(lp_edit, Qt::Key_Return);
    lp_edit->setText(QString::fromUtf8("<3 ü"));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    lp_edit->setText(QStringLiteral("  "));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    // The view shows blanks as HTML does; they go out as typed.
    QCOMPARE(SocialTestWorld::Lines(lp_tab->Form()->chatView),
             QStringList({QString::fromUtf8("[me] <3 ü"), "[me] "}));
    QVERIFY(lp_edit->text().isEmpty());
    QVERIFY(l_fake.WaitFor(Server::PrivateChatCode, 2));
    WireReader l_reader(l_fake.Received(Server::PrivateChatCode).first().m_payload);
    QCOMPARE(l_reader.Str(), std::string("dan"));
    QCOMPARE(QByteArray::fromStdString(l_reader.Str()), QByteArray("<3 \xc3\xbc"));
    WireReader l_blanks(l_fake.Received(Server::PrivateChatCode).last().m_payload);
    l_blanks.Str();
    QCOMPARE(l_blanks.Str(), std::string("  "));

    l_world.Link().Disconnect();
    lp_edit->setText(QStringLiteral("anyone?"));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    QCOMPARE(lp_edit->text(), QStringLiteral("anyone?"));
    QCOMPARE(SocialTestWorld::LastLine(lp_tab->Form()->chatView),
             QStringLiteral("* Not connected. Message not sent."));
    QTest::qWait(100);
    QCOMPARE(l_fake.CountOf(Server::PrivateChatCode), 2);
}

void TestChatTab::closedTabStartsAfresh()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    SocialTestWorld::SayPrivately("eve", "first");
    QTRY_VERIFY(TabOf("eve"));
    QPointer<ChatForm> lp_old = TabOf("eve");
    const std::size_t l_items = d.GetType("user_chat_widget")->ItemCount();
    emit l_world.ChatTabs().tabCloseRequested(0);
    // Gone from the control at once, its item removed once.
    QCOMPARE(l_world.ChatTabs().count(), 0);
    QVERIFY(!TabOf("eve"));
    QCOMPARE(d.GetType("user_chat_widget")->ItemCount(), l_items - 1);
    QTRY_VERIFY(lp_old.isNull());
    QCOMPARE(d.GetType("user_chat_widget")->ItemCount(), l_items - 1);
    SocialTestWorld::SayPrivately("eve", "second");
    QTRY_VERIFY(TabOf("eve"));
    QTRY_COMPARE(SocialTestWorld::Lines(TabOf("eve")->Form()->chatView), QStringList{"[eve] second"});
}

QTEST_MAIN(TestChatTab)
#include "tst_chat_tab.moc"
