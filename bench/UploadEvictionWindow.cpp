#include "UploadEvictionWindow.h"

#include "BenchMainWindow.h"
#include "UploadFlood.h"
#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferQueueManager.h"
#include "ui/main/MainWindow.h"
#include "ui/views/TransfersForm.h"
#include "ui_MainWindow.h"
#include "ui_TransfersForm.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
// Writes every file the run asks for, one byte each; false when one could
// not be written.
bool WriteFiles(const QString& i_root, int i_users, int i_files, int i_newUsers)
{
    auto l_write = [&i_root](const std::string& i_user, int i_count) {
        for (int l_file = 0; l_file < i_count; ++l_file) {
            const QString l_path = UploadFlood::FileOf(i_root, i_user, l_file);
            if (l_file == 0 && !QDir().mkpath(QFileInfo(l_path).path()))
                return false;
            QFile l_out(l_path);
            if (!l_out.open(QIODevice::WriteOnly) || l_out.write("x") != 1)
                return false;
        }
        return true;
    };
    for (int l_user = 0; l_user < i_users; ++l_user) {
        if (!l_write(UploadFlood::Holder(l_user), i_files))
            return false;
    }
    for (int l_user = 0; l_user < i_newUsers; ++l_user) {
        if (!l_write(UploadFlood::Newcomer(l_user), UploadFlood::FilesPerNewUser))
            return false;
    }
    return true;
}

// Shares the folder with everyone, as the Options page does, and waits until
// the window's shares service has indexed its last file, for 2 minutes at
// most.
bool ShareAndIndex(const QString& i_folder, const QString& i_lastFile)
{
    QElapsedTimer l_clock;
    l_clock.start();
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(i_folder.toStdString());
    l_share += d.GetType("shared_public")->GetGlobalNullItem();
    while (sharedFoldersManager->IsRescanning() || !sharedFoldersManager->GetSharedFileItem(i_lastFile.toStdString())) {
        if (l_clock.elapsed() > 120000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    WaitUntilIdle();
    std::fprintf(stderr, "indexed in %.0f ms\n", MsSince(l_clock));
    return true;
}

int Run(int i_users, int i_files, int i_seconds)
{
    QTemporaryDir l_folder;
    const int l_newUsers = UploadFlood::NewUsersPerSecond * i_seconds;
    if (!l_folder.isValid() || !WriteFiles(l_folder.path(), i_users, i_files, l_newUsers)) {
        std::fprintf(stderr, "the files could not be written\n");
        return 1;
    }
    BenchMainWindow l_bench;
    // Looked for every 10 ms, dialogs took about 4% of the GUI thread's time
    // in the flood: a cost of the benchmark, not of the window.
    l_bench.AnswerEvery(250);
    MainWindow& l_window = l_bench.Window();
    Ui::MainWindow& l_form = *l_window.Form();
    Ui::TransfersForm& l_page = *l_form.transfersForm->Form();
    l_window.resize(1200, 800);
    l_form.tabControl->setCurrentWidget(l_form.transfersTab);
    l_page.transfersTabControl->setCurrentWidget(l_page.uploadsTab);
    if (!WaitForPaint(l_page.uploadsList->viewport())) {
        std::fprintf(stderr, "the list was never painted\n");
        return 1;
    }
    const QString l_lastFile =
        UploadFlood::FileOf(l_folder.path(), UploadFlood::Newcomer(l_newUsers - 1), UploadFlood::FilesPerNewUser - 1);
    if (!ShareAndIndex(l_folder.path() + "/shared", l_lastFile)) {
        std::fprintf(stderr, "the files were not indexed\n");
        return 1;
    }

    const QString l_root = l_folder.path();
    const UploadFlood::ShareFn l_shared = [&l_root](const std::string& i_user, int i_count) {
        std::vector<std::string> l_paths;
        for (int l_file = 0; l_file < i_count; ++l_file)
            l_paths.push_back(UploadFlood::FileOf(l_root, i_user, l_file).toStdString());
        return l_paths;
    };
    UploadFlood::Figures l_figures;
    if (!UploadFlood::Run(*transferQueueManager, *l_page.uploadsList, i_users, i_files, i_seconds, l_shared,
                          l_figures))
        return 1;
    std::printf("detail upload_eviction_window users=%d files_each=%d gui_cpu_pct=%.1f us=%.1f\n", i_users, i_files,
                l_figures.CpuPct(), l_figures.UsPerRequest());
    std::fflush(stdout);
    UploadFlood::Tell("eviction window", i_users, i_files, l_figures);
    return 0;
}
}  // namespace

namespace UploadEvictionWindow
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    return UploadFlood::RunIfAsked(i_argc, ip_argv, Option, Run, o_exitCode);
}

bool RunInOwnProcess(int i_seconds)
{
    return RunThisProgram({Option, "5000", "2", QString::number(i_seconds)});
}
}  // namespace UploadEvictionWindow
