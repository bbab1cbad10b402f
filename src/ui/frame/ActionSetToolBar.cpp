#include "ui/frame/ActionSetToolBar.h"

#include "core/persist/Settings.h"
#include "core/platform/DesktopOpener.h"
#include "core/store/Data.h"
#include "core/util/GeneralFunctions.h"
#include "server/Server.h"
#include "ui/frame/FrameResources.h"
#include "ui/frame/FrameWindow.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QUrlQuery>

ActionSetToolBar* actionBar = nullptr;

namespace {

Type* T(const char* ip_name)
{
    return d.GetType(ip_name);
}

// Widgets are keyed by the address of their QObject part, the one pointer
// that `destroyed` still hands over.
std::string WidgetKey(const QObject* ip_widget)
{
    return AddressToString(ip_widget);
}

ItemPtr BoundWidgetItem(const QObject* ip_widget)
{
    return T("toolbar_action_widget")->HasItem(WidgetKey(ip_widget));
}

// A focused tab widget, or its focused tab bar, stands for its current page;
// a page that is itself a tab widget stands for its own current page.
QWidget* SeeThroughTabs(QWidget* ip_widget)
{
    QWidget* lp_widget = ip_widget;
    while (lp_widget) {
        QTabWidget* lp_tabs = qobject_cast<QTabWidget*>(lp_widget);
        if (!lp_tabs && qobject_cast<QTabBar*>(lp_widget))
            lp_tabs = qobject_cast<QTabWidget*>(lp_widget->parentWidget());
        if (!lp_tabs || !lp_tabs->currentWidget())
            break;
        lp_widget = lp_tabs->currentWidget();
    }
    return lp_widget;
}

// The nearest bound widget from the focused widget up, with its binding;
// null when none is bound. The nearest tree widget on the way, whose
// selection a click reads, goes to op_tree when asked for.
QWidget* NearestBound(QWidget* ip_focus, ItemPtr& o_binding, QTreeWidget** op_tree = nullptr)
{
    for (QWidget* lp_widget = SeeThroughTabs(ip_focus); lp_widget; lp_widget = lp_widget->parentWidget()) {
        if (op_tree && !*op_tree)
            *op_tree = qobject_cast<QTreeWidget*>(lp_widget);
        o_binding = BoundWidgetItem(lp_widget);
        if (!o_binding.IsNull())
            return lp_widget;
    }
    return nullptr;
}

// A key of a bound widget: a new pair item holding the key's name and its
// value (a fixed text or a column number). Unbound widgets get none.
void AddKeyPair(QWidget* ip_widget, const char* ip_pairType, const QString& i_key, const char* ip_valueType,
                const Value& i_value)
{
    ItemPtr l_widget = BoundWidgetItem(ip_widget);
    if (l_widget.IsNull())
        return;
    ItemPtr l_pair = l_widget.NewItem(ip_pairType);
    l_pair += T("action_key")->GetItem(ToLatin1Text(i_key));
    l_pair += T(ip_valueType)->GetItem(i_value);
}

void SetActiveKey(const std::string& i_key, const std::string& i_value)
{
    T("active_action_key")->GetItem(i_key) += T("active_action_value")->GetItem(i_value);
}

}  // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* ip_parent) : QToolBar(ip_parent)
{
    actionBar = this;
    InitFrameResources();
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);
    DeclareTypes();
    AddSupportKestruneButton();
}

ActionSetToolBar::~ActionSetToolBar() = default;

