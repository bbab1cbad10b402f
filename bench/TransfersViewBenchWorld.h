#pragma once

#include "PageBenchServices.h"

#include <QString>

#include <memory>

class TransferQueueManager;
class TransfersForm;

// The Transfers page in a benchmark process, with the services it lives
// among (see PageBenchServices); its Init runs before the data file loads.
// Load is the data-loaded step that follows the reading of the file;
// whatever was put in the store before it stands for the file's contents.
class TransfersViewBenchWorld
{
public:
    explicit TransfersViewBenchWorld(const QString& i_downloadFolder);
    ~TransfersViewBenchWorld();
    TransfersViewBenchWorld(const TransfersViewBenchWorld&) = delete;
    TransfersViewBenchWorld& operator=(const TransfersViewBenchWorld&) = delete;

    TransferQueueManager& Manager() { return m_services.Manager(); }
    TransfersForm& View() { return *mp_view; }
    void Load() { m_services.Load(); }

private:
    PageBenchServices m_services;
    std::unique_ptr<TransfersForm> mp_view;
};
