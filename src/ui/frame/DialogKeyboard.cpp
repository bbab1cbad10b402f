#include "ui/frame/DialogKeyboard.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QWidget>

void OrderDialogKeyboard(const QList<QWidget*>& i_fields, QDialogButtonBox* ip_buttons)
{
    QList<QWidget*> l_chain = i_fields;
    QPushButton* lp_ok = ip_buttons->button(QDialogButtonBox::Ok);
    if (lp_ok) {
        lp_ok->setDefault(true);
        l_chain.append(lp_ok);
    }
    if (QPushButton* lp_cancel = ip_buttons->button(QDialogButtonBox::Cancel))
        l_chain.append(lp_cancel);
    for (qsizetype l_index = 1; l_index < l_chain.size(); ++l_index)
        QWidget::setTabOrder(l_chain[l_index - 1], l_chain[l_index]);
    if (!i_fields.isEmpty())
        i_fields.first()->setFocus(Qt::OtherFocusReason);
}
