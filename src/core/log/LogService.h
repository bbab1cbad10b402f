#pragma once

#include "core/log/LogHistory.h"

#include <QObject>
#include <QString>

// Announces every logged line. Views connect with Qt::QueuedConnection: the
// signal is emitted on the thread that logged, under no lock.
class LogNotifier : public QObject
{
    Q_OBJECT

public:
    explicit LogNotifier(QObject* ip_parent = nullptr);

signals:
    void LineLogged(const LogEntry& i_entry);
    // The item's history was dropped (the item was removed from the store);
    // 0 means every item's history was dropped.
    void ItemForgotten(quintptr i_item);
};

// The process-wide log notifier; lives on the application's thread.
LogNotifier* GetLogNotifier();

// The in-memory history of this run.
LogHistory& GetLogHistory();

// Sends the log files to another folder from now on, as a fresh run (each
// area's first line there gets the header line). The default folder is the
// platform's LogFolder().
void SetLogFolder(const QString& i_folder);

// Subscribes the item history to the store's item removals, so an item's
// lines go with it. GUI thread only; safe to call again (it subscribes anew
// only when the store dropped the subscription, and then forgets every
// item's history, since the store was emptied meanwhile).
void WatchLoggedItemRemovals();
