#include "ui/social/UserGroupConfigDialog.h"

#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "ui/widgets/UIFunctions.h"
#include "ui_UserGroupConfigDialog.h"

UserGroupConfigDialog* userGroupConfigDialog = nullptr;

namespace {

ItemPtr GroupOf(const QListWidgetItem* ip_row)
{
    return d.GetType("user_list_group")->GetItem(ToLatin1Text(ip_row->text()));
}

}  // namespace

UserGroupConfigDialog::UserGroupConfigDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui::UserGroupConfigDialog)
{
    userGroupConfigDialog = this;
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(ui->groupList, &QListWidget::currentItemChanged, this, &UserGroupConfigDialog::OnCurrentGroupItemChanged);
    connect(ui->prioritySpinBox, &QSpinBox::valueChanged, this, &UserGroupConfigDialog::OnPrioritySpinValueChanged);
    Type* lp_groups = d.GetType("user_list_group");
    lp_groups->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&UserGroupConfigDialog::OnUserGroupAdded));
    lp_groups->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&UserGroupConfigDialog::OnUserGroupRemoved));
    for (ItemPtr l_group : lp_groups->GetItems())
        OnUserGroupAdded(l_group);
    ui->prioritySpinBox->setEnabled(false);
    // The dialog opens with no group chosen. An item view that takes the
    // focus with no current row makes its first row current, unless a
    // current row (none included) was set on it; the arrow keys still
    // choose from the first row on.
    ui->groupList->setCurrentIndex(QModelIndex());
    ui->groupList->setFocus(Qt::OtherFocusReason);
}

UserGroupConfigDialog::~UserGroupConfigDialog()
{
    delete ui;
    if (userGroupConfigDialog == this)
        userGroupConfigDialog = nullptr;
}

void UserGroupConfigDialog::OnCurrentGroupItemChanged(QListWidgetItem* ip_currentItem, QListWidgetItem*)
{
    if (!ip_currentItem) {
        ui->prioritySpinBox->setEnabled(false);
        ui->groupBox->setTitle(QString());
        return;
    }
    ui->prioritySpinBox->setEnabled(true);
    ui->groupBox->setTitle(LiteralLabel(ip_currentItem->text()));
    ui->prioritySpinBox->setValue(GroupOf(ip_currentItem)["group_download_priority"].AsInt());
}

// Groups of one priority share its item; 0 is no priority item at all.
void UserGroupConfigDialog::OnPrioritySpinValueChanged(int i_value)
{
    QListWidgetItem* lp_current = ui->groupList->currentItem();
    if (!lp_current)
        return;
    const ItemPtr l_group = GroupOf(lp_current);
    if (i_value <= 0)
        l_group.Disconnect("group_download_priority");
    else
        l_group += d.GetType("group_download_priority")->GetItem(Value(i_value));
}

void UserGroupConfigDialog::OnUserGroupAdded(Item* ip_group)
{
    ui->groupList->addItem(FromLatin1Text(ip_group->m_value));
}

void UserGroupConfigDialog::OnUserGroupRemoved(Item* ip_group)
{
    const QList<QListWidgetItem*> l_rows =
        ui->groupList->findItems(FromLatin1Text(ip_group->m_value), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (!l_rows.isEmpty())
        delete l_rows.first();
}
