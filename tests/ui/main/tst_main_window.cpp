// The main window started as the program starts it, against the fake central
// server. The client listens on its fixed peer ports, so the program runs in
// a network namespace of its own (run_in_netns.sh); the server link is
// pointed at the fake server through KSTR_SERVER_ADDRESS=host:port, which the
// link reads when it is built.
#include "FakeCentralServer.h"
#include "FakeGateway.h"
#include "LoginAnswerer.h"
#include "MessageBoxCatcher.h"

#include "core/log/LogService.h"
#include "core/persist/DataFile.h"
#include "core/persist/Settings.h"
#include "core/platform/Paths.h"
#include "core/store/Data.h"
#include "portmap/PortForwarder.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/main/MainWindow.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/EventToolBar.h"
#include "ui/social/ChatForm.h"
#include "ui/social/RoomForm.h"
#include "ui/views/ShareForm.h"
#include "ui/views/SearchResultsForm.h"
#include "ui/views/SharesForm.h"
#include "ui_MainWindow.h"
#include "ui_ShareForm.h"
#include "ui_SharesForm.h"
#include "ui_TransfersForm.h"
#include "ui_RoomForm.h"
#include "ui_SearchForm.h"
#include "ui_UserListForm.h"
#include "WireBytes.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QToolBar>
#include <QLineEdit>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// The values of the type's items in the data file as it is on disk now,
// sorted; empty without a file.
QStringList SavedValues(const char* ip_type)
{
    QFile l_file(DataFilePath());
    if (!l_file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray l_bytes = l_file.readAll();
    DataFile::Contents l_contents;
    std::string l_reason;
    if (!DataFile::Parse(l_bytes, l_contents, l_reason))
        return {QString::fromStdString("unreadable: " + l_reason)};
    QStringList l_values;
    for (const DataFile::Section& l_section : l_contents.m_sections) {
        if (l_section.m_typeName != ip_type)
            continue;
        for (std::string_view l_value : l_section.m_values)
            l_values.append(QString::fromUtf8(l_value.data(), qsizetype(l_value.size())));
    }
    l_values.sort();
    return l_values;
}

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartAsksLogsInAndSavesAtExit();
    void firstStartCancelledStaysOffline();
    void refusedLoginShowsItsBox_data();
    void refusedLoginShowsItsBox();
    void truncatedDataFileStartsFromScratch();
    void optionsSurviveARestart();
    void newListeningPortListensAfterRestart();
    void disconnectStopsTheLink();
    void roomListRowsAndJoins();
    void enterRoomNeedsASelection();
    void toggleRoomAutojoinTwice();
    void unshareRemovesEverySelectedFolder();
    void accessTextOfSharedFolders();
    void receivedListingOpensASharesTab();
    void changeLoginRefusedWhileOnline();
    void roomTabsChatTabsAndUsersPage();
    void autojoinRoomReopensAfterRestart();
    void toolBarsHaveNoMenuOfToolBars();
    void downloadFolderChooserShowsFoldersFromTheCurrentOne();
    void downloadListChangesAreSavedSoon();
    void pageTabGivesTheFocusIntoThePage_data();
    void pageTabGivesTheFocusIntoThePage();

private:
    // Builds, shows and initialises the window as the program does.
    void Start(const QString& i_user = QStringLiteral("alice"));
    void Stop();
    Ui::MainWindow* Form() { return mp_window->Form(); }
    // Focus moves away and then to the widget, so the bar sees a change.
    bool FocusOn(QWidget* ip_widget)
    {
        mp_window->activateWindow();
        if (QWidget* lp_old = QApplication::focusWidget())
            lp_old->clearFocus();
        ip_widget->setFocus(Qt::OtherFocusReason);
        return QTest::qWaitFor([ip_widget] { return QApplication::focusWidget() == ip_widget; }, 2000);
    }
    // Clicks the bar's button of that text, as the user would.
    bool ClickBarAction(const QString& i_text)
    {
        for (QAction* lp_action : actionBar->actions()) {
            if (lp_action->text() == i_text) {
                lp_action->trigger();
                return true;
            }
        }
        return false;
    }
    // The bar's button texts.
    static QStringList BarTexts()
    {
        QStringList l_texts;
        for (QAction* lp_action : actionBar->actions())
            l_texts << lp_action->text();
        return l_texts;
    }
    // Clicks the main page tab of that title, as the user would.
    bool ClickPageTab(const QString& i_title)
    {
        QTabBar* lp_bar = Form()->tabControl->tabBar();
        for (int l_tab = 0; l_tab < lp_bar->count(); ++l_tab) {
            if (lp_bar->tabText(l_tab) == i_title) {
                QTest::mouseClick(lp_bar, Qt::LeftButton, {}, lp_bar->tabRect(l_tab).center());
                return Form()->tabControl->currentIndex() == l_tab;
            }
        }
        return false;
    }
    bool LogIn() { return QTest::qWaitFor([] { return gp_server && gp_server->IsConnected(); }, 10000); }

    std::unique_ptr<QTemporaryDir> mp_home;
    FakeCentralServer m_fake;
    std::shared_ptr<FakeGatewayScript> mp_gateway = std::make_shared<FakeGatewayScript>();
    std::unique_ptr<MainWindow> mp_window;
    std::unique_ptr<LoginAnswerer> mp_answerer;
};

