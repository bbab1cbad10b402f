#include "SharesBenchWorld.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"

#include <QTcpServer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace SharesBench {

void Print(const char* ip_figure, double i_value, const char* ip_unit)
{
    std::printf("%s %.*f %s\n", ip_figure, i_value < 10 ? 2 : 1, i_value, ip_unit);
    std::fflush(stdout);
}

void Detail(const std::string& i_text)
{
    std::printf("detail %s\n", i_text.c_str());
    std::fflush(stdout);
}

double Median(std::vector<double> i_values)
{
    if (i_values.empty())
        return 0;
    std::sort(i_values.begin(), i_values.end());
    const std::size_t l_middle = i_values.size() / 2;
    return i_values.size() % 2 ? i_values[l_middle] : (i_values[l_middle - 1] + i_values[l_middle]) / 2;
}

std::string Ms(double i_ms)
{
    char l_text[32];
    std::snprintf(l_text, sizeof l_text, "%.1f", i_ms);
    return l_text;
}

void MakeFile(const std::string& i_path, qint64 i_size)
{
    const int l_fd = ::open(i_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (l_fd < 0 || ::ftruncate(l_fd, i_size) != 0) {
        std::fprintf(stderr, "cannot make %s\n", i_path.c_str());
        std::exit(1);
    }
    ::close(l_fd);
}

void MakeFolder(const std::string& i_path)
{
    if (::mkdir(i_path.c_str(), 0755) != 0) {
        std::fprintf(stderr, "cannot make %s\n", i_path.c_str());
        std::exit(1);
    }
}

void MakeTree(const std::string& i_root, const std::string& i_pathsFile)
{
    std::ofstream l_paths(i_pathsFile);
    WalkShareTree(i_root, MakeFolder, [&l_paths](const std::string& i_path, qint64 i_size) {
        MakeFile(i_path, i_size);
        l_paths << i_path << '\n';
    });
}

Scratch::Scratch()
    : m_root(m_folder.filePath("share").toStdString()),
      m_pathsFile(m_folder.filePath("paths.txt").toStdString()),
      m_dataFile(m_folder.filePath("bench.dat").toStdString())
{
    MakeFolder(m_root);
}

std::function<bool(const char*)> PhasesToRun(const QStringList& i_arguments)
{
    const QStringList l_phases = i_arguments.mid(1);
    return [l_phases](const char* ip_phase) { return l_phases.isEmpty() || l_phases.contains(ip_phase); };
}

World::World(const QString& i_logFolder, bool i_emitLoaded, bool i_catchReplies)
{
    d.Reset();
    SetLogFolder(i_logFolder);
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    SetPeerListenFunction([this](QTcpServer& io_server, quint16) {
        m_listeners.push_back(&io_server);
        return io_server.listen(QHostAddress::LocalHost, 0);
    });
    mp_messenger = new PeerMessenger;
    mp_dnet = std::make_unique<DNetManager>();
    Settings::DeclareTypes();
    mp_shares = std::make_unique<SharedFoldersManager>();
    if (i_catchReplies)
        mp_shares->SetMessageSink([this](const std::string&, MemStream& i_body) {
            m_sentBytes += i_body.mp_buffer->m_writeIndex;
            ++m_sent;
        });
    if (i_emitLoaded)
        mp_saver->EmitDataLoaded();
    Settings::Set("use_upnp", "no");
    Settings::Set("username", "bencher");
}

World::~World()
{
    mp_shares.reset();
    mp_dnet.reset();
    delete mp_messenger;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetPeerListenFunction({});
    mp_server.reset();
    mp_saver.reset();
    mp_timers.reset();
    d.Reset();
}

quint16 World::PeerPort() const
{
    return m_listeners.empty() ? 0 : m_listeners.front()->serverPort();
}

double World::WaitIdle(const QElapsedTimer& i_since)
{
    while (mp_shares->IsRescanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return double(i_since.nsecsElapsed()) / 1e6;
}

}  // namespace SharesBench
