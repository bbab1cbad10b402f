// A room tab against the fake central server: the tab opened by the join,
// its member rows, flags and order, chat and status lines, the trimming of a
// busy chat, a lost and restored link, the autojoin text, the member menu.
#include "SocialTestWorld.h"

#include "core/platform/DesktopOpener.h"
#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/social/QRoomUserListItemWidget.h"
#include "ui/social/RoomForm.h"
#include "ui_RoomForm.h"

#include "WireBytes.h"

#include <QDir>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {

FakeCentralServer::KnownUser Member(qint32 i_speed, qint32 i_files, const std::string& i_country)
{
    FakeCentralServer::KnownUser l_user;
    l_user.m_averageSpeed = i_speed;
    l_user.m_files = i_files;
    l_user.m_countryCode = i_country;
    return l_user;
}

}  // namespace

class TestRoomTab : public QObject
{
    Q_OBJECT

private slots:
    void joinOpensTabWithMemberRows();
    void memberOrderByEachColumn_data();
    void memberOrderByEachColumn();
    void membersComeAndGo();
    void rowShowsTheFiguresOfItsJoin_data();
    void rowShowsTheFiguresOfItsJoin();
    void chatLines_data();
    void chatLines();
    void linkOpensWithTheDesktop();
    void typedLines();
    void busyChatDropsItsOldestLines();
    void lostLinkAndRejoin();
    void autojoinText();
    void leavingClosesTheTab();
    void memberMenu();
};

void TestRoomTab::joinOpensTabWithMemberRows()
{
    SocialTestWorld l_world;
    FakeCentralServer& l_fake = SocialTestWorld::Fake();
    l_fake.AddKnownUser("bob", Member(1536, 1234567, "US"));
    l_fake.AddKnownUser("Carol", Member(1000, 0, ""));
    l_fake.AddKnownUser("dave", Member(0, 12, "de"));
    for (const char* lp_user : {"bob", "Carol", "dave"})
        l_fake.AddRoomMember("Pubs & Bars", lp_user);
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("Pubs & Bars");
    QVERIFY(lp_room);
    QCOMPARE(l_world.RoomTabs().tabText(0), QStringLiteral("Pubs && Bars"));
    QCOMPARE(l_world.RoomTabs().currentWidget(), lp_room);
    QTreeWidget* lp_list = lp_room->Form()->userList;
    QCOMPARE(lp_list->headerItem()->text(2), QStringLiteral("User"));
    QCOMPARE(lp_list->headerItem()->text(3), QStringLiteral("Files"));
    QCOMPARE(lp_list->headerItem()->text(4), QStringLiteral("K/s"));
    QCOMPARE(SocialTestWorld::Rows(lp_list),
             QStringList({"bob | 1,234,567 | 1.5", "Carol | 1.0", "dave | 12", "me"}));
    // The flags of the package, by the lower-case code; none without one.
    QVERIFY(!lp_list->topLevelItem(0)->icon(1).isNull());
    const QImage l_us(QStringLiteral(":/resources/flags/us.png"));
    QVERIFY(!l_us.isNull());
    QCOMPARE(lp_list->topLevelItem(0)->icon(1).pixmap(l_us.size()).toImage().convertToFormat(l_us.format()), l_us);
    QVERIFY(!lp_list->topLevelItem(2)->icon(1).isNull());
    QVERIFY(lp_list->topLevelItem(1)->icon(1).isNull());

    lp_room->Form()->chatView->append(QStringLiteral("* <font color=\"green\">Reconnected.</font>"));
    SocialTestWorld::SayInRoom("Pubs & Bars", "bob", "hello <b>all</b> at https://example.org/x?a=1&b=2");
    QTRY_COMPARE(SocialTestWorld::Lines(lp_room->Form()->chatView).size(), 2);
    const QString l_path = QDir::currentPath() + "/room_tab.png";
    QVERIFY(l_world.Window().grab().save(l_path));
    qInfo("room tab picture: %s", qPrintable(l_path));
}