void TestMainWindow::initTestCase()
{
    QVERIFY(m_fake.Start());
    qputenv("KSTR_SERVER_ADDRESS", QByteArray("127.0.0.1:") + QByteArray::number(m_fake.Port()));
    PortForwarder::SetGatewayFactory(FakeGateway::Factory(mp_gateway));
}

void TestMainWindow::init()
{
    mp_home = std::make_unique<QTemporaryDir>();
    qputenv("XDG_DATA_HOME", QFile::encodeName(mp_home->path()));
    SetLogFolder(mp_home->path());
    m_fake.AcceptLogins();
    m_fake.ClearReceived();
}

void TestMainWindow::cleanup()
{
    Stop();
}

void TestMainWindow::Start(const QString& i_user)
{
    d.Reset();
    mp_answerer = std::make_unique<LoginAnswerer>(i_user, QStringLiteral("secret"));
    mp_window = std::make_unique<MainWindow>();
    mp_window->show();
    mp_window->Init();
}

void TestMainWindow::Stop()
{
    mp_window.reset();
    mp_answerer.reset();
    g_showIsOver = false;
    d.Reset();
}

void TestMainWindow::firstStartAsksLogsInAndSavesAtExit()
{
    MessageBoxCatcher l_boxes;
    Start();
    QCOMPARE(mp_answerer->m_shown, 1);
    QVERIFY2(mp_answerer->m_stayedOpenOnBlank, "OK with a blank user name closed the dialog");
    QVERIFY(LogIn());
    QVERIFY(m_fake.IsLoggedIn("alice"));
    QCOMPARE(Form()->usernameEdit->text(), QStringLiteral("alice"));
    QVERIFY(!Form()->action_Connect->isEnabled());
    QVERIFY(Form()->action_Disconnect->isEnabled());
    // The defaults before the load, ticked by the fill.
    QVERIFY(Form()->uPnPCheckBox->isChecked());
    QVERIFY(Form()->minimizeToTrayCheckBox->isChecked());
    QVERIFY(Form()->autoExpandSharesCheckBox->isChecked());
    QCOMPARE(Form()->listeningPortEdit->text(), QStringLiteral("2235"));
    QCOMPARE(Form()->tabControl->currentIndex(), 1);
    QVERIFY(l_boxes.m_boxes.isEmpty());

    // The save at exit happens after the disconnect, and the next start
    // reads the login from it without asking.
    Stop();
    QVERIFY(QFile::exists(DataFilePath()));
    Start(QString());
    QCOMPARE(mp_answerer->m_shown, 0);
    QVERIFY(LogIn());
    QVERIFY(l_boxes.m_boxes.isEmpty());
}

void TestMainWindow::firstStartCancelledStaysOffline()
{
    const int l_connectionsBefore = m_fake.ConnectionCount();
    Start(QString());
    QCOMPARE(mp_answerer->m_shown, 1);
    QVERIFY(Settings::Get("username").empty());
    QCOMPARE(gp_server->GetState(), Server::State::Disconnected);
    QVERIFY(Form()->action_Connect->isEnabled());
    QVERIFY(!Form()->action_Disconnect->isEnabled());
    QTest::qWait(200);
    QCOMPARE(m_fake.ConnectionCount(), l_connectionsBefore);
}

void TestMainWindow::refusedLoginShowsItsBox_data()
{
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("textPart");
    QTest::newRow("wrong password") << "INVALIDPASS" << "Login Failure: Wrong Password"
                                    << "does not match your username";
    QTest::newRow("invalid name") << "INVALIDUSERNAME" << "Login Failure: Username is Invalid"
                                  << "The username you supplied is invalid.";
    QTest::newRow("other reason") << "SVRFULL" << "Login Failure" << "Reported failure reason: SVRFULL.";
}

