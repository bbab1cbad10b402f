#include "ActionBarButtons.h"

#include "ui/frame/ActionSetToolBar.h"

#include <QWidgetAction>

QStringList BarButtons(QWidget& i_widget, const char* ip_set)
{
    actionBar->ChangeSet(&i_widget, ip_set);
    QStringList l_texts;
    for (QAction* lp_action : actionBar->actions()) {
        if (!qobject_cast<QWidgetAction*>(lp_action) && !lp_action->text().isEmpty())
            l_texts << lp_action->text();
    }
    return l_texts;
}

bool PressBarButton(QWidget& i_widget, const char* ip_set, const QString& i_button)
{
    actionBar->ChangeSet(&i_widget, ip_set);
    for (QAction* lp_action : actionBar->actions()) {
        if (lp_action->text() == i_button) {
            lp_action->trigger();
            return true;
        }
    }
    return false;
}
