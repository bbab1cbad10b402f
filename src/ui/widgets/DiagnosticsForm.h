#pragma once

#include "core/log/LogHistory.h"

#include <QHash>
#include <QWidget>

class LogForm;
class QTabWidget;

// The Diagnostics page: one tab per log area, made when the area's first
// line arrives, showing that area's lines of this run.
class DiagnosticsForm : public QWidget
{
    Q_OBJECT

public:
    // Shows the lines logged so far and follows new ones; makes this page
    // `diagnosticsForm`.
    explicit DiagnosticsForm(QWidget* ip_parent = nullptr);
    ~DiagnosticsForm() override;

    // Second stage, once the store's service types exist: from here on the
    // log forgets the lines of items that the store removes.
    void Init();

    QStringList Areas() const;
    // The tab of an area, or null before its first line.
    LogForm* AreaForm(const QString& i_area) const;

private:
    void OnLineLogged(const LogEntry& i_entry);
    void Show(const LogEntry& i_entry);

    QTabWidget* mp_tabs;
    QHash<QString, LogForm*> m_forms;
    QStringList m_areas;
    // Lines up to this number were shown from the history at construction.
    quint64 m_shownUpTo = 0;
};

extern DiagnosticsForm* diagnosticsForm;