void ActionSetToolBar::DeclareTypes()
{
    Type* lp_set = d.NewType("toolbar_action_set", true, false, true);
    Type* lp_action = d.NewType("toolbar_action", true, true, true);
    Type* lp_id = d.NewType("toolbar_action_id", true, false, true);
    Type* lp_order = d.NewType("toolbar_action_order", false, false, true);
    Type* lp_widget = d.NewType("toolbar_action_widget", true, false, true);
    Type* lp_keyValuePair = d.NewType("action_key_value_pair", true, true, true);
    Type* lp_key = d.NewType("action_key", false, false, true);
    Type* lp_value = d.NewType("action_value", false, false, true);
    Type* lp_keyColumnPair = d.NewType("action_key_column_pair", true, true, true);
    Type* lp_column = d.NewType("action_column", false, false, true);
    Type* lp_activeKey = d.NewType("active_action_key", true, false, true);
    Type* lp_activeValue = d.NewType("active_action_value", false, false, true);
    Type* lp_widgetText = d.NewType("widget_action_text", false, false, true);
    Type* lp_object = d.NewType("toolbar_action_object", false, false, true);

    // An action belongs to one set and has one id, order, icon, text and button.
    lp_action->RelateToType(lp_set, Many, One, false);
    lp_action->RelateToType(lp_id, Many, One, false);
    lp_action->RelateToType(lp_order, Many, One, false);
    lp_action->RelateToType(d.NewType("toolbar_action_icon", false, false, true), Many, One, false);
    lp_action->RelateToType(d.NewType("toolbar_action_text", false, false, true), Many, One, false);
    lp_action->RelateToType(d.NewType("needs_list_selection", false, true, true), Many, One, false);
    lp_action->RelateToType(lp_object, One, One, false);
    // A widget is bound to one set and carries any number of keys and texts.
    lp_widget->RelateToType(lp_set, Many, One, false);
    lp_widget->RelateToType(lp_keyValuePair, One, Many, false);
    lp_widget->RelateToType(lp_keyColumnPair, One, Many, false);
    lp_widget->RelateToType(lp_widgetText, Many, Many, false);
    lp_keyValuePair->RelateToType(lp_key, Many, One, false);
    lp_keyValuePair->RelateToType(lp_value, Many, One, false);
    lp_keyColumnPair->RelateToType(lp_key, Many, One, false);
    lp_keyColumnPair->RelateToType(lp_column, Many, One, false);
    // A key has one current value.
    lp_activeKey->RelateToType(lp_activeValue, Many, One, false);
    lp_widgetText->RelateToType(lp_id, Many, Many, false);
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this, &ActionSetToolBar::OnReceivedOwnPrivilegesStatus);
}

void ActionSetToolBar::AddSetAction(std::string i_set, std::string i_actionID, std::string i_actionText,
                                    std::string i_icon, bool i_needsSelection)
{
    ItemPtr l_action = T("toolbar_action_set")->GetItem(i_set).NewItem("toolbar_action");
    l_action += T("toolbar_action_id")->GetItem(i_actionID);
    l_action += T("toolbar_action_icon")->GetItem(i_icon);
    l_action += T("toolbar_action_text")->GetItem(i_actionText);
    l_action += T("toolbar_action_order")->GetItem(m_actionOrderCounter++);
    if (i_needsSelection)
        l_action.NewItem("needs_list_selection");
}

void ActionSetToolBar::RegisterWidget(QWidget* ip_widget, QString i_set)
{
    if (!ip_widget)
        return;
    T("toolbar_action_widget")->GetItem(WidgetKey(ip_widget)) += T("toolbar_action_set")->GetItem(ToLatin1Text(i_set));
    connect(ip_widget, &QObject::destroyed, this, &ActionSetToolBar::OnBoundWidgetDestroyed, Qt::UniqueConnection);
}

bool ActionSetToolBar::HasCommands(QWidget* ip_widget) const
{
    ItemPtr l_binding;
    return NearestBound(ip_widget, l_binding) != nullptr;
}

void ActionSetToolBar::AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value)
{
    AddKeyPair(ip_widget, "action_key_value_pair", i_key, "action_value", ToLatin1Text(i_value));
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column)
{
    AddKeyPair(ip_widget, "action_key_column_pair", i_key, "action_column", i_column);
}

