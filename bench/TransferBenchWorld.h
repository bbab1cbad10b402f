#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

class DataSaver;
class DNetManager;
class QTcpServer;
class Server;
class SharedFoldersManager;
class TimerManager;
class TransferQueueManager;

// One client's services in a benchmark process, as the main window starts
// them: store, timers, data saver, server link (not connected unless asked), peer
// layer listening on the loopback address, distributed network, shares and
// the transfer manager. Users are put online and given addresses by hand,
// as the server would, unless the link logs in to a fake server.
class TransferBenchWorld
{
public:
    // i_load false leaves the data-loaded step to the caller, for what must
    // be set up before it (EmitDataLoaded on the data saver).
    TransferBenchWorld(const std::string& i_userName, const QString& i_downloadFolder, bool i_load = true);
    ~TransferBenchWorld();
    TransferBenchWorld(const TransferBenchWorld&) = delete;
    TransferBenchWorld& operator=(const TransferBenchWorld&) = delete;

    TransferQueueManager& Manager() { return *mp_manager; }
    quint16 PeerPort() const;
    quint16 ObfuscatedPeerPort() const;

    // Points the server link at a central server on 127.0.0.1 and the port
    // and logs in, with no port forwarding (it would look for a gateway
    // beyond the loopback), telling the server the ports the peer layer
    // listens on. Waits up to 10 s for the login; false when it did not
    // come.
    bool LogIn(quint16 i_serverPort);

    // The server's part: the user is online at the address (host order;
    // 127.0.0.1 unless told) and the port.
    static void MeetUser(const std::string& i_user, quint16 i_port, quint32 i_address = 0x7F000001);
    // The server's part: the user is reported offline, as its answer to the
    // look-up that a queue request makes says of a user who is not logged in.
    static void ReportOffline(const std::string& i_user);
    // Shares one local file with everyone, as a rescan would index it; the
    // path under which others ask for it.
    static std::string ShareFile(const QString& i_path);

    // Shuts the manager down, as the main window's shut-down does, and
    // tells how long that took.
    qint64 ShutDownMs();

private:
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_manager;
    std::vector<QTcpServer*> m_listeners;
};

// CPU time of the calling thread so far, in milliseconds.
double ThreadCpuMs();
