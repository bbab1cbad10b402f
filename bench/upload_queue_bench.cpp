// The upload queue under a flood of queue requests from users the server
// reports offline, one figure a line, name first:
//
//   upload_queue_flood_cpu_pct  the GUI thread's CPU time while 3,000 new
//                               entries a minute arrive, in percent of the
//                               wall time of the run
//   upload_queue_insert_us      the mean time of one more request while the
//                               queue holds its bound of 10,000 entries (each
//                               one drops the longest-waiting entry)
//   upload_refusal_gui_cpu_pct  the GUI thread's CPU time, in percent of the
//                               wall time, while a logged-in user asks for 20
//                               files a second and refuses every offer
//   start_next_upload_us        the mean time of one refusal handled, from the
//                               refusal's arrival until it returns, over 1,000
//
// then the figures of the queue at its bound with the Transfers page shown
// (UploadEvictionView.h), with the whole main window shown
// (UploadEvictionWindow.h), with the page shown while a crowd of users
// with new names turns the queue over (UploadChurnView.h), and while the
// drops are spread over many users, one each a refresh (UploadSpreadView.h).
//
// Every flood request names a new user and the one shared file, as a peer
// that claims a new name for each request does; the server's answer to the
// look-up that the request makes reports the user offline (only such a
// user's entry makes room at the bound). One upload runs meanwhile, so that
// the slot is taken. For the refusals that upload has ended, so the slot is
// free and nothing runs, and the queue holds the flood's 10,000 entries of
// offline users, none of which can start.
//
// Options: --seconds N for the flood and for the refusals (default 120),
// --eviction-seconds N for the runs with the page and the window (default
// 30), --churn-seconds N for the turning queue (default 300),
// --spread-seconds N and --spread-hidden-seconds N for the spread drops
// with the page shown and hidden (default 180 each). The runs with the
// page, the window, the turning queue and the spread drops each run alone
// with their own options (UploadEvictionView::Option,
// UploadEvictionWindow::Option, UploadChurnView::Option,
// UploadSpreadView::Option and HiddenOption).

#include "TransferBenchWorld.h"
#include "UploadChurnView.h"
#include "UploadEvictionView.h"
#include "UploadEvictionWindow.h"
#include "UploadSpreadView.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "transfers/TransferQueueManager.h"
#include "transfers/TransferStatus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int EntriesPerMinute = 3000;
constexpr int TimedInserts = 1000;
constexpr int RefusedPerSecond = 20;
// The refusing user asks for these files in turn, and again once refused.
constexpr int RefusedFiles = 500;
constexpr int TimedRefusals = 1000;

int Seconds(const QStringList& i_arguments, const char* ip_option, int i_default)
{
    const qsizetype l_at = i_arguments.indexOf(ip_option);
    return l_at >= 0 && l_at + 1 < i_arguments.size() ? i_arguments.at(l_at + 1).toInt() : i_default;
}

// Runs the event loop with the timer going for that long; the GUI thread's
// CPU time meanwhile, in percent of the wall time.
double CpuPctWhileRunning(QCoreApplication& io_application, QTimer& io_timer, int i_seconds)
{
    QElapsedTimer l_wall;
    const double l_cpuBefore = ThreadCpuMs();
    l_wall.start();
    io_timer.start();
    QTimer::singleShot(i_seconds * 1000, &io_application, &QCoreApplication::quit);
    io_application.exec();
    io_timer.stop();
    return 100.0 * (ThreadCpuMs() - l_cpuBefore) / double(l_wall.elapsed());
}

std::vector<std::string> ShareRefusedFiles(const QTemporaryDir& i_folder)
{
    std::vector<std::string> l_paths;
    for (int l_index = 0; l_index < RefusedFiles; ++l_index)
        l_paths.push_back(TransferBenchWorld::ShareFile(i_folder.filePath(QString("refused/%1.mp3").arg(l_index))));
    return l_paths;
}

