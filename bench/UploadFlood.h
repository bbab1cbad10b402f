#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

class QTreeWidget;
class TransferQueueManager;

// The flood both eviction benchmarks (UploadEvictionView.h) run against an
// uploads tree, the page's alone or the main window's: users the server
// reports offline fill the upload queue to its bound, then 50 new such users
// a second each ask to queue 2 files, every request dropping the
// longest-waiting entry.
namespace UploadFlood
{
constexpr int NewUsersPerSecond = 50;
constexpr int FilesPerNewUser = 2;

// The users who fill the queue ("holder<n>") and those who come later
// ("newcomer<n>").
std::string Holder(int i_index);
std::string Newcomer(int i_index);

// The local path of a user's file: in a folder of the user's own under
// i_root, under a name of the user's own.
QString FileOf(const QString& i_root, const std::string& i_user, int i_file);

// The paths under which a user asks for his files, once they are shared.
using ShareFn = std::function<std::vector<std::string>(const std::string& i_user, int i_files)>;

struct Figures
{
    int m_requests = 0;
    // The GUI thread's CPU time from the first request of the flood until
    // the tree has caught up, the wall time of that, and the CPU time spent
    // in the requests themselves.
    double m_cpuMs = 0;
    double m_wallMs = 0;
    double m_requestsCpuMs = 0;

    double CpuPct() const { return 100.0 * m_cpuMs / m_wallMs; }
    double UsPerRequest() const { return 1000.0 * m_cpuMs / m_requests; }
};

// Fills the queue with i_users of i_files each, lets the tree show them,
// then runs the flood for i_seconds and waits until the tree has caught up.
// The newcomers' files are shared by i_share after the fill. False (with the
// reason on stderr) when the tree was never painted or the queue or the tree
// did not hold what they should.
bool Run(TransferQueueManager& io_manager, const QTreeWidget& i_tree, int i_users, int i_files, int i_seconds,
         const ShareFn& i_share, Figures& o_figures);

// For a measurement's option "<option> users files seconds": runs the
// measurement when the option is there, with exit code 2 (and the reason on
// stderr) when its numbers do not fill the queue's bound. True when the
// option was there.
bool RunIfAsked(int i_argc, char** ip_argv, const char* ip_option,
                const std::function<int(int i_users, int i_files, int i_seconds)>& i_run, int& o_exitCode);

// The figures in words on stderr, for whoever runs the benchmark.
void Tell(const char* ip_what, int i_users, int i_files, const Figures& i_figures);
}  // namespace UploadFlood
