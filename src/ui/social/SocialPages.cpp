#include "ui/social/SocialPages.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "ui/frame/FrameWindow.h"
#include "ui/social/ChatForm.h"
#include "ui/social/RoomForm.h"
#include "ui/widgets/UIFunctions.h"

#include <QTabWidget>

SocialPages* gp_socialPages = nullptr;

SocialPages::SocialPages(QTabWidget* ip_roomTabs, QTabWidget* ip_chatTabs, QObject* ip_parent)
    : QObject(ip_parent), mp_roomTabs(ip_roomTabs), mp_chatTabs(ip_chatTabs)
{
    gp_socialPages = this;
}

SocialPages::~SocialPages()
{
    if (gp_socialPages == this)
        gp_socialPages = nullptr;
}

void SocialPages::WatchRooms()
{
    d.AddConnectionEventHandler(d.GetType("room"), d.GetType("in_room"), MakeHandler(&SocialPages::OnEnteredRoom));
}

// The tab removes itself when the room loses its "in_room" link, so a room
// that gets the link has no tab.
void SocialPages::OnEnteredRoom(ConnectionInfo& i_info)
{
    const std::string& l_room = i_info.mp_item1->m_value;
    auto* lp_form = new RoomForm(l_room);
    mp_roomTabs->addTab(lp_form, LiteralLabel(FromLatin1Text(l_room)));
    lp_form->Init();
    FocusWidget(lp_form);
}

ChatForm* SocialPages::GetChatForm(const std::string& i_user)
{
    const ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (ItemPtr l_tab = l_user["user_chat_widget"])
        return l_tab.AsObject<ChatForm>();
    auto* lp_form = new ChatForm(i_user, gp_frameWindow ? gp_frameWindow->Widget() : nullptr);
    mp_chatTabs->addTab(lp_form, LiteralLabel(FromLatin1Text(i_user)));
    return lp_form;
}

void SocialPages::OpenChatForm(const std::string& i_user)
{
    FocusWidgetAndParents(GetChatForm(i_user));
}

RoomForm* SocialPages::RoomFormAt(int i_index) const
{
    return qobject_cast<RoomForm*>(mp_roomTabs->widget(i_index));
}

void SocialPages::OnPrivateChat(std::string i_user, std::string i_chat, time_t, bool)
{
    GetChatForm(i_user)->AddChat(i_chat);
}

// The tab knows its user: its title is for reading only. The tab leaves the
// control at once; the form goes once the close request has returned.
void SocialPages::OnChatTabClosed(int i_index)
{
    auto* lp_form = qobject_cast<ChatForm*>(mp_chatTabs->widget(i_index));
    if (!lp_form)
        return;
    if (ItemPtr l_item = d.GetType("user_chat_widget")->HasItem(Value(lp_form)))
        l_item.Remove();
    mp_chatTabs->removeTab(i_index);
    lp_form->deleteLater();
}
