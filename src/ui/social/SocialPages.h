#pragma once

#include "core/store/Events.h"

#include <QObject>

#include <ctime>
#include <string>

class ChatForm;
class QTabWidget;
class RoomForm;

// The main window's rooms and private chats: a tab in the Rooms page for
// every room the server lets the user into, a tab in the Chat page for
// every user a conversation is open with. The window owns this object,
// hands it its two tab controls and forwards the start-up steps and close
// requests to it; the user menu reaches it through `gp_socialPages`.
class SocialPages : public QObject, public DataHandler
{
    Q_OBJECT

public:
    SocialPages(QTabWidget* ip_roomTabs, QTabWidget* ip_chatTabs, QObject* ip_parent = nullptr);
    ~SocialPages() override;

    // Opens a room's tab whenever the room gets its "in_room" link; once,
    // after the server link declared its types.
    void WatchRooms();
    void OnEnteredRoom(ConnectionInfo& i_info);

    // The user's chat tab, made (in the background) when there is none.
    ChatForm* GetChatForm(const std::string& i_user);
    // The same, brought to the front.
    void OpenChatForm(const std::string& i_user);
    // The room tab at that index of the Rooms page, or null.
    RoomForm* RoomFormAt(int i_index) const;

public slots:
    void OnPrivateChat(std::string i_user, std::string i_chat, time_t i_time, bool i_spontaneous);
    void OnChatTabClosed(int i_index);

private:
    QTabWidget* mp_roomTabs;
    QTabWidget* mp_chatTabs;
};

extern SocialPages* gp_socialPages;
