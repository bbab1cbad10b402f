#pragma once

#include <QString>

#include <memory>

class ActionSetToolBar;
class SizeManager;
class TransferBenchWorld;
class TransferQueueManager;
class TransfersForm;

// The Transfers page in a benchmark process, with the services it lives
// among, made in the main window's order: store, timers, data saver, server
// link (never connected), peer layer listening on the loopback address at a
// port of the system's choosing, distributed network, shares, remembered
// sizes, the transfer manager, the action bar and the page, whose Init runs
// before the data file loads. Load is the data-loaded step that follows the
// reading of the file; whatever was put in the store before it stands for
// the file's contents.
class TransfersViewBenchWorld
{
public:
    explicit TransfersViewBenchWorld(const QString& i_downloadFolder);
    ~TransfersViewBenchWorld();
    TransfersViewBenchWorld(const TransfersViewBenchWorld&) = delete;
    TransfersViewBenchWorld& operator=(const TransfersViewBenchWorld&) = delete;

    TransferQueueManager& Manager();
    TransfersForm& View() { return *mp_view; }
    void Load();

private:
    std::unique_ptr<TransferBenchWorld> mp_services;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<ActionSetToolBar> mp_bar;
    std::unique_ptr<TransfersForm> mp_view;
};
