#include "ui/social/ChatForm.h"

#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "server/Server.h"
#include "ui/frame/EventToolBar.h"
#include "ui/social/SocialText.h"
#include "ui/widgets/UIFunctions.h"
#include "ui_ChatForm.h"

ChatForm::ChatForm(std::string i_user, QWidget* ip_parent)
    : QWidget(ip_parent), ui(new Ui::ChatForm), m_user(std::move(i_user))
{
    ui->setupUi(this);
    SetUpChatView(ui->chatView);
    connect(ui->chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    setFocusProxy(ui->chatEdit);
    d.GetType("user")->GetItem(m_user) += d.GetType("user_chat_widget")->GetItem(Value(this));
}

ChatForm::~ChatForm()
{
    delete ui;
    Type* lp_type = d.HasType("user_chat_widget");
    if (ItemPtr l_item = lp_type ? lp_type->HasItem(Value(this)) : ItemPtr())
        l_item.Remove();
}

void ChatForm::AddChat(const std::string& i_text)
{
    ui->chatView->append(ChatLineHtml(m_user, i_text));
    if (eventToolBar)
        eventToolBar->AddEvent(FromLatin1Text(m_user), QStringLiteral(":/icons/chat_icon"), ui->chatEdit);
}

void ChatForm::Focus()
{
    FocusWidget(ui->chatEdit);
}

void ChatForm::OnEnter()
{
    const QString l_text = ui->chatEdit->text();
    if (l_text.isEmpty())
        return;
    if (!gp_server || !gp_server->IsConnected()) {
        ui->chatView->append(StatusLineHtml(tr("Not connected. Message not sent.")));
        return;
    }
    const std::string l_bytes = l_text.toUtf8().toStdString();
    ui->chatView->append(ChatLineHtml(Settings::Get("username"), l_bytes));
    gp_server->SendPrivateChat(m_user, l_bytes);
    ui->chatEdit->clear();
}

void ChatForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(ui->chatEdit);
}
