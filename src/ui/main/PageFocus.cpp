#include "ui/main/PageFocus.h"

#include <QApplication>
#include <QTabWidget>

namespace
{
bool CanTakeFocus(const QWidget* ip_widget, const QWidget* ip_page)
{
    return ip_page->isAncestorOf(ip_widget) && ip_widget->isEnabled() && ip_widget->isVisibleTo(ip_page) &&
           ip_widget->focusPolicy() != Qt::NoFocus;
}

// The page's first widget in the window's focus chain that the Tab key
// would reach; widgets that hand their focus on are reached through the
// proxy itself.
QWidget* FirstFocusable(QWidget* ip_page)
{
    for (QWidget* lp_widget = ip_page->nextInFocusChain(); lp_widget && lp_widget != ip_page;
         lp_widget = lp_widget->nextInFocusChain()) {
        if ((lp_widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !lp_widget->focusProxy() &&
            CanTakeFocus(lp_widget, ip_page))
            return lp_widget;
    }
    return nullptr;
}
}  // namespace

PageFocus::PageFocus(QTabWidget* ip_tabs) : mp_tabs(ip_tabs)
{
}

void PageFocus::Remember(QWidget* ip_focus)
{
    if (!ip_focus)
        return;
    for (int l_page = 0; l_page < mp_tabs->count(); ++l_page) {
        const QWidget* lp_page = mp_tabs->widget(l_page);
        if (lp_page->isAncestorOf(ip_focus)) {
            m_lastFocus[lp_page] = ip_focus;
            return;
        }
    }
}

void PageFocus::FocusPage(int i_index)
{
    QWidget* lp_page = mp_tabs->widget(i_index);
    if (!lp_page)
        return;
    const QWidget* lp_focus = QApplication::focusWidget();
    if (lp_focus && lp_page->isAncestorOf(lp_focus))
        return;
    QWidget* lp_target = m_lastFocus.value(lp_page);
    if (!lp_target || !CanTakeFocus(lp_target, lp_page))
        lp_target = FirstFocusable(lp_page);
    // A page with nothing to focus still stands for its commands.
    (lp_target ? lp_target : lp_page)->setFocus(Qt::OtherFocusReason);
}
