#pragma once

#include <QHash>
#include <QPointer>

class QTabWidget;
class QWidget;

// Gives the keyboard focus into the page a tab control changes to, so that
// the action bar, which follows the focus, shows that page's commands. A
// click on a page tab focuses nothing in the new page by itself, and a closed
// tab that held the focus leaves no widget focused or the focus on a tab bar.
// The page gets back the widget in it that last had the focus; a page with
// none (or whose widget is gone, hidden or disabled) gets its first widget
// that takes the focus by the Tab key.
class PageFocus
{
public:
    explicit PageFocus(QTabWidget* ip_tabs);

    // The application's focus moved to the widget (null: to none).
    void Remember(QWidget* ip_focus);
    // The page at the index was chosen. A focus inside the page already
    // stays where it is.
    void FocusPage(int i_index);

private:
    QTabWidget* mp_tabs;
    // The last focused widget of each page, by page; a page stays as long as
    // the tab control.
    QHash<const QWidget*, QPointer<QWidget>> m_lastFocus;
};
