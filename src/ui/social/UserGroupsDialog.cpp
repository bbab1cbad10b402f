#include "ui/social/UserGroupsDialog.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "ui/social/SocialText.h"
#include "ui_UserGroupsDialog.h"

#include <QMessageBox>
#include <QSignalBlocker>

UserGroupsDialog::UserGroupsDialog(std::string i_user, QWidget* ip_parent)
    : QDialog(ip_parent), m_user(std::move(i_user)), ui(new Ui::UserGroupsDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->newGroupButton, &QPushButton::clicked, this, &UserGroupsDialog::OnNewGroupButtonClicked);
    d.GetType("user_list_group")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&UserGroupsDialog::OnUserGroupAdded));
    setWindowTitle(tr("User Groups for [%1]").arg(FromLatin1Text(m_user)));

    const ItemPtr l_membership = d.GetType("user")->GetItem(m_user)["in_user_list"];
    for (ItemPtr l_group : d.GetType("user_list_group")->GetItems())
        AddRow(l_group->m_value, l_membership && l_membership.IsConnected(l_group));
    connect(ui->groupListWidget, &QListWidget::itemChanged, this, &UserGroupsDialog::OnGroupItemChanged);
    ui->groupListWidget->setFocus(Qt::OtherFocusReason);
}

UserGroupsDialog::~UserGroupsDialog()
{
    delete ui;
}

void UserGroupsDialog::AddRow(const std::string& i_group, bool i_checked)
{
    const QSignalBlocker l_blocker(ui->groupListWidget);
    auto* lp_row = new QListWidgetItem(FromLatin1Text(i_group));
    lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
    lp_row->setCheckState(i_checked ? Qt::Checked : Qt::Unchecked);
    ui->groupListWidget->addItem(lp_row);
}

void UserGroupsDialog::OnGroupItemChanged(QListWidgetItem* ip_item)
{
    const Qt::CheckState l_state = ip_item->checkState();
    if (l_state == Qt::PartiallyChecked || ip_item->text().isEmpty())
        return;
    const ItemPtr l_membership = d.GetType("user")->GetItem(m_user)["in_user_list"];
    const ItemPtr l_group = d.GetType("user_list_group")->GetItem(ToLatin1Text(ip_item->text()));
    if (!l_membership) {
        // A user off the list belongs to no group: the row says so again.
        const QSignalBlocker l_blocker(ui->groupListWidget);
        ip_item->setCheckState(Qt::Unchecked);
        return;
    }
    const bool l_member = l_membership.IsConnected(l_group);
    if (l_state == Qt::Checked && !l_member)
        l_membership += l_group;
    else if (l_state == Qt::Unchecked && l_member)
        l_membership -= l_group;
}

// An existing name changes nothing; the new group is listed by the store
// event, here and in every other open dialog.
void UserGroupsDialog::OnNewGroupButtonClicked()
{
    const QString l_name = ui->newGroupEdit->text().trimmed();
    if (!FitsLatin1(l_name)) {
        QMessageBox::information(this, tr("Create New Group"),
                                 tr("A group name may hold only Latin-1 characters: \"%1\" was not created.")
                                     .arg(l_name));
        return;
    }
    ui->newGroupEdit->clear();
    if (l_name.isEmpty())
        return;
    d.GetType("user_list_group")->GetItem(ToLatin1Text(l_name));
}

void UserGroupsDialog::OnUserGroupAdded(Item* ip_group)
{
    AddRow(ip_group->m_value, false);
}
