#include "TransfersViewBenchWorld.h"

#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/frame/SizeManager.h"
#include "ui/views/TransfersForm.h"

#include <QHostAddress>
#include <QTcpServer>

TransfersViewBenchWorld::TransfersViewBenchWorld(const QString& i_downloadFolder)
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    // The listeners open at data load; a port of the system's choosing on
    // the loopback address keeps runs from colliding with anything.
    SetPeerListenFunction([this](QTcpServer& io_server, quint16) {
        m_listeners.push_back(&io_server);
        return io_server.listen(QHostAddress::LocalHost, 0);
    });
    new PeerMessenger;
    Settings::DeclareTypes();
    Settings::Set("username", "bench");
    mp_dnet = std::make_unique<DNetManager>();
    mp_shares = std::make_unique<SharedFoldersManager>();
    mp_sizes = std::make_unique<SizeManager>();
    mp_manager = std::make_unique<TransferQueueManager>();
    Settings::Set("download_folder", i_downloadFolder.toStdString());
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
    mp_manager.reset();
    mp_sizes.reset();
    mp_shares.reset();
    mp_dnet.reset();
    delete peerMessenger;
    SetPeerListenFunction({});
}

void TransfersViewBenchWorld::Load()
{
    dataSaver->EmitDataLoaded();
}
