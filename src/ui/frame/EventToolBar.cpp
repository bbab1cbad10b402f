#include "ui/frame/EventToolBar.h"

#include "core/store/Data.h"
#include "ui/frame/FrameResources.h"
#include "ui/frame/FrameWindow.h"
#include "ui/widgets/UIFunctions.h"

#include <QAction>
#include <QApplication>
#include <QIcon>

#include <iterator>

EventToolBar* eventToolBar = nullptr;

namespace {

Type* ActionType()
{
    return d.GetType("event_toolbar_action");
}

Type* WidgetType()
{
    return d.GetType("event_toolbar_widget");
}

}  // namespace

EventToolBar::EventToolBar(QWidget* ip_parent) : QToolBar(ip_parent)
{
    eventToolBar = this;
    InitFrameResources();
    setMovable(false);
    Type* lp_action = d.NewType("event_toolbar_action", true, false, true);
    Type* lp_widget = d.NewType("event_toolbar_widget", true, false, true);
    lp_action->RelateToType(lp_widget, One, One, false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    AddPlaceholder();
    m_iconAlertTimer.setInterval(BlinkIntervalMs);
    connect(&m_iconAlertTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
}

EventToolBar::~EventToolBar() = default;

void EventToolBar::AddPlaceholder()
{
    // An empty button keeps the row in place while there is no notice.
    addAction(QString());
    m_empty = true;
}

void EventToolBar::AddEvent(QString i_text, QString i_icon, QWidget* ip_widget)
{
    // Without a main window there is no icon to blink.
    if (gp_frameWindow && !gp_frameWindow->IsActive()) {
        if (m_iconAlerts.empty()) {
            m_iconAlertIndex = 0;
            m_iconAlertTimer.start();
        }
        m_iconAlerts.insert(i_icon);
    }
    if (!ip_widget || ip_widget->isVisible())
        return;
    ItemPtr l_widget = WidgetType()->HasItem(Value(static_cast<QObject*>(ip_widget)));
    if (!l_widget.IsNull())
        return;
    if (m_empty) {
        for (QAction* lp_action : actions()) {
            removeAction(lp_action);
            lp_action->deleteLater();
        }
        m_empty = false;
    }
    QAction* lp_button = addAction(QIcon(i_icon), LiteralLabel(i_text));
    connect(lp_button, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    ActionType()->GetItem(Value(lp_button)) += WidgetType()->GetItem(Value(static_cast<QObject*>(ip_widget)));
    connect(ip_widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
}

void EventToolBar::RemoveEvent(QWidget* ip_widget)
{
    RemoveEventOf(AddressToString(static_cast<QObject*>(ip_widget)));
}

void EventToolBar::RemoveEventOf(const std::string& i_widgetKey)
{
    ItemPtr l_widget = WidgetType()->HasItem(i_widgetKey);
    if (l_widget.IsNull())
        return;
    ItemPtr l_action = l_widget["event_toolbar_action"];
    TakeButton(l_action.AsObject<QAction>());
    l_widget.Remove();
    if (!l_action.IsNull())
        l_action.Remove();
}

void EventToolBar::TakeButton(QAction* ip_button)
{
    if (ip_button) {
        removeAction(ip_button);
        // Later: the button may be the one whose click is being delivered.
        ip_button->deleteLater();
    }
    if (actions().isEmpty())
        AddPlaceholder();
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    RemoveEventOf(AddressToString(ip_widget));
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    ItemPtr l_action = ActionType()->HasItem(Value(sender()));
    ItemPtr l_widget = l_action["event_toolbar_widget"];
    if (l_action.IsNull())
        return;
    QWidget* lp_widget = l_widget.AsObject<QWidget>();
    TakeButton(qobject_cast<QAction*>(sender()));
    l_action.Remove();
    if (!l_widget.IsNull())
        l_widget.Remove();
    // Every tab on the way to the widget is made current, its window
    // activated and the widget focused.
    FocusWidgetAndParents(lp_widget);
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_iconAlerts.empty() || !gp_frameWindow)
        return;
    if (m_iconAlertIndex >= 0 && m_iconAlertIndex < static_cast<int>(m_iconAlerts.size())) {
        gp_frameWindow->SetApplicationIcon(*std::next(m_iconAlerts.begin(), m_iconAlertIndex));
        ++m_iconAlertIndex;
    } else {
        m_iconAlertIndex = 0;
        gp_frameWindow->ResetApplicationIcon();
    }
}

void EventToolBar::OnApplicationFocusChanged(QWidget*, QWidget*)
{
    // The window that the icon belongs to is going.
    if (g_showIsOver)
        return;
    m_iconAlerts.clear();
    m_iconAlertTimer.stop();
    if (gp_frameWindow)
        gp_frameWindow->ResetApplicationIcon();
}