void TestRoomTab::memberOrderByEachColumn_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("user up") << 2 << int(Qt::AscendingOrder) << QStringList{"abe", "Bea", "cy", "Dee"};
    QTest::newRow("user down") << 2 << int(Qt::DescendingOrder) << QStringList{"Dee", "cy", "Bea", "abe"};
    // 9 before 1,000 before 12,000: numbers, not texts; ties by name.
    QTest::newRow("files up") << 3 << int(Qt::AscendingOrder) << QStringList{"abe", "cy", "Dee", "Bea"};
    QTest::newRow("speed up") << 4 << int(Qt::AscendingOrder) << QStringList{"Bea", "Dee", "abe", "cy"};
    QTest::newRow("flag up") << 1 << int(Qt::AscendingOrder) << QStringList{"cy", "Bea", "Dee", "abe"};
}

void TestRoomTab::memberOrderByEachColumn()
{
    QFETCH(int, column);
    QFETCH(int, order);
    QFETCH(QStringList, names);
    QTreeWidget l_tree;
    l_tree.setColumnCount(5);
    auto l_add = [&](const char* ip_name, const char* ip_country, int i_files, int i_speed) {
        (new QRoomUserListItemWidget(&l_tree))->SetMember(ip_name, ip_country, i_files, i_speed);
    };
    l_add("Dee", "fr", 1000, 2048);
    l_add("abe", "us", 9, 4096);
    l_add("cy", "", 9, 10240);
    l_add("Bea", "de", 12000, 0);
    l_tree.sortByColumn(column, Qt::SortOrder(order));
    QStringList l_names;
    for (int l_row = 0; l_row < l_tree.topLevelItemCount(); ++l_row)
        l_names << l_tree.topLevelItem(l_row)->text(2);
    QCOMPARE(l_names, names);
}

void TestRoomTab::membersComeAndGo()
{
    SocialTestWorld l_world;
    SocialTestWorld::Fake().AddRoomMember("quiet", "eve");
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("quiet");
    QVERIFY(lp_room);
    QTreeWidget* lp_list = lp_room->Form()->userList;
    QCOMPARE(SocialTestWorld::Rows(lp_list), QStringList({"eve", "me"}));
    // A user joining (16) with figures; a later change leaves the row as
    // first shown; a user leaving (17); a leave for a name without a row.
    QVERIFY(SocialTestWorld::Send(Server::UserJoinedRoomCode, WireWriter().Str("quiet").Str("Zo\xeb").U32(2).I32(2048)
                                                                  .I64(0).I32(5).I32(1).U32(0).Str("se")));
    // The name's bytes are Latin-1.
    const QString l_zoe = QString::fromUtf8("Zoë | 5 | 2.0");
    QTRY_COMPARE(SocialTestWorld::Rows(lp_list), QStringList({"eve", "me", l_zoe}));
    d.GetType("user")->GetItem("Zo\xeb") += d.GetType("shared_files_count")->GetItem("99");
    QVERIFY(SocialTestWorld::Send(Server::UserLeftRoomCode, WireWriter().Str("quiet").Str("eve")));
    QVERIFY(SocialTestWorld::Send(Server::UserLeftRoomCode, WireWriter().Str("quiet").Str("nobody")));
    QTRY_COMPARE(SocialTestWorld::Rows(lp_list), QStringList({"me", l_zoe}));
}

void TestRoomTab::rowShowsTheFiguresOfItsJoin_data()
{
    QTest::addColumn<bool>("userJoins");
    QTest::newRow("room joined again") << false;
    QTest::newRow("member joins again") << true;
}

