#include "SocialTestWorld.h"

#include "WireBytes.h"

#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/EventToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/social/RoomForm.h"
#include "ui/social/SocialPages.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

SocialTestWindow::SocialTestWindow()
{
    auto* lp_central = new QWidget(this);
    auto* lp_layout = new QHBoxLayout(lp_central);
    mp_roomTabs = new QTabWidget(lp_central);
    mp_chatTabs = new QTabWidget(lp_central);
    mp_chatTabs->setTabsClosable(true);
    lp_layout->addWidget(mp_roomTabs);
    lp_layout->addWidget(mp_chatTabs);
    setCentralWidget(lp_central);
    gp_frameWindow = this;
}

SocialTestWindow::~SocialTestWindow()
{
    gp_frameWindow = nullptr;
}

FakeCentralServer& SocialTestWorld::Fake()
{
    static FakeCentralServer s_fake;
    if (!s_fake.Port())
        s_fake.Start();
    return s_fake;
}

SocialTestWorld::SocialTestWorld(const QString& i_dataFile)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_transfers = std::make_unique<TransfersTestWorld>(false);
    d.NewType("user_chat_widget", true, false, true)->RelateToType(d.GetType("user"), One, One, false);
    mp_bar = std::make_unique<ActionSetToolBar>();
    mp_bar->AddSetAction("room", "leave_room", "Leave Room", ":/icons/room_icon", false);
    mp_bar->AddSetAction("room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false);
    mp_sizes = std::make_unique<SizeManager>();
    mp_window = std::make_unique<SocialTestWindow>();
    mp_events = new EventToolBar(mp_window.get());
    mp_window->addToolBar(mp_events);
    mp_pages = new SocialPages(mp_window->mp_roomTabs, mp_window->mp_chatTabs, mp_window.get());
    mp_pages->WatchRooms();
    QObject::connect(&Link(), &Server::PrivateChat, mp_pages, &SocialPages::OnPrivateChat);
    QObject::connect(mp_window->mp_chatTabs, &QTabWidget::tabCloseRequested, mp_pages, &SocialPages::OnChatTabClosed);
    Link().SetServerAddress("127.0.0.1", Fake().Port());
    Link().SetAttemptTimeouts(3000, 3000);
    if (i_dataFile.isEmpty())
        mp_transfers->Peer().Load();
    else
        mp_transfers->Load(i_dataFile);
    Settings::Set("username", "me");
    Settings::Set("password", "secret");
    mp_window->resize(1000, 500);
    mp_window->show();
    if (!QTest::qWaitForWindowExposed(mp_window.get()))
        qWarning("the test window was not exposed");
}

SocialTestWorld::~SocialTestWorld()
{
    Link().Disconnect();
    // As at the program's end: the bars stop following the focus first.
    g_showIsOver = true;
    mp_window.reset();
    mp_sizes.reset();
    mp_bar.reset();
    mp_transfers.reset();
    Fake().ClearReceived();
    Fake().AcceptLogins();
    g_showIsOver = false;
}

Server& SocialTestWorld::Link()
{
    return mp_transfers->Peer().Link();
}

bool SocialTestWorld::LogIn()
{
    Link().Connect();
    return QTest::qWaitFor([this] { return Link().IsConnected() && Fake().IsLoggedIn("me"); }, 5000);
}

RoomForm* SocialTestWorld::Join(const std::string& i_room)
{
    Link().EnterRoom(i_room);
    RoomForm* lp_form = nullptr;
    if (!QTest::qWaitFor([&] { return (lp_form = RoomTab(i_room)) != nullptr; }, 5000))
        return nullptr;
    return lp_form;
}

RoomForm* SocialTestWorld::RoomTab(const std::string& i_room) const
{
    for (int l_index = 0; l_index < mp_window->mp_roomTabs->count(); ++l_index) {
        RoomForm* lp_form = mp_pages->RoomFormAt(l_index);
        if (lp_form && lp_form->Room() == i_room)
            return lp_form;
    }
    return nullptr;
}

bool SocialTestWorld::Send(quint32 i_code, const QByteArray& i_payload)
{
    return Fake().Send("me", i_code, i_payload);
}

bool SocialTestWorld::SayInRoom(const std::string& i_room, const std::string& i_user, const std::string& i_text)
{
    return Send(Server::RoomChatCode, WireWriter().Str(i_room).Str(i_user).Str(i_text));
}

bool SocialTestWorld::SayPrivately(const std::string& i_user, const std::string& i_text)
{
    static quint32 s_id = 1000;
    return Send(Server::PrivateChatCode, WireWriter().U32(s_id++).U32(0).Str(i_user).Str(i_text).U8(1));
}

void SocialTestWorld::HalfMinuteTick()
{
    QMetaObject::invokeMethod(&timerManager->m_everyHalfMinute, "timeout", Qt::DirectConnection);
}

QStringList SocialTestWorld::Lines(const QTextBrowser* ip_view)
{
    QStringList l_lines;
    for (QTextBlock l_block = ip_view->document()->begin(); l_block.isValid(); l_block = l_block.next())
        l_lines << l_block.text();
    if (l_lines.size() == 1 && l_lines.first().isEmpty())
        l_lines.clear();
    return l_lines;
}

QString SocialTestWorld::LastLine(const QTextBrowser* ip_view)
{
    const QStringList l_lines = Lines(ip_view);
    return l_lines.isEmpty() ? QString() : l_lines.last();
}

QStringList SocialTestWorld::Rows(const QTreeWidget* ip_tree)
{
    QStringList l_rows;
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index) {
        QStringList l_texts;
        const QTreeWidgetItem* lp_row = ip_tree->topLevelItem(l_index);
        for (int l_column = 0; l_column < ip_tree->columnCount(); ++l_column) {
            if (!lp_row->text(l_column).isEmpty())
                l_texts << lp_row->text(l_column);
        }
        l_rows << l_texts.join(QStringLiteral(" | "));
    }
    return l_rows;
}

QStringList SocialTestWorld::BarTexts()
{
    QStringList l_texts;
    for (QAction* lp_action : actionBar->actions()) {
        if (!lp_action->text().isEmpty())
            l_texts << lp_action->text();
    }
    return l_texts;
}

bool SocialTestWorld::FocusOn(QWidget* ip_widget)
{
    mp_window->activateWindow();
    if (QWidget* lp_old = QApplication::focusWidget())
        lp_old->clearFocus();
    ip_widget->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([ip_widget] { return ip_widget->hasFocus(); }, 2000);
}

QStringList RunPopup(const std::function<void()>& i_open, const QString& i_choose)
{
    QStringList l_entries;
    QTimer l_reader;
    QObject::connect(&l_reader, &QTimer::timeout, [&] {
        auto* lp_menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!lp_menu)
            return;
        l_reader.stop();
        QAction* lp_chosen = nullptr;
        for (QAction* lp_action : lp_menu->actions()) {
            l_entries << (lp_action->isSeparator() ? QStringLiteral("-") : lp_action->text());
            if (!i_choose.isEmpty() && lp_action->text() == i_choose)
                lp_chosen = lp_action;
        }
        if (lp_chosen)
            lp_menu->setActiveAction(lp_chosen);
        lp_menu->close();
        if (lp_chosen)
            lp_chosen->trigger();
    });
    l_reader.start(10);
    i_open();
    return l_entries;
}
