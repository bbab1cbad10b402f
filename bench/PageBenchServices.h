#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class ActionSetToolBar;
class DelayedInvoker;
class SizeManager;
class TransferBenchWorld;
class TransferQueueManager;

// The services a page of the main window lives among in a benchmark
// process: store, timers, data saver, server link (never connected), peer
// layer listening on the loopback address at a port of the system's
// choosing, distributed network, shares, the transfer manager, deferred
// calls, remembered sizes and the action bar. A page's Init runs after them
// and before Load, the data-loaded step that follows the reading of the
// data file; whatever was put in the store before it stands for the file's
// contents.
class PageBenchServices
{
public:
    explicit PageBenchServices(const QString& i_downloadFolder);
    ~PageBenchServices();
    PageBenchServices(const PageBenchServices&) = delete;
    PageBenchServices& operator=(const PageBenchServices&) = delete;

    TransferQueueManager& Manager();
    // The peer layer's plain listening port, once loaded.
    quint16 PeerPort() const;
    void Load();

private:
    std::unique_ptr<TransferBenchWorld> mp_services;
    std::unique_ptr<DelayedInvoker> mp_invoker;
    std::unique_ptr<SizeManager> mp_sizes;
    std::unique_ptr<ActionSetToolBar> mp_bar;
};