// The server's figures of a user change between two joins: the new row shows
// those of the message that made it.
void TestRoomTab::rowShowsTheFiguresOfItsJoin()
{
    QFETCH(bool, userJoins);
    SocialTestWorld l_world;
    FakeCentralServer& l_fake = SocialTestWorld::Fake();
    l_fake.AddKnownUser("alice", Member(1536, 5, "US"));
    l_fake.AddRoomMember("r1", "alice");
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("r1");
    QVERIFY(lp_room);
    QCOMPARE(SocialTestWorld::Rows(lp_room->Form()->userList), QStringList({"alice | 5 | 1.5", "me"}));

    l_fake.AddKnownUser("alice", Member(307200, 99999, "DE"));
    if (userJoins) {
        QVERIFY(SocialTestWorld::Send(Server::UserLeftRoomCode, WireWriter().Str("r1").Str("alice")));
        QTRY_COMPARE(SocialTestWorld::Rows(lp_room->Form()->userList), QStringList({"me"}));
        QVERIFY(SocialTestWorld::Send(Server::UserJoinedRoomCode, WireWriter().Str("r1").Str("alice").U32(2).I32(307200)
                                                                      .I64(0).I32(99999).I32(1).U32(0).Str("DE")));
    } else {
        l_world.Link().LeaveRoom("r1");
        QTRY_VERIFY(!l_world.RoomTab("r1"));
        lp_room = l_world.Join("r1");
        QVERIFY(lp_room);
    }
    QTreeWidget* lp_list = lp_room->Form()->userList;
    QTRY_COMPARE(SocialTestWorld::Rows(lp_list), QStringList({"alice | 99,999 | 300.0", "me"}));
    const QImage l_de(QStringLiteral(":/resources/flags/de.png"));
    QCOMPARE(lp_list->topLevelItem(0)->icon(1).pixmap(l_de.size()).toImage().convertToFormat(l_de.format()), l_de);
}

void TestRoomTab::chatLines_data()
{
    QTest::addColumn<QByteArray>("room");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("lobby") << QByteArray("bob") << QByteArray("hi") << "[bob] hi";
    QTest::newRow("markup shown as typed")
        << QByteArray("lobby") << QByteArray("<i>x</i>&") << QByteArray("<b>bold</b> &amp; <br>")
        << "[<i>x</i>&] <b>bold</b> &amp; <br>";
    // The name is Latin-1 bytes, the text UTF-8.
    QTest::newRow("encodings") << QByteArray("lobby") << QByteArray("Jos\xe9") << QByteArray("gr\xc3\xbc\xc3\x9f")
                               << QString::fromUtf8("[José] grüß");
    QTest::newRow("other room") << QByteArray("Lobby") << QByteArray("bob") << QByteArray("hi") << QString();
}

void TestRoomTab::chatLines()
{
    QFETCH(QByteArray, room);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, text);
    QFETCH(QString, shown);
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("lobby");
    QVERIFY(lp_room);
    QTextBrowser* lp_view = lp_room->Form()->chatView;
    const QStringList l_before = SocialTestWorld::Lines(lp_view);
    SocialTestWorld::SayInRoom(room.toStdString(), user.toStdString(), text.toStdString());
    SocialTestWorld::SayInRoom("lobby", "end", ".");
    QTRY_COMPARE(SocialTestWorld::LastLine(lp_view), QStringLiteral("[end] ."));
    QStringList l_expected = l_before;
    if (!shown.isEmpty())
        l_expected << shown;
    l_expected << QStringLiteral("[end] .");
    QCOMPARE(SocialTestWorld::Lines(lp_view), l_expected);
    QVERIFY(!lp_view->toHtml().contains(QStringLiteral("<b>bold")));
}

void TestRoomTab::linkOpensWithTheDesktop()
{
    QList<QUrl> l_opened;
    SetDesktopOpener([&](const QUrl& i_url) {
        l_opened << i_url;
        return true;
    });
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("links");
    QTextBrowser* lp_view = lp_room->Form()->chatView;
    SocialTestWorld::SayInRoom("links", "http://name.example", "see https://example.org/a?b=1&c=2 now");
    QTRY_VERIFY(lp_view->toHtml().contains(QStringLiteral("href=\"https://example.org/a?b=1&amp;c=2\"")));
    emit lp_view->anchorClicked(QUrl(QStringLiteral("https://example.org/a?b=1&c=2")));
    emit lp_view->anchorClicked(QUrl(QStringLiteral("file:///etc/passwd")));
    QCOMPARE(l_opened, QList<QUrl>({QUrl(QStringLiteral("https://example.org/a?b=1&c=2"))}));
    // The view stays on the chat.
    QVERIFY(lp_view->source().isEmpty());
    SetDesktopOpener({});
}

