#include "ui/social/RoomForm.h"

#include "core/store/Data.h"
#include "core/store/PathNode.h"
#include "core/util/GeneralFunctions.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/social/QRoomUserListItemWidget.h"
#include "ui/social/SocialResources.h"
#include "ui/social/SocialText.h"
#include "ui/social/UserMenuOptions.h"
#include "ui/widgets/ColumnWidths.h"
#include "ui_RoomForm.h"

#include <QHeaderView>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>

RoomForm::RoomForm(std::string i_room, QWidget* ip_parent)
    : QWidget(ip_parent), ui(new Ui::RoomForm), m_room(std::move(i_room))
{
    InitSocialResources();
    ui->setupUi(this);
    SetUpChatView(ui->chatView);
    connect(ui->chatEdit, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    connect(ui->userList, &QWidget::customContextMenuRequested, this, &RoomForm::OnUserListContextMenuRequested);

    QTreeWidget* lp_list = ui->userList;
    lp_list->setHeaderLabels({QString(), QString(), tr("User"), tr("Files"), tr("K/s")});
    lp_list->sortByColumn(QRoomUserListItemWidget::NameColumn, Qt::AscendingOrder);
    int l_column = 0;
    for (int l_width : {20, 25, 90, 50, 40})
        lp_list->setColumnWidth(l_column++, l_width);
    WidenColumnToShow(lp_list, QRoomUserListItemWidget::FilesColumn, TypicalText::Count());
    WidenColumnToShow(lp_list, QRoomUserListItemWidget::SpeedColumn, TypicalText::Speed());
    lp_list->header()->setStretchLastSection(true);
    // Every row is one line: a join of thousands need not measure each.
    lp_list->setUniformRowHeights(true);

    // The member pane holds every column whole beside the scroll bar that a
    // busy room brings, however wide the font made them.
    const int l_memberPane = lp_list->header()->length() + 2 * lp_list->frameWidth() +
                             lp_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, lp_list);
    ui->splitter->setSizes({280, std::max(250, l_memberPane)});
    ui->splitter->setStretchFactor(0, 1);
    ui->splitter->setStretchFactor(1, 0);

    Subscribe();
    m_linkUp = gp_server && gp_server->IsConnected();
    if (gp_server) {
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }
    if (actionBar) {
        actionBar->RegisterWidget(this, QStringLiteral("room"));
        actionBar->AddWidgetKey(this, QStringLiteral("room"), FromLatin1Text(m_room));
    }
    SetAutojoinText(d.GetType("room")->GetItem(m_room).IsConnected("room_autojoin"));
    setFocusProxy(ui->chatEdit);
}

RoomForm::~RoomForm()
{
    delete ui;
}

// A member is shown once the server link has given it its three figures
// and connected it to the room, whichever comes last.
void RoomForm::Subscribe()
{
    Item* lp_room = d.GetType("room")->GetItem(m_room).Get();

    auto* lp_shown = new PathNode(&d, "user");
    new PathNode(lp_shown, lp_room, Connected);
    for (const char* lp_figure : {"average_download_speed", "shared_files_count", "country_code"})
        new PathNode(lp_shown, lp_figure, Connected);
    d.AddPathEventHandler(lp_shown, MakeHandler(&RoomForm::OnUserAdded));

    auto* lp_left = new PathNode(&d, "user");
    new PathNode(lp_left, lp_room, NewlyDisconnected);
    d.AddPathEventHandler(lp_left, MakeHandler(&RoomForm::OnUserRemoved));

    auto* lp_membership = new PathNode(lp_room);
    new PathNode(lp_membership, "in_room", NewlyDisconnected);
    d.AddPathEventHandler(lp_membership, MakeHandler(&RoomForm::OnLeftRoom));

    auto* lp_autojoinOn = new PathNode(lp_room);
    new PathNode(lp_autojoinOn, "room_autojoin", NewlyConnected);
    d.AddPathEventHandler(lp_autojoinOn, MakeHandler(&RoomForm::OnRoomAutojoinOn));
    auto* lp_autojoinOff = new PathNode(lp_room);
    new PathNode(lp_autojoinOff, "room_autojoin", NewlyDisconnected);
    d.AddPathEventHandler(lp_autojoinOff, MakeHandler(&RoomForm::OnRoomAutojoinOff));
}

