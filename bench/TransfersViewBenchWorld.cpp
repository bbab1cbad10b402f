#include "TransfersViewBenchWorld.h"

#include "TransferBenchWorld.h"

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/views/TransfersForm.h"

TransfersViewBenchWorld::TransfersViewBenchWorld(const QString& i_downloadFolder)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_services = std::make_unique<TransferBenchWorld>("bench", i_downloadFolder, false);
    mp_sizes = std::make_unique<SizeManager>();
    mp_bar = std::make_unique<ActionSetToolBar>();
    mp_view = std::make_unique<TransfersForm>();
    mp_view->Init();
}

TransfersViewBenchWorld::~TransfersViewBenchWorld()
{
    // The page goes before the services, as at the program's end.
    mp_view.reset();
    mp_bar.reset();
    // The store keeps its items to the end of the process: let the removal
    // handlers free the figure cells the running transfers still hold.
    for (const char* lp_type : {"write_position", "read_position", "last_receipt_time", "last_speed_measurement_time",
                                "bytes_per_second", "bytes_since_last_receipt", "bytes_uploaded"})
        d.GetType(lp_type)->GetItems().Remove();
    mp_sizes.reset();
    mp_services.reset();
}

TransferQueueManager& TransfersViewBenchWorld::Manager()
{
    return mp_services->Manager();
}

void TransfersViewBenchWorld::Load()
{
    dataSaver->EmitDataLoaded();
}
