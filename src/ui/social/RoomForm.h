#pragma once

#include "core/store/Events.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <string>
#include <unordered_map>

class Item;
class QRoomUserListItemWidget;

namespace Ui {
class RoomForm;
}

// The tab of one room the user is in: its chat, the input line under it and
// the member list beside it. The window makes it when the room gets its
// "in_room" link; it deletes itself when the room loses that link, and the
// tab control drops the page.
//
// Member rows follow the room's "user" connections in the store; chat lines
// live only in the view, which holds at most ChatCharacterLimit characters
// of text: past that, the oldest lines go, at least TrimCharacters at a
// time, so that a busy room neither grows without end nor rebuilds the view
// for every line. Lines typed while the link is not logged in stay in the
// input line and a status line says they were not sent.
class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    static constexpr int ChatCharacterLimit = 250000;
    static constexpr int TrimCharacters = 50000;

    RoomForm(std::string i_room, QWidget* ip_parent = nullptr);
    ~RoomForm() override;

    // Remembered sizes; once the page is in its tab control.
    void Init();

    const std::string& Room() const { return m_room; }
    Ui::RoomForm* Form() const { return ui; }
    // How often the chat view dropped its oldest lines.
    int TrimCount() const { return m_trimCount; }

    void AddStatusMessage(const QString& i_message);

    // Store handlers (public: the store calls them through handlers).
    void OnUserAdded(Item* ip_user);
    void OnUserRemoved(Item* ip_user);
    void OnLeftRoom(Item* ip_room);
    void OnRoomAutojoinOn(Item* ip_room);
    void OnRoomAutojoinOff(Item* ip_room);

public slots:
    void OnRoomChat(std::string i_room, std::string i_user, std::string i_text);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnUserListContextMenuRequested(QPoint i_point);

private:
    void Subscribe();
    void SetAutojoinText(bool i_on);
    // Drops the oldest lines while the view holds more than the limit.
    void TrimChat();

    Ui::RoomForm* ui;
    std::string m_room;
    // The member rows by user name: a busy room's join answer and every
    // figure it brings find their row without a walk over the list.
    std::unordered_map<std::string, QRoomUserListItemWidget*> m_rows;
    // A logged-in link was there since the last "Disconnected." line: failed
    // attempts to log in again add no further line.
    bool m_linkUp = false;
    int m_trimCount = 0;
};
