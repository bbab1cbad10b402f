#pragma once

#include <QString>
#include <QTimer>
#include <QToolBar>

#include <set>
#include <string>

class QAction;

// The row of notices under the action bar: one button per thing that
// happened out of sight (a private message, wish-list results, a browsed
// share), bound to the widget where it happened. A click brings that widget
// forward; a notice also goes when its widget is shown some other way
// (its view calls RemoveEvent) or destroyed. While the main window is not
// active, new notices make the application icon blink through their icons
// until the next focus change anywhere in the application.
//
// Notices are items of the store, keyed by the addresses of the button and
// of the widget; a widget has at most one notice.
class EventToolBar : public QToolBar
{
    Q_OBJECT

public:
    static constexpr int BlinkIntervalMs = 2000;

    // Makes this bar `eventToolBar` and declares its two item types (the
    // store must not have them yet).
    explicit EventToolBar(QWidget* ip_parent = nullptr);
    ~EventToolBar() override;

    // A notice for the widget, unless the widget is visible already or has
    // one; the blinking starts either way while the main window is inactive.
    void AddEvent(QString i_text, QString i_icon, QWidget* ip_widget);
    // Withdraws the widget's notice, if it has one.
    void RemoveEvent(QWidget* ip_widget);

    bool IsEmpty() const { return m_empty; }
    bool IsBlinking() const { return m_iconAlertTimer.isActive(); }
    const std::set<QString>& IconAlerts() const { return m_iconAlerts; }

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new);

private:
    void RemoveEventOf(const std::string& i_widgetKey);
    // Takes the button off the bar (deleted later) and brings the
    // placeholder back when it was the last.
    void TakeButton(QAction* ip_button);
    void AddPlaceholder();

    bool m_empty = true;
    std::set<QString> m_iconAlerts;
    int m_iconAlertIndex = 0;
    QTimer m_iconAlertTimer;
};

extern EventToolBar* eventToolBar;