void TestMainWindow::refusedLoginShowsItsBox()
{
    QFETCH(QString, reason);
    QFETCH(QString, title);
    QFETCH(QString, textPart);
    MessageBoxCatcher l_boxes;
    m_fake.RefuseLogins(reason.toStdString());
    Start();
    QTRY_COMPARE_WITH_TIMEOUT(l_boxes.m_boxes.size(), 1, 10000);
    QCOMPARE(l_boxes.m_boxes[0].m_title, title);
    QVERIFY2(l_boxes.m_boxes[0].m_text.contains(textPart), qPrintable(l_boxes.m_boxes[0].m_text));
    QTRY_VERIFY(Form()->action_Connect->isEnabled());
    QVERIFY(!gp_server->IsConnected());
}

void TestMainWindow::truncatedDataFileStartsFromScratch()
{
    Start();
    QVERIFY(LogIn());
    Stop();
    QFile l_file(DataFilePath());
    QVERIFY(l_file.open(QIODevice::ReadWrite));
    QVERIFY(l_file.size() > 8);
    QVERIFY(l_file.resize(l_file.size() / 2));
    l_file.close();

    MessageBoxCatcher l_boxes;
    Start(QStringLiteral("bob"));
    QCOMPARE(l_boxes.Titles(), QStringList{QStringLiteral("Error loading configuration data")});
    QCOMPARE(l_boxes.m_boxes[0].m_text,
             QStringLiteral("Your client configuration data could not be loaded. Starting from scratch..."));
    // As on a first start: asked again, defaults back, and connected.
    QCOMPARE(mp_answerer->m_shown, 1);
    QVERIFY(Form()->minimizeToTrayCheckBox->isChecked());
    QVERIFY(LogIn());
    QVERIFY(m_fake.IsLoggedIn("bob"));
}

void TestMainWindow::optionsSurviveARestart()
{
    Start();
    Form()->uPnPCheckBox->setChecked(false);
    Form()->minimizeToTrayCheckBox->setChecked(false);
    Form()->autoExpandSharesCheckBox->setChecked(false);
    QVERIFY(!Settings::IsYes("use_upnp"));
    QVERIFY(!mp_window->TrayIcon().isVisible());
    Settings::Set("download_folder", QStringLiteral("/tmp/загрузки").toUtf8().toStdString());
    Ui::TransfersForm* lp_transfers = Form()->transfersForm->Form();
    lp_transfers->uploadSlotsSpinBox->setValue(3);
    // The Transfers page's commands reach it through the window's bar.
    Form()->tabControl->setCurrentWidget(Form()->transfersTab);
    QVERIFY(FocusOn(lp_transfers->downloadsList));
    QVERIFY(ClickBarAction("Complete Downloads"));
    QCOMPARE(lp_transfers->transfersTabControl->count(), 3);
    Stop();

    Start(QString());
    QVERIFY(!Form()->uPnPCheckBox->isChecked());
    QVERIFY(!Form()->minimizeToTrayCheckBox->isChecked());
    QVERIFY(!Form()->autoExpandSharesCheckBox->isChecked());
    QCOMPARE(Settings::Get("minimize_to_tray"), std::string("no"));
    QVERIFY(!mp_window->TrayIcon().isVisible());
    QCOMPARE(Form()->downloadFolderEdit->text(), QStringLiteral("/tmp/загрузки"));
    QCOMPARE(Form()->transfersForm->Form()->uploadSlotsSpinBox->value(), 3);
}

void TestMainWindow::newListeningPortListensAfterRestart()
{
    Start();
    Settings::Set("new_listening_port", "2301");
    // The field shows the coming port at once.
    QCOMPARE(Form()->listeningPortEdit->text(), QStringLiteral("2301"));
    Stop();

    Start(QString());
    QCOMPARE(Form()->listeningPortEdit->text(), QStringLiteral("2301"));
    QTcpSocket l_probe;
    l_probe.connectToHost(QHostAddress::LocalHost, 2301);
    QVERIFY(l_probe.waitForConnected(5000));
}

void TestMainWindow::disconnectStopsTheLink()
{
    Start();
    QVERIFY(LogIn());
    Form()->action_Disconnect->trigger();
    QCOMPARE(gp_server->GetState(), Server::State::Disconnected);
    QVERIFY(Form()->action_Connect->isEnabled());
    QVERIFY(!Form()->action_Disconnect->isEnabled());
    Form()->action_Connect->trigger();
    QVERIFY(LogIn());
}

