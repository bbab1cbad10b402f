#pragma once

#include <QHash>
#include <QPointer>

class ActionSetToolBar;
class QTabWidget;
class QWidget;

// Gives the keyboard focus into the page a tab control changes to, so that
// the action bar, which follows the focus, shows that page's commands. A
// click on a page tab focuses nothing in the new page by itself, and a closed
// tab that held the focus leaves no widget focused or the focus on a tab bar.
// The page gets back the widget in it that last had the focus; a page with
// none (or whose widget is gone, hidden or disabled) gets its first widget
// that takes the focus by the Tab key and has commands on the bar or takes
// typed text, or, with no such widget, its first widget that takes the focus
// by the Tab key.
class PageFocus
{
public:
    // The bar tells which widgets have commands; both outlive this.
    PageFocus(QTabWidget* ip_tabs, const ActionSetToolBar* ip_bar);

    // The application's focus moved to the widget (null: to none). A focus
    // that enters a page from another page, or the first focus of all, is
    // not the user's and is not kept.
    void Remember(QWidget* ip_focus);
    // The page at the index was chosen. A focus inside the page already
    // stays where it is, unless the page has nothing to give back and that
    // focus shows no commands and takes no text (Qt's own choice on a page
    // change is the first widget of the page that takes the focus).
    void FocusPage(int i_index);

private:
    QTabWidget* mp_tabs;
    const ActionSetToolBar* mp_bar;
    // The last focused widget of each page, by page; a page stays as long as
    // the tab control.
    QHash<const QWidget*, QPointer<QWidget>> m_lastFocus;
    // The page that last held the focus, or null.
    const QWidget* mp_focusPage = nullptr;
};