void RoomForm::Init()
{
    if (!sizeManager)
        return;
    sizeManager->RegisterSplitter(QStringLiteral("room_splitter"), ui->splitter, {});
    sizeManager->RegisterTreeWidget(QStringLiteral("room_user_list"), ui->userList);
}

// A row once made keeps its figures: later changes of them do not reach it.
void RoomForm::OnUserAdded(Item* ip_user)
{
    const ItemPtr l_user(ip_user);
    auto [l_slot, l_new] = m_rows.try_emplace(l_user->m_value, nullptr);
    if (!l_new)
        return;
    auto* lp_row = new QRoomUserListItemWidget(ui->userList);
    lp_row->SetMember(FromLatin1Text(l_user->m_value), FromLatin1Text(l_user["country_code"].AsString()),
                      l_user["shared_files_count"].AsInt(), l_user["average_download_speed"].AsInt());
    l_slot->second = lp_row;
}

void RoomForm::OnUserRemoved(Item* ip_user)
{
    const auto l_row = m_rows.find(ip_user->m_value);
    if (l_row == m_rows.end())
        return;
    delete l_row->second;
    m_rows.erase(l_row);
}

// The server confirmed the leave: the tab goes (the store drops this
// form's handlers lazily, so deleting it here is safe).
void RoomForm::OnLeftRoom(Item*)
{
    delete this;
}

void RoomForm::OnRoomAutojoinOn(Item*)
{
    SetAutojoinText(true);
}

void RoomForm::OnRoomAutojoinOff(Item*)
{
    SetAutojoinText(false);
}

void RoomForm::SetAutojoinText(bool i_on)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, QStringLiteral("toggle_room_autojoin"),
                                       i_on ? tr("Auto-Join Room [on]") : tr("Auto-Join Room [off]"));
}

// Every room's lines reach every tab; names compare byte for byte.
void RoomForm::OnRoomChat(std::string i_room, std::string i_user, std::string i_text)
{
    if (i_room != m_room)
        return;
    TrimChat();
    ui->chatView->append(ChatLineHtml(i_user, i_text));
}

void RoomForm::TrimChat()
{
    QTextDocument* lp_document = ui->chatView->document();
    if (lp_document->characterCount() <= ChatCharacterLimit)
        return;
    QTextBlock l_block = lp_document->begin();
    int l_dropped = 0;
    while (l_block.isValid() && l_dropped < TrimCharacters) {
        l_dropped += l_block.length();
        l_block = l_block.next();
    }
    QTextCursor l_cursor(lp_document);
    l_cursor.setPosition(0);
    if (l_block.isValid())
        l_cursor.setPosition(l_block.position(), QTextCursor::KeepAnchor);
    else
        l_cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    l_cursor.removeSelectedText();
    ++m_trimCount;
}

void RoomForm::AddStatusMessage(const QString& i_message)
{
    ui->chatView->append(StatusLineHtml(i_message));
}

// The line shows up when the server relays it back; a line that cannot go
// stays where it was typed.
void RoomForm::OnEnterPressed()
{
    const QString l_text = ui->chatEdit->text();
    if (l_text.isEmpty())
        return;
    if (!gp_server || !gp_server->IsConnected()) {
        AddStatusMessage(tr("Not connected. Message not sent."));
        return;
    }
    gp_server->SendRoomChat(m_room, l_text.toUtf8().toStdString());
    ui->chatEdit->clear();
}

void RoomForm::OnConnected()
{
    m_linkUp = true;
    AddStatusMessage(tr("Reconnected."));
    gp_server->EnterRoom(m_room);
}

// The link also reports failed attempts to log in again: only the loss of
// a logged-in link is worth a line.
void RoomForm::OnDisconnected()
{
    if (!m_linkUp)
        return;
    m_linkUp = false;
    AddStatusMessage(tr("Disconnected."));
}

void RoomForm::OnUserListContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* lp_row = ui->userList->itemAt(i_point);
    if (!lp_row)
        return;
    RunUserMenu(ui->userList, i_point, ToLatin1Text(lp_row->text(QRoomUserListItemWidget::NameColumn)));
}
