#pragma once

#include <limits>

#include "core/log/LogHistory.h"
#include "core/store/Item.h"

#include <QDialog>
#include <QHash>

class LogForm;
class QTabWidget;

// The "Item Log" dialog: the log lines filed for one item, all of them in the
// "All" tab and each in the tab of its area; lines logged while it is open
// are added. Non-modal, and deletes itself when closed. When the item is
// removed from the store the dialog keeps what it shows and stops following.
class ItemLogDialog : public QDialog
{
    Q_OBJECT

public:
    ItemLogDialog(ItemPtr i_item, QWidget* ip_parent = nullptr);

    LogForm* AllForm() const { return mp_allForm; }
    // The tab of an area, or null when the item has no line in that area.
    LogForm* AreaForm(const QString& i_area) const;
    QStringList Areas() const { return m_areas; }
    bool IsFollowing() const { return m_item != 0 && m_acceptUpTo == std::numeric_limits<quint64>::max(); }

private:
    void OnLineLogged(const LogEntry& i_entry);
    void OnItemForgotten(quintptr i_item);
    void Show(const LogEntry& i_entry);

    quintptr m_item;
    quint64 m_shownUpTo = 0;
    // Once the item is gone: the last line that can still be its own (lines
    // logged just before the removal may still be on their way); later lines
    // under the same address belong to another item.
    quint64 m_acceptUpTo = std::numeric_limits<quint64>::max();
    QTabWidget* mp_tabs;
    LogForm* mp_allForm;
    QHash<QString, LogForm*> m_forms;
    QStringList m_areas;
};