void TestMainWindow::roomListRowsAndJoins()
{
    Start();
    QVERIFY(LogIn());
    ItemPtr l_room = d.GetType("room")->GetItem("beta");
    l_room += d.GetType("user_count")->GetItem("7");
    d.GetType("room")->GetItem("Alpha") += d.GetType("user_count")->GetItem("12");
    QTreeWidget* lp_list = Form()->roomList;
    // New rows take their sorted places once the event loop runs.
    QTRY_COMPARE(lp_list->topLevelItem(0)->text(0), QStringLiteral("Alpha"));
    QCOMPARE(lp_list->topLevelItem(1)->text(1), QStringLiteral("7"));
    // A later count for a listed room makes no second row; the row takes
    // the new count (it stayed at the first one, and the list went stale).
    l_room += d.GetType("user_count")->GetItem("9");
    QCOMPARE(lp_list->topLevelItemCount(), 2);
    QCOMPARE(lp_list->topLevelItem(0)->text(0), QStringLiteral("Alpha"));
    QCOMPARE(lp_list->topLevelItem(1)->text(1), QStringLiteral("9"));
    // The server's room list again, as after a refresh: one row a room.
    d.GetType("room")->GetItem("Alpha") += d.GetType("user_count")->GetItem("13");
    QCOMPARE(lp_list->topLevelItemCount(), 2);
    QCOMPARE(lp_list->topLevelItem(0)->text(1), QStringLiteral("13"));

    m_fake.ClearReceived();
    emit lp_list->itemDoubleClicked(lp_list->topLevelItem(1), 1);
    emit lp_list->itemDoubleClicked(lp_list->topLevelItem(1), 0);
    QVERIFY(m_fake.WaitFor(Server::JoinRoomCode));
    QTest::qWait(100);
    QCOMPARE(m_fake.CountOf(Server::JoinRoomCode), 1);
}

void TestMainWindow::enterRoomNeedsASelection()
{
    Start();
    QVERIFY(LogIn());
    d.GetType("room")->GetItem("gamma") += d.GetType("user_count")->GetItem("3");
    d.GetType("room")->GetItem("eta") += d.GetType("user_count")->GetItem("4");
    QTreeWidget* lp_list = Form()->roomList;
    QVERIFY(FocusOn(lp_list));
    QCOMPARE(actionBar->CurrentSet(), std::string("room_list"));
    // A room once selected, then nothing: the bar's key still holds the old
    // name, but no join goes out.
    lp_list->topLevelItem(0)->setSelected(true);
    QVERIFY(ClickBarAction(QStringLiteral("Enter Room")));
    QVERIFY(m_fake.WaitFor(Server::JoinRoomCode));
    lp_list->clearSelection();
    QVERIFY(ClickBarAction(QStringLiteral("Enter Room")));
    QTest::qWait(200);
    QCOMPARE(m_fake.CountOf(Server::JoinRoomCode), 1);
}

void TestMainWindow::toggleRoomAutojoinTwice()
{
    Start();
    // A room tab binds itself to the set "room" with its name as the key.
    auto* lp_roomTab = new QWidget;
    lp_roomTab->setFocusPolicy(Qt::StrongFocus);
    Form()->roomsTabControl->addTab(lp_roomTab, QStringLiteral("delta"));
    actionBar->RegisterWidget(lp_roomTab, QStringLiteral("room"));
    actionBar->AddWidgetKey(lp_roomTab, QStringLiteral("room"), QStringLiteral("delta"));
    Form()->tabControl->setCurrentWidget(Form()->roomsTab);
    QVERIFY(FocusOn(lp_roomTab));
    ItemPtr l_room = d.GetType("room")->GetItem("delta");
    QVERIFY(ClickBarAction(QStringLiteral("Toggle Room Autojoin")));
    QVERIFY(l_room.IsConnected("room_autojoin"));
    QVERIFY(ClickBarAction(QStringLiteral("Toggle Room Autojoin")));
    QVERIFY(!l_room.IsConnected("room_autojoin"));
    // Ids of other views, and the room creation nobody defined, do nothing.
    mp_window->OnToolBarActionTriggered("expand_all");
    mp_window->OnToolBarActionTriggered("create_room");
    QVERIFY(!l_room.IsConnected("room_autojoin"));
}