void ActionSetToolBar::SetWidgetActionText(QWidget* ip_widget, QString i_action, QString i_text)
{
    ItemPtr l_widget = BoundWidgetItem(ip_widget);
    ItemPtr l_id = T("toolbar_action_id")->HasItem(ToLatin1Text(i_action));
    if (l_widget.IsNull() || l_id.IsNull())
        return;
    // The old text may be shared with other widgets through the id: only
    // this widget lets go of it.
    ItemPtr l_old = d.GetItem(l_widget, l_id, "widget_action_text");
    if (!l_old.IsNull())
        l_widget.Disconnect(l_old);
    ItemPtr l_text = T("widget_action_text")->GetItem(ToLatin1Text(i_text));
    l_widget += l_text;
    l_id += l_text;

    if (mp_selectedWidget != ip_widget || m_currentSet.empty())
        return;
    for (QAction* lp_button : actions()) {
        ItemPtr l_action = T("toolbar_action_object")->HasItem(Value(lp_button))["toolbar_action"];
        if (!l_action.IsNull() && l_action["toolbar_action_id"] == l_id)
            lp_button->setText(i_text);
    }
}

QString ActionSetToolBar::GetKey(QString i_key)
{
    return FromLatin1Text(T("active_action_key")->HasItem(ToLatin1Text(i_key))["active_action_value"].AsString());
}

void ActionSetToolBar::AutoFocusTabWidget(QTabWidget* ip_tabWidget)
{
    connect(ip_tabWidget, &QTabWidget::currentChanged, this, &ActionSetToolBar::OnAutoFocusedTabWidgetCurrentChanged);
}

void ActionSetToolBar::OnAutoFocusedTabWidgetCurrentChanged(int i_index)
{
    if (i_index == -1)
        return;
    QTabWidget* lp_tabs = qobject_cast<QTabWidget*>(sender());
    QWidget* lp_page = lp_tabs ? lp_tabs->widget(i_index) : nullptr;
    if (lp_page)
        lp_page->setFocus(Qt::OtherFocusReason);
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget*, QWidget* ip_widget)
{
    if (g_showIsOver || m_processingFocusChange)
        return;
    m_processingFocusChange = true;

    QTreeWidget* lp_tree = nullptr;
    ItemPtr l_boundItem;
    QWidget* lp_bound = NearestBound(ip_widget, l_boundItem, &lp_tree);
    mp_selectedTreeWidget = lp_tree;

    if (!lp_bound) {
        Clear();
        AddSupportKestruneButton();
    } else {
        m_selectedWidgetItem = l_boundItem;
        ChangeSet(lp_bound, l_boundItem["toolbar_action_set"].AsString().c_str());
        for (Item* lp_pair : l_boundItem.GetItems("action_key_value_pair")) {
            ItemPtr l_pair(lp_pair);
            SetActiveKey(l_pair["action_key"].AsString(), l_pair["action_value"].AsString());
        }
    }
    m_processingFocusChange = false;
}

