#include "PageBenchServices.h"

#include "TransferBenchWorld.h"

#include "core/persist/DataSaver.h"
#include "core/runtime/DelayedInvoker.h"
#include "core/store/Data.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"

PageBenchServices::PageBenchServices(const QString& i_downloadFolder)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_services = std::make_unique<TransferBenchWorld>("bench", i_downloadFolder, false);
    mp_invoker = std::make_unique<DelayedInvoker>(nullptr);
    mp_sizes = std::make_unique<SizeManager>();
    mp_bar = std::make_unique<ActionSetToolBar>();
}

PageBenchServices::~PageBenchServices()
{
    mp_bar.reset();
    mp_sizes.reset();
    mp_invoker.reset();
    mp_services.reset();
}

TransferQueueManager& PageBenchServices::Manager()
{
    return mp_services->Manager();
}

quint16 PageBenchServices::PeerPort() const
{
    return mp_services->PeerPort();
}

void PageBenchServices::Load()
{
    dataSaver->EmitDataLoaded();
}