void TestMainWindow::unshareRemovesEverySelectedFolder()
{
    Start();
    QTemporaryDir l_shares;
    QStringList l_paths;
    for (const QString& l_name : {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("drei ü"),
                                  QStringLiteral("four")}) {
        QVERIFY(QDir(l_shares.path()).mkpath(l_name));
        l_paths << l_shares.path() + '/' + l_name;
        d.GetType("shared_folder")->GetItem(l_paths.last().toUtf8().toStdString()).NewItem("shared_public");
    }
    QTreeWidget* lp_list = Form()->sharedFoldersList;
    QCOMPARE(lp_list->topLevelItemCount(), 4);
    QCOMPARE(lp_list->topLevelItem(2)->text(0), l_paths[2]);
    QCOMPARE(lp_list->topLevelItem(2)->text(1), QStringLiteral("Everyone"));
    // Files with a word in common in the first two folders: unsharing the
    // first takes its file out of the index at once (it stayed reachable
    // through that word until the next rescan).
    QVERIFY(QTest::qWaitFor([] { return !sharedFoldersManager->IsRescanning(); }, 10000));
    QFile(l_paths[0] + "/common one.txt").open(QIODevice::WriteOnly);
    QFile(l_paths[1] + "/common two.txt").open(QIODevice::WriteOnly);
    sharedFoldersManager->RescanShares();
    QVERIFY(QTest::qWaitFor([] { return !sharedFoldersManager->IsRescanning(); }, 10000));
    QVERIFY(sharedFoldersManager->GetSharedFileItem((l_paths[0] + "/common one.txt").toStdString()));
    lp_list->setSelectionMode(QAbstractItemView::MultiSelection);
    for (int l_row : {0, 2, 3})
        lp_list->topLevelItem(l_row)->setSelected(true);
    const int l_typesBefore = d.GetType("shared_folder")->GetItems().size();
    mp_window->OnToolBarActionTriggered("unshare_folder");
    QCOMPARE(lp_list->topLevelItemCount(), 1);
    QCOMPARE(lp_list->topLevelItem(0)->text(0), l_paths[1]);
    QCOMPARE(int(d.GetType("shared_folder")->GetItems().size()), l_typesBefore - 3);
    QVERIFY(!sharedFoldersManager->GetSharedFileItem((l_paths[0] + "/common one.txt").toStdString()));
    QVERIFY(sharedFoldersManager->GetSharedFileItem((l_paths[1] + "/common two.txt").toStdString()));
    QCOMPARE(d.GetType("shared_file")->ItemCount(), std::size_t(1));
    // Nothing selected: nothing happens, and nothing is created.
    lp_list->clearSelection();
    mp_window->OnToolBarActionTriggered("unshare_folder");
    QCOMPARE(lp_list->topLevelItemCount(), 1);
}

void TestMainWindow::accessTextOfSharedFolders()
{
    Start();
    Type* lp_groups = d.GetType("user_list_group");
    ItemPtr l_folder = d.GetType("shared_folder")->GetItem("/srv/music");
    ItemPtr l_beta = lp_groups->GetItem("beta");
    ItemPtr l_alpha = lp_groups->GetItem("Alpha");
    QTreeWidgetItem* lp_row = Form()->sharedFoldersList->topLevelItem(0);
    QVERIFY(lp_row);
    QCOMPARE(lp_row->text(1), QString());
    l_folder += l_beta;
    l_folder += l_alpha;
    QCOMPARE(lp_row->text(1), QStringLiteral("Alpha, beta"));
    l_folder.NewItem("shared_userlist");
    QCOMPARE(lp_row->text(1), QStringLiteral("User List"));
    l_folder.NewItem("shared_public");
    QCOMPARE(lp_row->text(1), QStringLiteral("Everyone"));
    l_folder.Disconnect("shared_public");
    l_folder.Disconnect("shared_userlist");
    l_folder.Disconnect(l_alpha);
    l_folder.Disconnect(l_beta);
    QCOMPARE(lp_row->text(1), QString());
}

void TestMainWindow::changeLoginRefusedWhileOnline()
{
    MessageBoxCatcher l_boxes;
    Start();
    QVERIFY(LogIn());
    mp_window->OnToolBarActionTriggered("set_user_pass");
    QCOMPARE(l_boxes.Titles(), QStringList{QStringLiteral("Cannot change username while online")});
    Form()->action_Disconnect->trigger();
    mp_window->OnToolBarActionTriggered("set_user_pass");
    QCOMPARE(l_boxes.m_boxes.size(), 1);
    auto* lp_dialog = mp_window->findChild<QDialog*>("ChangeUsernamePasswordDialog");
    QVERIFY(lp_dialog && lp_dialog->isVisible());
}

