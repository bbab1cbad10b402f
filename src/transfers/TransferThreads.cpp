// The transfer threads as the manager sees them: starting one for an entry,
// finding the entry of a thread's report, stopping one, and stopping them
// all at shut-down.
#include "transfers/TransferQueueManager.h"

#include "transfers/TransferFigures.h"
#include "transfers/TransferThread.h"

#include <QPointer>

#include <vector>

const TransferQueueManager::ThreadSlots TransferQueueManager::DownloadThreadSlots{
    "download_thread", &TransferQueueManager::OnDownloadProgress, &TransferQueueManager::OnDownloadComplete,
    &TransferQueueManager::OnDownloadError};
const TransferQueueManager::ThreadSlots TransferQueueManager::UploadThreadSlots{
    "upload_thread", &TransferQueueManager::OnUploadProgress, &TransferQueueManager::OnUploadComplete,
    &TransferQueueManager::OnUploadError};

void TransferQueueManager::StartTransferThread(ItemPtr i_entry, TransferThread* ip_thread, const ThreadSlots& i_slots)
{
    i_entry += d.GetType(i_slots.mp_threadType)->GetItem(Value(ip_thread));
    // The reports are queued (they come from the thread); one that arrives
    // after the thread was deleted finds the guard empty, and one from a
    // thread that was stopped finds no item, so neither can be taken for a
    // later thread at the same address.
    const QPointer<TransferThread> l_guard(ip_thread);
    connect(ip_thread, &TransferThread::Progress, this, [this, l_guard, i_slots](qint64 i_offset, int i_speed) {
        if (l_guard)
            (this->*i_slots.mp_onProgress)(l_guard, i_offset, i_speed);
    });
    connect(ip_thread, &TransferThread::Complete, this, [this, l_guard, i_slots] {
        if (l_guard)
            (this->*i_slots.mp_onComplete)(l_guard);
    });
    connect(ip_thread, &TransferThread::Error, this, [this, l_guard, i_slots] {
        if (l_guard)
            (this->*i_slots.mp_onError)(l_guard);
    });
    // The socket was handed over inside one of its own signals: it moves to
    // the thread once that has returned.
    QMetaObject::invokeMethod(ip_thread, &TransferThread::Begin, Qt::QueuedConnection);
}

void TransferQueueManager::StopTransferThread(ItemPtr i_entry, const char* ip_threadType, bool i_deleteNow)
{
    ItemPtr l_item = i_entry[ip_threadType];
    if (!l_item)
        return;
    auto* lp_thread = l_item.AsObject<TransferThread>();
    l_item.Remove();
    if (!lp_thread)
        return;
    lp_thread->SignalExit();
    lp_thread->wait();
    if (i_deleteNow)
        delete lp_thread;
    else
        lp_thread->deleteLater();
}

ItemPtr TransferQueueManager::EntryOfThread(TransferThread* ip_thread, const char* ip_threadType,
                                            const char* ip_entryType)
{
    ItemPtr l_item = d.GetType(ip_threadType)->HasItem(Value(ip_thread));
    return l_item ? l_item[ip_entryType] : ItemPtr();
}

void TransferQueueManager::ShutDownTransferThreads()
{
    struct Kind
    {
        const char* mp_threadType;
        const char* mp_entryType;
        const TransferFigures::Resources& m_resources;
    };
    // Uploads before downloads.
    const Kind l_kinds[] = {{"upload_thread", "upload_entry", TransferFigures::UploadResources},
                            {"download_thread", "download_entry", TransferFigures::DownloadResources}};
    // Every thread hears the request before any is waited for, so they all
    // wind down at once.
    std::vector<TransferThread*> l_threads;
    for (const Kind& l_kind : l_kinds) {
        for (ItemPtr l_item : d.GetType(l_kind.mp_threadType)->GetItems()) {
            if (auto* lp_thread = l_item.AsObject<TransferThread>()) {
                lp_thread->SignalExit();
                l_threads.push_back(lp_thread);
            }
        }
    }
    for (TransferThread* lp_thread : l_threads)
        lp_thread->wait();
    // Then what they held, and the files of uploads still being set up.
    for (const Kind& l_kind : l_kinds) {
        ItemSet l_entries = d.GetType(l_kind.mp_threadType)->GetItems().GetItems(l_kind.mp_entryType);
        l_entries.Add(d.GetType(l_kind.m_resources.mp_fileType)->GetItems().GetItems(l_kind.mp_entryType));
        for (ItemPtr l_entry : l_entries) {
            StopTransferThread(l_entry, l_kind.mp_threadType, true);
            TransferFigures::Release(l_entry, l_kind.m_resources);
        }
    }
    // Then the figures that outlive a transfer (the whole size of a download
    // found finished before, the bytes an upload sent): the store is emptied
    // without events at the end, which would free none of them.
    for (const char* lp_type : TransferFigures::CellTypes)
        d.GetType(lp_type)->GetItems().Remove();
}
