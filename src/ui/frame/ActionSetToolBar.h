#pragma once

#include "core/store/Item.h"

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QToolBar>
#include <QTreeWidget>

#include <string>

class QTabWidget;

// The context tool bar: it shows the action set of the bound widget that
// holds the keyboard focus, and a click emits the action's id. Views declare
// named sets of actions at start-up and bind their widgets to a set; a bound
// widget can carry keys (fixed texts, or a column of the selected row of the
// tree on the focus path) that handlers read back with GetKey while they
// handle ActionTriggered. The right end always holds the support button.
//
// The registry lives in the item store, in types the bar declares; none is
// saved. A binding lasts as long as its widget: its keys and text overrides
// go when the widget is destroyed, so a later widget at the same address
// inherits nothing.
class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    // The web site's page that the support button opens, before the user name.
    static constexpr const char* SupportPage = "https://www.kestrune.com/qtlogin.php";

    // Makes this bar `actionBar`, declares the registry's types (the store
    // must not have them yet) and follows the application's focus.
    explicit ActionSetToolBar(QWidget* ip_parent = nullptr);
    ~ActionSetToolBar() override;

    // Follows the server link's privilege reports; once the link exists.
    void Init();

    // Declares one action of a set; a set's buttons stand in declaration order.
    void AddSetAction(std::string i_set, std::string i_actionID, std::string i_actionText, std::string i_icon,
                      bool i_needsSelection);
    // Binds the widget to a set (replacing an earlier binding); the bar
    // changes at the next focus change.
    void RegisterWidget(QWidget* ip_widget, QString i_set);
    // Whether the focus on the widget would show a set: the widget, or one
    // above it, is bound (a tab widget counts as its current page).
    bool HasCommands(QWidget* ip_widget) const;
    // A key with a fixed value for a bound widget.
    void AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value);
    // A key read at click time from this column of the selected row of the
    // tree on the focus path.
    void AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column);
    // A button text for one bound widget that replaces the action's own text.
    void SetWidgetActionText(QWidget* ip_widget, QString i_action, QString i_text);
    // The key's value as the last focus change or click left it; empty when
    // it has none.
    QString GetKey(QString i_key);
    // Every page switch of the tab widget moves the focus to the new page.
    void AutoFocusTabWidget(QTabWidget* ip_tabWidget);

    // Rebuilds the buttons for a bound widget, unless they show its set now.
    void ChangeSet(QWidget* ip_widget, const char* ip_setName);
    // No set shown and no button left.
    void Clear();
    // Removes every action (buttons, spacer, support button) and deletes
    // each once control is back in the event loop.
    void ClearAndDeleteActions();
    void AddSupportKestruneButton();

    QPushButton* SupportButton() const { return mp_supportKestruneButton; }
    const std::string& CurrentSet() const { return m_currentSet; }
    // The bound widget whose set the bar shows now, or null.
    QWidget* SelectedWidget() const { return mp_selectedWidget; }

signals:
    void ActionTriggered(std::string i_action);

public slots:
    void OnActionTriggered(bool);
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnAutoFocusedTabWidgetCurrentChanged(int i_index);
    void OnSupportKestruneButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);

private slots:
    void OnBoundWidgetDestroyed(QObject* ip_widget);

private:
    void DeclareTypes();
    void SetSupportButtonDays(long long i_seconds);

    std::string m_currentSet;
    ItemPtr m_selectedWidgetItem;
    QPointer<QTreeWidget> mp_selectedTreeWidget;
    QPointer<QWidget> mp_selectedWidget;
    unsigned long long m_actionOrderCounter = 0;
    bool m_processingFocusChange = false;
    QPointer<QPushButton> mp_supportKestruneButton;
};

extern ActionSetToolBar* actionBar;