void TestMainWindow::roomTabsChatTabsAndUsersPage()
{
    Start();
    QVERIFY(LogIn());
    d.GetType("room")->GetItem("a&b") += d.GetType("user_count")->GetItem("2");
    Form()->tabControl->setCurrentWidget(Form()->transfersTab);
    emit Form()->roomList->itemDoubleClicked(Form()->roomList->topLevelItem(0), 0);
    // The join's answer opens the room's tab and brings it forward.
    QTRY_COMPARE(Form()->roomsTabControl->count(), 1);
    QCOMPARE(Form()->roomsTabControl->tabText(0), QStringLiteral("a&&b"));
    QCOMPARE(Form()->tabControl->currentWidget(), Form()->roomsTab);
    auto* lp_room = qobject_cast<RoomForm*>(Form()->roomsTabControl->widget(0));
    QVERIFY(lp_room);
    QCOMPARE(actionBar->GetKey(QStringLiteral("room")), QStringLiteral("a&b"));
    // Closing a room tab leaves the room named by the tab, not its title.
    m_fake.ClearReceived();
    emit Form()->roomsTabControl->tabCloseRequested(0);
    QVERIFY(m_fake.WaitFor(Server::LeaveRoomCode));
    QCOMPARE(WireReader(m_fake.Received(Server::LeaveRoomCode).first().m_payload).Str(), std::string("a&b"));
    QTRY_COMPARE(Form()->roomsTabControl->count(), 0);

    // A private message: a tab on the Chat page, in the background.
    QVERIFY(m_fake.Send("alice", Server::PrivateChatCode, WireWriter().U32(1).U32(0).Str("zoe").Str("hi").U8(1)));
    QTRY_COMPARE(Form()->chatTabControl->count(), 1);
    QCOMPARE(Form()->tabControl->currentWidget(), Form()->roomsTab);
    auto* lp_chat = qobject_cast<ChatForm*>(Form()->chatTabControl->widget(0));
    QVERIFY(lp_chat);
    QCOMPARE(lp_chat->User(), std::string("zoe"));
    // "Message User" of the set "user" brings it forward.
    actionBar->AddWidgetKey(Form()->chatTabControl, QStringLiteral("user"), QStringLiteral("zoe"));
    actionBar->RegisterWidget(Form()->chatTabControl, QStringLiteral("user"));
    mp_window->OnToolBarActionTriggered("message_user");
    QCOMPARE(Form()->chatTabControl->count(), 1);
    emit Form()->chatTabControl->tabCloseRequested(0);
    QCOMPARE(Form()->chatTabControl->count(), 0);
    QVERIFY(d.GetType("user")->GetItem("zoe")["user_chat_widget"].IsNull());

    // The Users page was set up after the load.
    d.GetType("user")->GetItem("yan").NewItem("in_user_list");
    QCOMPARE(Form()->userListForm->Form()->userList->topLevelItemCount(), 1);
}

void TestMainWindow::autojoinRoomReopensAfterRestart()
{
    Start();
    QVERIFY(LogIn());
    gp_server->EnterRoom("regulars");
    QTRY_COMPARE(Form()->roomsTabControl->count(), 1);
    QVERIFY(FocusOn(qobject_cast<RoomForm*>(Form()->roomsTabControl->widget(0))->Form()->chatEdit));
    QVERIFY(ClickBarAction(QStringLiteral("Auto-Join Room [off]")));
    bool l_onShown = false;
    for (QAction* lp_action : actionBar->actions())
        l_onShown = l_onShown || lp_action->text() == QStringLiteral("Auto-Join Room [on]");
    QVERIFY(l_onShown);
    Stop();

    // Joined again after the login, with no request of the user.
    Start(QString());
    QVERIFY(LogIn());
    QTRY_COMPARE(Form()->roomsTabControl->count(), 1);
    QCOMPARE(qobject_cast<RoomForm*>(Form()->roomsTabControl->widget(0))->Room(), std::string("regulars"));
}