void TestRoomTab::typedLines()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("talk");
    QLineEdit* lp_edit = lp_room->Form()->chatEdit;
    QTextBrowser* lp_view = lp_room->Form()->chatView;
    FakeCentralServer& l_fake = SocialTestWorld::Fake();
    l_fake.ClearReceived();

    QTest::keyClick(lp_edit, Qt::Key_Return);
    lp_edit->setText(QStringLiteral("  "));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    lp_edit->setText(QString::fromUtf8("grüß dich"));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    QVERIFY(l_fake.WaitFor(Server::RoomChatCode, 2));
    QList<FakeCentralServer::Message> l_sent = l_fake.Received(Server::RoomChatCode);
    QCOMPARE(l_sent.size(), 2);
    WireReader l_reader(l_sent[1].m_payload);
    QCOMPARE(l_reader.Str(), std::string("talk"));
    QCOMPARE(QByteArray::fromStdString(l_reader.Str()), QByteArray("gr\xc3\xbc\xc3\x9f dich"));
    QVERIFY(lp_edit->text().isEmpty());
    // Shown as the server relays it, not before.
    QTRY_COMPARE(SocialTestWorld::LastLine(lp_view), QString::fromUtf8("[me] grüß dich"));

    // Not logged in: kept, not sent, and said so.
    l_world.Link().Disconnect();
    l_fake.ClearReceived();
    lp_edit->setText(QStringLiteral("later"));
    QTest::keyClick(lp_edit, Qt::Key_Return);
    QCOMPARE(lp_edit->text(), QStringLiteral("later"));
    QCOMPARE(SocialTestWorld::LastLine(lp_view), QStringLiteral("* Not connected. Message not sent."));
    QVERIFY(lp_view->toHtml().contains(QStringLiteral("#008000")));
    QTest::qWait(100);
    QCOMPARE(l_fake.CountOf(Server::RoomChatCode), 0);
}

void TestRoomTab::busyChatDropsItsOldestLines()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("busy");
    QTextBrowser* lp_view = lp_room->Form()->chatView;
    lp_view->clear();
    // Lines of 100 characters as the view counts them (with the paragraph
    // break): "[u] " and 95 letters.
    int l_line = 0;
    auto l_say = [&] {
        QString l_text = QString::number(l_line++).rightJustified(6, '0');
        l_text += QString(89, 'x');
        lp_room->OnRoomChat("busy", "u", l_text.toStdString());
    };
    while (lp_view->document()->characterCount() < RoomForm::ChatCharacterLimit)
        l_say();
    // At the limit exactly nothing goes yet.
    QCOMPARE(lp_view->document()->characterCount(), RoomForm::ChatCharacterLimit);
    QCOMPARE(lp_room->TrimCount(), 0);
    l_say();
    QCOMPARE(lp_room->TrimCount(), 0);
    l_say();
    QCOMPARE(lp_room->TrimCount(), 1);
    // Whole lines went, the oldest first, at least the trim's worth.
    const QStringList l_lines = SocialTestWorld::Lines(lp_view);
    QCOMPARE(l_lines.first(), "[u] " + QString::number(500).rightJustified(6, '0') + QString(89, 'x'));
    QCOMPARE(l_lines.last().left(10), "[u] " + QString::number(l_line - 1).rightJustified(6, '0'));
    QCOMPARE(l_lines.size(), l_line - 500);
    QCOMPARE(lp_view->document()->characterCount(), (l_line - 500) * 100);
}

void TestRoomTab::lostLinkAndRejoin()
{
    SocialTestWorld l_world;
    SocialTestWorld::Fake().AddRoomMember("again", "fay");
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("again");
    QTreeWidget* lp_list = lp_room->Form()->userList;
    QTRY_COMPARE(SocialTestWorld::Rows(lp_list), QStringList({"fay", "me"}));
    QTextBrowser* lp_view = lp_room->Form()->chatView;
    lp_view->clear();
    FakeCentralServer& l_fake = SocialTestWorld::Fake();
    l_fake.Stop();
    QTRY_VERIFY(!l_world.Link().IsConnected());
    // Retries that fail while the server is away add nothing.
    for (int l_attempt = 0; l_attempt < 2; ++l_attempt) {
        SocialTestWorld::HalfMinuteTick();
        QTRY_COMPARE_WITH_TIMEOUT(l_world.Link().GetState(), Server::State::Disconnected, 5000);
    }
    QCOMPARE(SocialTestWorld::Lines(lp_view), QStringList({"* Disconnected."}));
    QVERIFY(l_fake.Start());
    l_world.Link().SetServerAddress("127.0.0.1", l_fake.Port());
    l_fake.AddRoomMember("again", "gus");
    l_fake.ClearReceived();
    SocialTestWorld::HalfMinuteTick();
    QTRY_VERIFY(l_world.Link().IsConnected());
    QVERIFY(l_fake.WaitFor(Server::JoinRoomCode));
    QTRY_COMPARE(SocialTestWorld::Rows(lp_list), QStringList({"fay", "gus", "me"}));
    QCOMPARE(SocialTestWorld::Lines(lp_view), QStringList({"* Disconnected.", "* Reconnected."}));
    QCOMPARE(l_world.RoomTabs().count(), 1);
}