// The token of the upload on offer (one slot: at most one is), 0 for none.
unsigned int OfferedToken()
{
    return d.GetType("upload_entry_status")->HasItem(TransferStatus::Requesting)["upload_entry"]["transfer_req"].AsUInt();
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_application(i_argc, ip_argv);
    int l_exitCode = 0;
    if (UploadEvictionView::RunIfAsked(i_argc, ip_argv, l_exitCode) ||
        UploadEvictionWindow::RunIfAsked(i_argc, ip_argv, l_exitCode) ||
        UploadChurnView::RunIfAsked(i_argc, ip_argv, l_exitCode) ||
        UploadSpreadView::RunIfAsked(i_argc, ip_argv, l_exitCode))
        return l_exitCode;
    const int l_seconds = Seconds(l_application.arguments(), "--seconds", 120);
    QTemporaryDir l_folder;
    const QString l_filePath = l_folder.filePath("song.mp3");
    QFile l_file(l_filePath);
    if (!l_file.open(QIODevice::WriteOnly) || l_file.write("x") != 1)
        return 1;
    l_file.close();

    TransferBenchWorld l_world("me", l_folder.filePath("downloads"));
    TransferQueueManager& l_manager = l_world.Manager();
    const std::string l_path = TransferBenchWorld::ShareFile(l_filePath);
    TransferBenchWorld::MeetUser("runner", 1);
    l_manager.OnQueueUploadRequested("runner", l_path);

    int l_nextUser = 0;
    auto l_request = [&] {
        const std::string l_user = "flood" + std::to_string(l_nextUser++);
        l_manager.OnQueueUploadRequested(l_user, l_path);
        return l_user;
    };
    // A request and the server's answer to its look-up.
    auto l_flood = [&] { TransferBenchWorld::ReportOffline(l_request()); };

    QTimer l_arrivals;
    l_arrivals.setInterval(60000 / EntriesPerMinute);
    QObject::connect(&l_arrivals, &QTimer::timeout, l_flood);
    std::printf("upload_queue_flood_cpu_pct %.2f\n", CpuPctWhileRunning(l_application, l_arrivals, l_seconds));

    while (l_manager.QueuedUploadCount() < int(TransferQueueManager::MaxQueuedUploads))
        l_flood();
    // The requests alone are timed; the answers come after.
    std::vector<std::string> l_unanswered;
    l_unanswered.reserve(TimedInserts);
    QElapsedTimer l_timer;
    l_timer.start();
    for (int l_index = 0; l_index < TimedInserts; ++l_index)
        l_unanswered.push_back(l_request());
    std::printf("upload_queue_insert_us %.1f\n", double(l_timer.nsecsElapsed()) / 1000.0 / TimedInserts);
    for (const std::string& l_user : l_unanswered)
        TransferBenchWorld::ReportOffline(l_user);

    for (ItemPtr l_upload : d.GetType("user")->GetItem("runner").GetItems("upload_entry"))
        l_manager.SetUploadEntryStatus(l_upload, TransferStatus::Complete);
    TransferBenchWorld::MeetUser("refuser", 1);
    const std::vector<std::string> l_refused = ShareRefusedFiles(l_folder);
    std::size_t l_nextFile = 0;
    int l_unoffered = 0;
    auto l_ask = [&] {
        l_manager.OnQueueUploadRequested("refuser", l_refused[l_nextFile++ % l_refused.size()]);
        const unsigned int l_token = OfferedToken();
        l_unoffered += l_token == 0 ? 1 : 0;
        return l_token;
    };
    auto l_refuse = [&](unsigned int i_token) {
        if (i_token != 0)
            l_manager.OnFileTransferResponse("refuser", i_token, false, false, 0, "Cancelled");
    };

    QTimer l_asks;
    l_asks.setInterval(1000 / RefusedPerSecond);
    QObject::connect(&l_asks, &QTimer::timeout, [&] {
        // The peer's refusal arrives at a later turn of the loop.
        QTimer::singleShot(0, &l_application, [&l_refuse, l_token = l_ask()] { l_refuse(l_token); });
    });
    std::printf("upload_refusal_gui_cpu_pct %.2f\n", CpuPctWhileRunning(l_application, l_asks, l_seconds));
    l_refuse(OfferedToken());

    while (l_manager.QueuedUploadCount() < int(TransferQueueManager::MaxQueuedUploads))
        l_flood();
    qint64 l_refusalNs = 0;
    for (int l_index = 0; l_index < TimedRefusals; ++l_index) {
        const unsigned int l_token = l_ask();
        l_timer.restart();
        l_refuse(l_token);
        l_refusalNs += l_timer.nsecsElapsed();
    }
    std::printf("start_next_upload_us %.1f\n", double(l_refusalNs) / 1000.0 / TimedRefusals);
    std::fprintf(stderr, "queued at the end: %d, requests not offered at once: %d\n", l_manager.QueuedUploadCount(),
                 l_unoffered);
    const int l_evictionSeconds = Seconds(l_application.arguments(), "--eviction-seconds", 30);
    const int l_churnSeconds = Seconds(l_application.arguments(), "--churn-seconds", 300);
    const int l_spreadSeconds = Seconds(l_application.arguments(), "--spread-seconds", 180);
    const int l_spreadHiddenSeconds = Seconds(l_application.arguments(), "--spread-hidden-seconds", 180);
    return UploadEvictionView::RunAll(l_evictionSeconds) && UploadEvictionWindow::RunInOwnProcess(l_evictionSeconds) &&
                   UploadChurnView::RunInOwnProcess(l_churnSeconds) &&
                   UploadSpreadView::RunInOwnProcess(l_spreadSeconds) &&
                   UploadSpreadView::RunHiddenInOwnProcess(l_spreadHiddenSeconds)
               ? 0
               : 1;
}