// Qt's menu of tool bars let the user hide the commands with no way back;
// and the tray box says what it does, without "[Windows only]".
void TestMainWindow::toolBarsHaveNoMenuOfToolBars()
{
    Start();
    QCOMPARE(Form()->minimizeToTrayCheckBox->text(), QStringLiteral("Minimize to tray"));
    const QList<QToolBar*> l_bars = mp_window->findChildren<QToolBar*>();
    QCOMPARE(l_bars.size(), 2);
    int l_menus = 0;
    QTimer l_closer;
    connect(&l_closer, &QTimer::timeout, [&] {
        if (QWidget* lp_popup = QApplication::activePopupWidget()) {
            ++l_menus;
            lp_popup->close();
        }
    });
    l_closer.start(10);
    for (QToolBar* lp_bar : l_bars) {
        const QPoint l_at(2, 2);
        QContextMenuEvent l_event(QContextMenuEvent::Mouse, l_at, lp_bar->mapToGlobal(l_at));
        QApplication::sendEvent(lp_bar, &l_event);
        QTest::qWait(50);
    }
    QCOMPARE(l_menus, 0);
    for (QToolBar* lp_bar : l_bars)
        QVERIFY(lp_bar->isVisible());
}

// "Set Download Folder" listed files and opened in the working folder.
void TestMainWindow::downloadFolderChooserShowsFoldersFromTheCurrentOne()
{
    Start();
    QTemporaryDir l_downloads;
    Settings::Set("download_folder", l_downloads.path().toStdString());
    QString l_seen;
    QTimer::singleShot(0, [&] {
        auto* lp_chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!lp_chooser)
            return;
        const auto* lp_model = lp_chooser->findChild<QFileSystemModel*>();
        l_seen = lp_chooser->directory().absolutePath() +
                 (lp_model && !(lp_model->filter() & QDir::Files) ? ", folders only" : ", files too");
        lp_chooser->reject();
    });
    mp_window->OnToolBarActionTriggered("set_download_folder");
    QCOMPARE(l_seen, QDir(l_downloads.path()).absolutePath() + ", folders only");
    QCOMPARE(Settings::Get("download_folder"), l_downloads.path().toStdString());
}

// A click on a page tab focuses nothing in the new page by itself, and a
// closed tab that held the focus leaves no widget focused: the bar then
// stayed empty until a click inside the page. The Rooms page with no room
// open starts with its empty room-tab area, which has no commands.
void TestMainWindow::pageTabGivesTheFocusIntoThePage_data()
{
    QTest::addColumn<QString>("closed");
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<QStringList>("commands");
    const QStringList l_users{"Add User", "Configure User Groups"};
    // The results that last had the focus on the Search page.
    const QStringList l_results{"Download File", "Download Folder", "Add to Wishlist"};
    const QStringList l_roomList{"Enter Room", "Create Room", "Refresh Room List"};
    for (const char* lp_closed : {"room", "chat"}) {
        QTest::addRow("%s closed, Users", lp_closed) << lp_closed << QStringList{"Users"} << l_users;
        QTest::addRow("%s closed, Search", lp_closed) << lp_closed << QStringList{"Search"} << l_results;
    }
    // The Rooms page is the start page.
    QTest::addRow("first start, Rooms") << "nothing" << QStringList{} << l_roomList;
    // The last room left while its page shows: the room list takes over.
    QTest::addRow("room closed, stays on Rooms") << "room" << QStringList{} << l_roomList;
    QTest::addRow("room closed, Users, Rooms") << "room" << QStringList{"Users", "Rooms"} << l_roomList;
    QTest::addRow("room closed, Search, Rooms") << "room" << QStringList{"Search", "Rooms"} << l_roomList;
}