void TestRoomTab::autojoinText()
{
    SocialTestWorld l_world;
    d.GetType("room")->GetItem("auto").NewItem("room_autojoin");
    QVERIFY(l_world.LogIn());
    RoomForm* lp_auto = l_world.Join("auto");
    QVERIFY(lp_auto);
    RoomForm* lp_plain = l_world.Join("plain");
    QVERIFY(lp_plain);
    QVERIFY(l_world.FocusOn(lp_auto->Form()->chatEdit));
    QCOMPARE(actionBar->GetKey(QStringLiteral("room")), QStringLiteral("auto"));
    QVERIFY(SocialTestWorld::BarTexts().contains(QStringLiteral("Auto-Join Room [on]")));
    d.GetType("room")->GetItem("auto").Disconnect("room_autojoin");
    QVERIFY(SocialTestWorld::BarTexts().contains(QStringLiteral("Auto-Join Room [off]")));
    QVERIFY(l_world.FocusOn(lp_plain->Form()->chatEdit));
    QVERIFY(SocialTestWorld::BarTexts().contains(QStringLiteral("Auto-Join Room [off]")));
    d.GetType("room")->GetItem("plain").NewItem("room_autojoin");
    QVERIFY(SocialTestWorld::BarTexts().contains(QStringLiteral("Auto-Join Room [on]")));
    QCOMPARE(actionBar->GetKey(QStringLiteral("room")), QStringLiteral("plain"));
}

void TestRoomTab::leavingClosesTheTab()
{
    SocialTestWorld l_world;
    QVERIFY(l_world.LogIn());
    QVERIFY(l_world.Join("one"));
    QVERIFY(l_world.Join("two"));
    QCOMPARE(l_world.RoomTabs().count(), 2);
    l_world.Link().LeaveRoom("one");
    QTRY_COMPARE(l_world.RoomTabs().count(), 1);
    QVERIFY(!l_world.RoomTab("one"));
    QVERIFY(l_world.RoomTab("two"));
    // Joined again: a new, empty tab.
    RoomForm* lp_again = l_world.Join("one");
    QVERIFY(lp_again);
    QVERIFY(SocialTestWorld::Lines(lp_again->Form()->chatView).isEmpty());
}

void TestRoomTab::memberMenu()
{
    SocialTestWorld l_world;
    SocialTestWorld::Fake().AddRoomMember("menus", "hal");
    QVERIFY(l_world.LogIn());
    RoomForm* lp_room = l_world.Join("menus");
    QTreeWidget* lp_list = lp_room->Form()->userList;
    QTRY_COMPARE(lp_list->topLevelItemCount(), 2);
    const QPoint l_below(5, lp_list->viewport()->height() - 5);
    QCOMPARE(RunPopup([&] { emit lp_list->customContextMenuRequested(l_below); }), QStringList());
    const QPoint l_hal = lp_list->visualItemRect(lp_list->topLevelItem(0)).center();
    const QStringList l_entries = RunPopup([&] { emit lp_list->customContextMenuRequested(l_hal); },
                                           QStringLiteral("Message user"));
    QCOMPARE(l_entries, QStringList({"Message user", "Add user to list", "Browse user's files", "-",
                                     "Unshare files from user"}));
    QTRY_COMPARE(l_world.ChatTabs().count(), 1);
    QCOMPARE(l_world.ChatTabs().tabText(0), QStringLiteral("hal"));
}

QTEST_MAIN(TestRoomTab)
#include "tst_room_tab.moc"
