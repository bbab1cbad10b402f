#include "ui/frame/ChangeListeningPortDialog.h"

#include "core/persist/Settings.h"
#include "core/store/Value.h"
#include "core/util/GeneralFunctions.h"
#include "ui/frame/DialogKeyboard.h"

#include "ui_ChangeListeningPortDialog.h"

#include <QMessageBox>

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* ip_parent)
    : QDialog(ip_parent), ui(std::make_unique<Ui::ChangeListeningPortDialog>())
{
    ui->setupUi(this);
    // A first digit 1 to 9, then up to four more digits: no sign, no
    // leading zero.
    ui->portEdit->setInputMask(QStringLiteral("D9999"));
    ui->portEdit->setText(FromLatin1Text(Settings::Get("listening_port")));
    OrderDialogKeyboard({ui->portEdit}, ui->buttonBox);
}

ChangeListeningPortDialog::~ChangeListeningPortDialog() = default;

void ChangeListeningPortDialog::accept()
{
    bool l_isNumber = false;
    int l_port = ui->portEdit->text().toInt(&l_isNumber, 10);
    if (!l_isNumber)
        l_port = 0;
    if (l_port < 1 || l_port > 65535) {
        QMessageBox::information(this, tr("Invalid Port Number"), tr("Port number must be in the range of 1 to 65535."));
        return;
    }
    if (l_port == ValueText::ToInt(Settings::Get("listening_port"))) {
        QMessageBox::information(this, tr("Port Number Not Changed"), tr("Port number has not been changed."));
        return;
    }
    QDialog::accept();
    Settings::Set("new_listening_port", std::to_string(l_port));
    QMessageBox::information(parentWidget(), tr("Change to Listening Port Pending"),
                             tr("Changes to the listening port will take effect after a client restart."));
    deleteLater();
}