void TestMainWindow::pageTabGivesTheFocusIntoThePage()
{
    QFETCH(QString, closed);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, commands);
    Start();
    QVERIFY(LogIn());
    mp_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(mp_window.get()));

    if (closed != "nothing") {
        // The search line takes the focus when its page is chosen.
        QVERIFY(ClickPageTab("Search"));
        QLineEdit* lp_line = Form()->searchForm->Form()->searchEdit;
        QTRY_COMPARE(QApplication::focusWidget(), lp_line);
        lp_line->setText("jazz");
        QTest::keyClick(lp_line, Qt::Key_Return);
        QTRY_COMPARE(Form()->searchForm->Form()->searchTabControl->count(), 1);
        auto* lp_results = qobject_cast<SearchResultsForm*>(Form()->searchForm->Form()->searchTabControl->widget(0));
        QVERIFY(lp_results);
        QVERIFY(FocusOn(lp_results->searchResults()));
    }

    if (closed == "room") {
        d.GetType("room")->GetItem("a&b") += d.GetType("user_count")->GetItem("2");
        emit Form()->roomList->itemDoubleClicked(Form()->roomList->topLevelItem(0), 0);
        QTRY_COMPARE(Form()->roomsTabControl->count(), 1);
        QCOMPARE(Form()->tabControl->currentWidget(), Form()->roomsTab);
        QVERIFY(FocusOn(Form()->roomsTabControl->widget(0)->focusProxy()));
        QVERIFY(ClickBarAction("Leave Room"));
        QTRY_COMPARE(Form()->roomsTabControl->count(), 0);
    } else if (closed == "chat") {
        QVERIFY(m_fake.Send("alice", Server::PrivateChatCode, WireWriter().U32(1).U32(0).Str("zoe").Str("hi").U8(1)));
        QTRY_COMPARE(Form()->chatTabControl->count(), 1);
        QVERIFY(ClickPageTab("Chat"));
        QVERIFY(FocusOn(Form()->chatTabControl->widget(0)->focusProxy()));
        emit Form()->chatTabControl->tabCloseRequested(0);
        QCOMPARE(Form()->chatTabControl->count(), 0);
    }

    for (const QString& l_page : pages)
        QVERIFY(ClickPageTab(l_page));
    QTRY_VERIFY2(Form()->tabControl->currentWidget()->isAncestorOf(QApplication::focusWidget()),
                 qPrintable(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "no focus"));
    for (const QString& l_command : commands)
        QTRY_VERIFY2(BarTexts().contains(l_command), qPrintable(BarTexts().join(", ")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

void TestMainWindow::receivedListingOpensASharesTab()
{
    Start();
    FileInfoMap l_listing;
    FileInfo l_file;
    l_file.m_name = "a.mp3";
    l_listing["Music"].insert(l_file);
    l_listing["Music\\Rock"].insert(l_file);
    AttributeTranslationTable l_table;
    sharedFoldersManager->OnUserShare("alice", l_listing, l_table);

    // Stored over the next turns of the event loop.
    QTabWidget* lp_tabs = Form()->sharesForm->Form()->tabControl;
    QTRY_COMPARE(lp_tabs->count(), 1);
    QCOMPARE(lp_tabs->tabText(0), QStringLiteral("alice"));
    // Out of sight, the page is announced on the event bar until shown.
    QVERIFY(!eventToolBar->IsEmpty());
    Form()->tabControl->setCurrentWidget(Form()->sharesTab);
    QVERIFY(eventToolBar->IsEmpty());

    // The folder tree opened whole ("expand_new_shares"); its commands are
    // on the bar while it has the focus.
    QTreeWidget* lp_tree = qobject_cast<ShareForm*>(lp_tabs->widget(0))->Form()->folderTree;
    QVERIFY(lp_tree->topLevelItem(0)->isExpanded());
    QVERIFY(FocusOn(lp_tree));
    QCOMPARE(actionBar->CurrentSet(), std::string("share_folders"));
    QVERIFY(ClickBarAction(QStringLiteral("Collapse All")));
    QVERIFY(!lp_tree->topLevelItem(0)->isExpanded());
}

// A crash loses at most a few seconds of changes to the download list: the
// file on disk holds them that long after the change, while the client runs
// on (no save at exit, and the five-minute save far off).
void TestMainWindow::downloadListChangesAreSavedSoon()
{
    Start();
    const int l_delay = MainWindow::SaveAfterDownloadListChangeMs;
    const int l_waitMs = l_delay + 10000;  // generous: the client runs sanitized
    QElapsedTimer l_sinceFirst;
    l_sinceFirst.start();
    transferQueueManager->AddDownload("bob", "first.mp3", "Music", 1000, 0);
    QTest::qWait(l_delay / 2);
    ItemPtr l_second = transferQueueManager->AddDownload("bob", "second.mp3", "Music", 2000, 0);
    // Not saved before the delay; then both changes in the one save.
    if (l_sinceFirst.elapsed() < l_delay)
        QVERIFY(!SavedValues("file_name").contains("first.mp3"));
    QVERIFY(QTest::qWaitFor([] { return SavedValues("file_name").contains("second.mp3"); }, l_waitMs));
    QCOMPARE(SavedValues("file_name"), (QStringList{"first.mp3", "second.mp3"}));
    QCOMPARE(SavedValues("download_entry_status"), QStringList{"queued"});

    // A removed and a finished download.
    transferQueueManager->RemoveDownload(transferQueueManager->GetDownloadEntry("bob", "first.mp3", "Music"));
    transferQueueManager->SetDownloadEntryStatus(l_second, TransferStatus::Complete);
    QVERIFY(QTest::qWaitFor([] { return SavedValues("file_name") == QStringList{"second.mp3"}; }, l_waitMs));
    QCOMPARE(SavedValues("download_entry_status"), QStringList{"complete"});
}
