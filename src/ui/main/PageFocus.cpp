#include "ui/main/PageFocus.h"

#include "ui/frame/ActionSetToolBar.h"

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
// would reach and that passes the filter; widgets that hand their focus on
// are reached through the proxy itself.
template <typename Filter>
QWidget* FirstFocusable(QWidget* ip_page, Filter i_filter)
{
    for (QWidget* lp_widget = ip_page->nextInFocusChain(); lp_widget && lp_widget != ip_page;
         lp_widget = lp_widget->nextInFocusChain()) {
        if ((lp_widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !lp_widget->focusProxy() &&
            CanTakeFocus(lp_widget, ip_page) && i_filter(lp_widget))
            return lp_widget;
    }
    return nullptr;
}
}  // namespace

PageFocus::PageFocus(QTabWidget* ip_tabs, const ActionSetToolBar* ip_bar) : mp_tabs(ip_tabs), mp_bar(ip_bar)
{
}

void PageFocus::Remember(QWidget* ip_focus)
{
    if (!ip_focus)
        return;
    for (int l_page = 0; l_page < mp_tabs->count(); ++l_page) {
        const QWidget* lp_page = mp_tabs->widget(l_page);
        if (!lp_page->isAncestorOf(ip_focus))
            continue;
        // Only a change of page, or the window's first showing, moves the
        // focus into a page other than the one that last held it: that is
        // Qt's choice (the page's first widget that takes the focus) or
        // FocusPage's, not the user's.
        if (lp_page == mp_focusPage)
            m_lastFocus[lp_page] = ip_focus;
        mp_focusPage = lp_page;
        return;
    }
}

void PageFocus::FocusPage(int i_index)
{
    QWidget* lp_page = mp_tabs->widget(i_index);
    if (!lp_page)
        return;
    QWidget* lp_focus = QApplication::focusWidget();
    const bool l_focusInside = lp_focus && lp_page->isAncestorOf(lp_focus);
    QWidget* lp_target = m_lastFocus.value(lp_page);
    if (lp_target && CanTakeFocus(lp_target, lp_page)) {
        if (l_focusInside)
            return;
    } else {
        // An empty room-tab area, say, comes before the room list in the
        // chain but has no command to show and nothing to type into; a
        // search line has no command but takes the search.
        auto l_worthFocus = [this](QWidget* ip_widget) {
            return ip_widget->testAttribute(Qt::WA_InputMethodEnabled) || mp_bar->HasCommands(ip_widget);
        };
        if (l_focusInside && l_worthFocus(lp_focus))
            return;
        lp_target = FirstFocusable(lp_page, l_worthFocus);
        if (!lp_target && l_focusInside)
            return;
        if (!lp_target)
            lp_target = FirstFocusable(lp_page, [](QWidget*) { return true; });
    }
    // A page with nothing to focus still stands for its commands.
    (lp_target ? lp_target : lp_page)->setFocus(Qt::OtherFocusReason);
}
