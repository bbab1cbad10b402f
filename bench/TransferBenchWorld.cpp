#include "TransferBenchWorld.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "portmap/PortForwarderInterface.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>

#include <ctime>

TransferBenchWorld::TransferBenchWorld(const std::string& i_userName, const QString& i_downloadFolder, bool i_load)
{
    // The client's logs, per process, when asked for.
    const QString l_logs = qEnvironmentVariable("KSTR_BENCH_LOGS");
    if (!l_logs.isEmpty())
        SetLogFolder(l_logs + "/" + QString::fromStdString(i_userName));
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    SetPeerListenFunction([this](QTcpServer& io_server, quint16) {
        m_listeners.push_back(&io_server);
        return io_server.listen(QHostAddress::LocalHost, 0);
    });
    new PeerMessenger;
    Settings::DeclareTypes();
    Settings::Set("username", i_userName);
    mp_dnet = std::make_unique<DNetManager>();
    mp_shares = std::make_unique<SharedFoldersManager>();
    mp_manager = std::make_unique<TransferQueueManager>();
    Settings::Set("download_folder", i_downloadFolder.toStdString());
    if (i_load)
        dataSaver->EmitDataLoaded();
}

TransferBenchWorld::~TransferBenchWorld()
{
    mp_manager.reset();
    mp_shares.reset();
    mp_dnet.reset();
    delete peerMessenger;
    SetPeerListenFunction({});
}

quint16 TransferBenchWorld::PeerPort() const
{
    return m_listeners.empty() ? 0 : m_listeners.front()->serverPort();
}

quint16 TransferBenchWorld::ObfuscatedPeerPort() const
{
    return m_listeners.size() < 2 ? 0 : m_listeners[1]->serverPort();
}

bool TransferBenchWorld::LogIn(quint16 i_serverPort)
{
    mp_server->SetPortForwarder(nullptr);
    mp_server->SetServerAddress("127.0.0.1", i_serverPort);
    Settings::Set("password", "bench");
    // The ports the server tells others, who answer our relayed requests
    // there: the listeners' own, not the settings' defaults.
    Settings::Set("listening_port", std::to_string(PeerPort()));
    Settings::Set("obfuscated_listening_port", std::to_string(ObfuscatedPeerPort()));
    mp_server->Connect();
    QElapsedTimer l_wait;
    l_wait.start();
    while (!mp_server->IsConnected() && l_wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    return mp_server->IsConnected();
}

void TransferBenchWorld::MeetUser(const std::string& i_user, quint16 i_port, quint32 i_address)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    l_user += d.GetType("user_address")->GetItem(std::to_string(i_address));
    l_user += d.GetType("user_port")->GetItem(std::to_string(i_port));
    l_user += d.GetType("user_obfuscated_port")->GetItem("0");
    l_user.Disconnect("user_address_request");
    l_user += d.GetType("is_online")->GetGlobalNullItem();
}

void TransferBenchWorld::ReportOffline(const std::string& i_user)
{
    Server::SetUserStatus(d.GetType("user")->GetItem(i_user), false);
}

std::string TransferBenchWorld::ShareFile(const QString& i_path)
{
    const QFileInfo l_file(i_path);
    const std::string l_folder = l_file.path().toStdString();
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(l_folder);
    l_share += d.GetType("shared_public")->GetGlobalNullItem();
    ItemPtr l_folderItem = d.GetType("shared_file_folder")->GetItem(l_folder);
    l_share += l_folderItem;
    ItemPtr l_sharedFile = l_folderItem.NewItem("shared_file");
    l_sharedFile += d.GetType("shared_file_name")->GetItem(l_file.fileName().toStdString());
    l_sharedFile += d.GetType("shared_file_size")->GetItem(std::to_string(l_file.size()));
    return l_folder + "/" + l_file.fileName().toStdString();
}

qint64 TransferBenchWorld::ShutDownMs()
{
    QElapsedTimer l_timer;
    l_timer.start();
    mp_manager.reset();
    return l_timer.elapsed();
}

double ThreadCpuMs()
{
    timespec l_time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
    return double(l_time.tv_sec) * 1000.0 + double(l_time.tv_nsec) / 1e6;
}
