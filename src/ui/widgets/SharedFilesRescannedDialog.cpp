#include "ui/widgets/SharedFilesRescannedDialog.h"

#include "ui_SharedFilesRescannedDialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui::SharedFilesRescannedDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

SharedFilesRescannedDialog::~SharedFilesRescannedDialog()
{
    delete ui;
}

void SharedFilesRescannedDialog::Append(QString i_text)
{
    ui->plainTextEdit->appendPlainText(i_text);
}

SharedFilesRescannedDialog* SharedFilesRescannedDialog::ShowReport(QWidget* ip_parent, int i_filesAdded,
                                                                   int i_filesRemoved)
{
    auto* lp_dialog = new SharedFilesRescannedDialog(ip_parent);
    lp_dialog->Append(QString("%1 files added.").arg(i_filesAdded));
    lp_dialog->Append(QString("%1 files removed.").arg(i_filesRemoved));
    lp_dialog->setWindowTitle("Shared Files Rescanned");
    lp_dialog->show();
    return lp_dialog;
}
