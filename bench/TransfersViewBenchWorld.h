#pragma once

#include "PageBenchServices.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

class TransferQueueManager;
class TransfersForm;

// The Transfers page in a benchmark process, with the services it lives
// among (see PageBenchServices) and a download folder of its own, made for
// it and deleted with it; its Init runs before the data file loads. Load is
// the data-loaded step that follows the reading of the file; whatever was
// put in the store before it stands for the file's contents.
class TransfersViewBenchWorld
{
public:
    TransfersViewBenchWorld();
    ~TransfersViewBenchWorld();
    TransfersViewBenchWorld(const TransfersViewBenchWorld&) = delete;
    TransfersViewBenchWorld& operator=(const TransfersViewBenchWorld&) = delete;

    // Empty when no folder could be made.
    QString DownloadFolder() const { return m_downloadFolder.isValid() ? m_downloadFolder.path() : QString(); }
    TransferQueueManager& Manager() { return m_services.Manager(); }
    TransfersForm& View() { return *mp_view; }
    // The window, 1200x800 on its downloads tab (or its uploads tab), until
    // it is painted; false when it was not.
    bool Show(bool i_uploadsTab = false);
    void Load() { m_services.Load(); }

private:
    QTemporaryDir m_downloadFolder;
    PageBenchServices m_services;
    std::unique_ptr<TransfersForm> mp_view;
};
