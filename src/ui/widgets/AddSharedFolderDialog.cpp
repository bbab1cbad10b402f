#include "ui/widgets/AddSharedFolderDialog.h"

#include "ui_AddSharedFolderDialog.h"

#include "core/store/Data.h"
#include "ui/widgets/UIFunctions.h"

#include <QFileDialog>

AddSharedFolderDialog::AddSharedFolderDialog(QWidget* ip_parent) : QDialog(ip_parent), ui(new Ui::AddSharedFolderDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    // Group names are Latin-1 in the store; they go back the same way on OK.
    for (Item* lp_group : d.GetType("user_list_group")->GetItems()) {
        auto* lp_row = new QListWidgetItem(QString::fromLatin1(lp_group->m_value), ui->groupsListWidget);
        lp_row->setFlags(lp_row->flags() | Qt::ItemIsUserCheckable);
        lp_row->setCheckState(Qt::Unchecked);
    }

    // Connected only now, so that the form's initial states run no handler.
    connect(ui->pushButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(ui->everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(ui->userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);
}

AddSharedFolderDialog::~AddSharedFolderDialog()
{
    delete ui;
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    QFileDialog l_chooser(this, "Select Folder to Share");
    // Folders only, opened at the folder already entered or the home folder.
    SetUpFolderChooser(l_chooser, ui->selectedFolderEdit->text());
    if (l_chooser.exec() != QDialog::Accepted)
        return;
    const QStringList l_chosen = l_chooser.selectedFiles();
    if (!l_chosen.isEmpty() && !l_chosen.first().isEmpty())
        ui->selectedFolderEdit->setText(l_chosen.first());
}

void AddSharedFolderDialog::accept()
{
    const QString l_folder = ui->selectedFolderEdit->text();
    if (l_folder.isEmpty())
        return;
    ShareFolder(l_folder);
    QDialog::accept();
}

void AddSharedFolderDialog::ShareFolder(const QString& i_folder)
{
    // A new folder is indexed by the shares service as soon as its item
    // exists; one already shared is only given the marks.
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(i_folder.toUtf8().toStdString());
    if (ui->everyoneCheckBox->isChecked()) {
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
    } else if (ui->userListCheckBox->isChecked()) {
        l_share += d.GetType("shared_userlist")->GetGlobalNullItem();
    } else {
        for (int l_row = 0; l_row < ui->groupsListWidget->count(); ++l_row) {
            const QListWidgetItem* lp_row = ui->groupsListWidget->item(l_row);
            if (lp_row->checkState() == Qt::Checked)
                l_share += d.GetType("user_list_group")->GetItem(lp_row->text().toLatin1().toStdString());
        }
    }
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked) {
        ui->userListCheckBox->setEnabled(false);
        ui->userListCheckBox->setChecked(true);
        ui->groupsListWidget->setEnabled(false);
    } else if (i_checkState == Qt::Unchecked) {
        ui->userListCheckBox->setEnabled(true);
        ui->groupsListWidget->setEnabled(!ui->userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked)
        ui->groupsListWidget->setEnabled(false);
    else if (i_checkState == Qt::Unchecked)
        ui->groupsListWidget->setEnabled(true);
}