void ActionSetToolBar::ChangeSet(QWidget* ip_widget, const char* ip_setName)
{
    if (m_currentSet == ip_setName && mp_selectedWidget == ip_widget)
        return;
    mp_selectedWidget = ip_widget;
    m_currentSet = ip_setName;
    ClearAndDeleteActions();

    ItemPtr l_widget = BoundWidgetItem(ip_widget);
    const ItemSet l_actions = T("toolbar_action_set")->GetItem(m_currentSet).GetItems("toolbar_action");
    for (const ItemPtr& l_action : l_actions.SortNumericBy("toolbar_action_order", true)) {
        ItemPtr l_text = l_action["toolbar_action_text"];
        if (!l_widget.IsNull()) {
            ItemPtr l_override = d.GetItem(l_widget, l_action["toolbar_action_id"], "widget_action_text");
            if (!l_override.IsNull())
                l_text = l_override;
        }
        QAction* lp_button = addAction(QIcon(FromLatin1Text(l_action["toolbar_action_icon"].AsString())),
                                       FromLatin1Text(l_text.AsString()));
        connect(lp_button, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
        l_action += T("toolbar_action_object")->GetItem(Value(lp_button));
    }
    AddSupportKestruneButton();
}

void ActionSetToolBar::Clear()
{
    m_currentSet.clear();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    // Deferred: the clicked button's action may still be delivering its
    // signal when a handler moves the focus. A widget action takes its
    // widget (spacer, support button) with it.
    for (QAction* lp_action : actions()) {
        removeAction(lp_action);
        lp_action->deleteLater();
    }
    T("toolbar_action_object")->GetItems().Remove();
}

void ActionSetToolBar::AddSupportKestruneButton()
{
    auto* lp_spacer = new QWidget;
    lp_spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    mp_supportKestruneButton = new QPushButton(QStringLiteral("Support Kestrune!"));
    // The settings are declared after the bar exists.
    if (d.HasType("global")) {
        const long long l_seconds = ValueText::ToInt64(Settings::Get("privileges_time_left"));
        if (l_seconds > 0)
            SetSupportButtonDays(l_seconds);
    }
    mp_supportKestruneButton->setFocusPolicy(Qt::NoFocus);
    addWidget(lp_spacer);
    addWidget(mp_supportKestruneButton);
    connect(mp_supportKestruneButton, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportKestruneButtonClicked);
}

void ActionSetToolBar::SetSupportButtonDays(long long i_seconds)
{
    // The nearest whole number of days, halves upward.
    const long long l_days = (i_seconds + 43200) / 86400;
    mp_supportKestruneButton->setText(QStringLiteral("%1 Days Left").arg(l_days));
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int i_seconds)
{
    if (!mp_supportKestruneButton)
        return;
    if (i_seconds < 1)
        mp_supportKestruneButton->setText(QStringLiteral("Support Kestrune!"));
    else
        SetSupportButtonDays(i_seconds);
}

void ActionSetToolBar::OnSupportKestruneButtonClicked()
{
    const QString l_user = d.HasType("global") ? FromLatin1Text(Settings::Get("username")) : QString();
    // The name is a query value, encoded, so that no character of it can
    // end the value or the query.
    QUrlQuery l_query;
    l_query.addQueryItem(QStringLiteral("username"), QString::fromLatin1(QUrl::toPercentEncoding(l_user)));
    QUrl l_url(QString::fromLatin1(SupportPage));
    l_url.setQuery(l_query);
    OpenWithDesktop(l_url);
}

void ActionSetToolBar::OnActionTriggered(bool)
{
    ItemPtr l_action = T("toolbar_action_object")->HasItem(Value(sender()))["toolbar_action"];
    if (l_action.IsNull())
        return;
    if (mp_selectedTreeWidget) {
        const QList<QTreeWidgetItem*> l_selected = mp_selectedTreeWidget->selectedItems();
        if (l_selected.isEmpty()) {
            if (l_action.IsConnected("needs_list_selection"))
                return;
        } else {
            for (Item* lp_pair : m_selectedWidgetItem.GetItems("action_key_column_pair")) {
                ItemPtr l_pair(lp_pair);
                const QString l_cell = l_selected.first()->data(l_pair["action_column"].AsInt(), Qt::DisplayRole).toString();
                SetActiveKey(l_pair["action_key"].AsString(), ToLatin1Text(l_cell));
            }
        }
    }
    emit ActionTriggered(l_action["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnBoundWidgetDestroyed(QObject* ip_widget)
{
    ItemPtr l_widget = BoundWidgetItem(ip_widget);
    if (l_widget.IsNull())
        return;
    if (m_selectedWidgetItem == l_widget)
        m_selectedWidgetItem = ItemPtr();
    // A key value that this widget put in place goes with it, so a handler
    // never reads, say, the address of a closed tab.
    for (Item* lp_pair : l_widget.GetItems("action_key_value_pair")) {
        ItemPtr l_pair(lp_pair);
        ItemPtr l_key = T("active_action_key")->HasItem(l_pair["action_key"].AsString());
        ItemPtr l_value = l_key["active_action_value"];
        if (!l_value.IsNull() && l_value.AsString() == l_pair["action_value"].AsString())
            l_key.Disconnect(l_value);
    }
    l_widget.GetItems("action_key_value_pair").Remove();
    l_widget.GetItems("action_key_column_pair").Remove();
    l_widget.Remove();
}
