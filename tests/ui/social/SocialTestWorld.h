#pragma once

// The rooms, chats and user lists in a test: the transfer manager's test
// world (store, timers, data saver, server link, peer layer, shares,
// transfers), a fake central server the link logs in to, the two tool bars
// and the remembered sizes, and a stand-in for the main window with the
// Rooms and Chat tab controls that the social pages fill. The data-loaded
// step has run.

#include "FakeCentralServer.h"
#include "TransfersTestWorld.h"

#include "ui/frame/FrameWindow.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>
#include <string>

class ActionSetToolBar;
class EventToolBar;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class RoomForm;
class Server;
class SizeManager;
class SocialPages;

// The window the social pages reach through the frame.
class SocialTestWindow : public QMainWindow, public FrameWindow
{
public:
    SocialTestWindow();
    ~SocialTestWindow() override;

    QWidget* Widget() override { return this; }
    bool IsActive() const override { return isActiveWindow(); }
    void SetApplicationIcon(const QString&) override {}
    void ResetApplicationIcon() override {}

    QTabWidget* mp_roomTabs;
    QTabWidget* mp_chatTabs;
};

class SocialTestWorld
{
public:
    // i_dataFile: a data file to load (none when empty).
    explicit SocialTestWorld(const QString& i_dataFile = QString());
    ~SocialTestWorld();
    SocialTestWorld(const SocialTestWorld&) = delete;
    SocialTestWorld& operator=(const SocialTestWorld&) = delete;

    static FakeCentralServer& Fake();
    Server& Link();
    TransfersTestWorld& Transfers() { return *mp_transfers; }
    SocialTestWindow& Window() { return *mp_window; }
    SocialPages& Pages() { return *mp_pages; }
    QTabWidget& RoomTabs() { return *mp_window->mp_roomTabs; }
    QTabWidget& ChatTabs() { return *mp_window->mp_chatTabs; }
    void Save(const QString& i_dataFile) { mp_transfers->Save(i_dataFile); }

    // Logs in as "me" and waits for it.
    bool LogIn();
    // Joins the room through the server and waits for its tab.
    RoomForm* Join(const std::string& i_room);
    RoomForm* RoomTab(const std::string& i_room) const;
    // Sends the client one server message as the fake server.
    static bool Send(quint32 i_code, const QByteArray& i_payload);
    // A line said in a room by another user, as the server relays it.
    static bool SayInRoom(const std::string& i_room, const std::string& i_user, const std::string& i_text);
    // A private message from another user, as the server delivers it.
    static bool SayPrivately(const std::string& i_user, const std::string& i_text);

    // The timer service's half-minute tick (the link's retries).
    static void HalfMinuteTick();
    // A chat view's paragraphs as the user reads them.
    static QStringList Lines(const QTextBrowser* ip_view);
    // The last of them, empty when there is none.
    static QString LastLine(const QTextBrowser* ip_view);
    // The rows of a flat tree, the non-empty texts of each joined by " | ".
    static QStringList Rows(const QTreeWidget* ip_tree);
    // The buttons the action bar shows now.
    static QStringList BarTexts();
    // Focus moves away and then to the widget, so the bar sees a change.
    bool FocusOn(QWidget* ip_widget);

private:
    std::unique_ptr<TransfersTestWorld> mp_transfers;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<SocialTestWindow> mp_window;
    EventToolBar* mp_events = nullptr;
    SocialPages* mp_pages = nullptr;
};

// Runs the popup menu that the call opens, reads its entries ("-" for a
// separator), then chooses the entry of that text (none when empty) or
// closes it. Empty when no menu opened.
QStringList RunPopup(const std::function<void()>& i_open, const QString& i_choose = QString());
