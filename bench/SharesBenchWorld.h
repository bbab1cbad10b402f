#pragma once

// What the shares benchmarks stand on: the generated tree of
// ShareBenchTree.h written to disk, the surroundings of the shares service as
// the program builds them, an application that times every event it
// delivers on the GUI thread, and the printing of figures.

#include "ShareBenchTree.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class DataSaver;
class DNetManager;
class PeerMessenger;
class QTcpServer;
class Server;
class SharedFoldersManager;
class TimerManager;

namespace SharesBench {

// "<figure> <value> <unit>", and a "detail" line that breaks figures down.
void Print(const char* ip_figure, double i_value, const char* ip_unit);
void Detail(const std::string& i_text);
double Median(std::vector<double> i_values);
std::string Ms(double i_ms);

// The temporary places of one run: the share's root (made, empty), the
// list of its paths, the data file, and the log folder.
struct Scratch
{
    Scratch();
    QTemporaryDir m_folder;
    QTemporaryDir m_logs;
    std::string m_root;
    std::string m_pathsFile;
    std::string m_dataFile;
};

// Whether a phase is to run: every phase when the command line names none.
std::function<bool(const char*)> PhasesToRun(const QStringList& i_arguments);

void MakeFile(const std::string& i_path, qint64 i_size);
void MakeFolder(const std::string& i_path);
// Artists, their albums ("1998 - Broken Light") and tracks ("07 - Title.flac"),
// with a cover or notes in some albums. The paths go to i_pathsFile, one a
// line. Streams everything, so the generator leaves no memory peak behind.
void MakeTree(const std::string& i_root, const std::string& i_pathsFile);

// The application, timing every event it delivers on the GUI thread: the
// longest one is the longest the GUI thread was held by anything.
template <class Base>
class TimedApplication : public Base
{
public:
    using Base::Base;

    bool notify(QObject* ip_receiver, QEvent* ip_event) override
    {
        // Other threads' events (the walker's) hold no GUI.
        if (QThread::currentThread() != this->thread())
            return Base::notify(ip_receiver, ip_event);
        if (m_depth++ > 0) {
            const bool l_result = Base::notify(ip_receiver, ip_event);
            --m_depth;
            return l_result;
        }
        QElapsedTimer l_clock;
        l_clock.start();
        const bool l_result = Base::notify(ip_receiver, ip_event);
        m_longestNs = std::max(m_longestNs, l_clock.nsecsElapsed());
        --m_depth;
        return l_result;
    }

    qint64 TakeLongestNs() { return std::exchange(m_longestNs, 0); }

private:
    int m_depth = 0;
    qint64 m_longestNs = 0;
};

// The surroundings of the shares service, as the program builds them, minus
// any network beyond the loopback address: nobody logs in, no gateway is
// asked. The peer layer listens on the loopback address at ports of the
// system's choosing.
class World
{
public:
    // i_catchReplies: replies to searches and folder requests are counted
    // and dropped (built and compressed as always) instead of sent.
    World(const QString& i_logFolder, bool i_emitLoaded, bool i_catchReplies = true);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    SharedFoldersManager& Shares() { return *mp_shares; }
    DataSaver& Saver() { return *mp_saver; }
    PeerMessenger& Messenger() { return *mp_messenger; }
    // The plain listener's port once the data is loaded; 0 before.
    quint16 PeerPort() const;

    // Runs the event loop until the rescan under way is applied; its ms.
    double WaitIdle(const QElapsedTimer& i_since);

    long long m_sent = 0;
    long long m_sentBytes = 0;

private:
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    PeerMessenger* mp_messenger = nullptr;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::vector<QTcpServer*> m_listeners;
};

}  // namespace SharesBench
