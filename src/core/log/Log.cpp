#include "core/log/Log.h"

#include "core/log/LogFileWriter.h"
#include "core/log/LogLine.h"
#include "core/log/LogService.h"
#include "core/platform/Paths.h"
#include "core/store/Data.h"
#include "core/util/WallClock.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <memory>

namespace
{
// Removes an item's lines from the history when the store removes the item.
class LoggedItemWatcher : public DataHandler
{
public:
    void EnsureWatching()
    {
        if (m_handlerSet.size() != 0)
            return;
        if (m_everWatched) {
            // The store let our handler go (it was emptied): every item we
            // knew is gone.
            GetLogHistory().ForgetAllItems();
            emit GetLogNotifier()->ItemForgotten(0);
        }
        m_everWatched = true;
        d.ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&LoggedItemWatcher::OnItemRemoved));
    }

private:
    void OnItemRemoved(Item* ip_item)
    {
        // Most removed items were never logged for: nothing to tell then.
        const quintptr l_key = reinterpret_cast<quintptr>(ip_item);
        if (GetLogHistory().ForgetItem(l_key))
            emit GetLogNotifier()->ItemForgotten(l_key);
    }

    bool m_everWatched = false;
};

// The log's state lives as long as the process: it is never destroyed, so a
// line logged during shut-down still finds it.
struct LogCore
{
    QMutex m_writerMutex;
    std::shared_ptr<LogFileWriter> mp_writer;
    LogHistory m_history;
    LogNotifier* mp_notifier = nullptr;
    LoggedItemWatcher* mp_watcher = nullptr;

    std::shared_ptr<LogFileWriter> Writer()
    {
        QMutexLocker l_lock(&m_writerMutex);
        if (!mp_writer)
            mp_writer = std::make_shared<LogFileWriter>(LogFolder());
        return mp_writer;
    }
};

LogCore& Core()
{
    static LogCore* s_core = [] {
        auto* lp_core = new LogCore;
        lp_core->mp_notifier = new LogNotifier;
        if (QCoreApplication* lp_app = QCoreApplication::instance())
            lp_core->mp_notifier->moveToThread(lp_app->thread());
        lp_core->mp_watcher = new LoggedItemWatcher;
        return lp_core;
    }();
    return *s_core;
}

bool OnApplicationThread()
{
    const QCoreApplication* lp_app = QCoreApplication::instance();
    return lp_app && QThread::currentThread() == lp_app->thread();
}
}

LogNotifier::LogNotifier(QObject* ip_parent) : QObject(ip_parent)
{
    qRegisterMetaType<LogEntry>("LogEntry");
}

LogNotifier* GetLogNotifier()
{
    return Core().mp_notifier;
}

LogHistory& GetLogHistory()
{
    return Core().m_history;
}

void SetLogFolder(const QString& i_folder)
{
    LogCore& l_core = Core();
    QMutexLocker l_lock(&l_core.m_writerMutex);
    l_core.mp_writer = std::make_shared<LogFileWriter>(i_folder);
}

void WatchLoggedItemRemovals()
{
    Core().mp_watcher->EnsureWatching();
}

void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item)
{
    try {
        LogCore& l_core = Core();
        const QDateTime l_now = WallClock::LocalNow();
        const QString l_line = FormatLogLine(l_now, i_level, i_text);
        l_core.Writer()->Append(i_area, l_line, l_now);

        const quintptr l_item = reinterpret_cast<quintptr>(i_item.Get());
        // The store lives on the GUI thread: subscribe from there only.
        if (l_item != 0 && OnApplicationThread())
            l_core.mp_watcher->EnsureWatching();
        const LogEntry l_entry = l_core.m_history.Add(i_area, l_line, l_item);
        emit l_core.mp_notifier->LineLogged(l_entry);
    } catch (...) {
        // Logging must never take the caller down.
    }
}
