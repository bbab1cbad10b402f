#include "ManyUserRemoval.h"

#include "TransfersViewBenchWorld.h"
#include "ViewBenchLoop.h"

#include "transfers/TransferQueueManager.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int Users = 2500;

int Measure()
{
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    TransferQueueManager& l_manager = l_world.Manager();
    QTreeWidget& l_tree = *l_world.View().Form()->downloadsList;
    bool l_painted = l_world.Show();
    l_world.Load();
    std::vector<ItemPtr> l_downloads;
    for (int l_user = 0; l_user < Users; ++l_user) {
        const std::string l_name = "sharer" + std::to_string(l_user);
        for (const char* lp_folder : {"music\\first", "music\\second"})
            l_downloads.push_back(l_manager.AddDownload(l_name, l_name + " song.mp3", lp_folder, 4000000, 0));
    }
    l_painted = RunUntilIdle(l_tree.viewport()) && l_painted;
    if (RowsAtDepth(l_tree, 2) != 2 * Users || !l_painted) {
        std::fprintf(stderr, "%d rows shown, painted: %d\n", RowsAtDepth(l_tree, 2), int(l_painted));
        return 1;
    }

    QElapsedTimer l_clock;
    l_clock.start();
    for (const ItemPtr& l_download : l_downloads)
        l_manager.RemoveDownload(l_download);
    while (l_tree.topLevelItemCount() > 0 && l_clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    WaitUntilIdle();
    const double l_removeMs = MsSince(l_clock);
    if (l_tree.topLevelItemCount() != 0) {
        std::fprintf(stderr, "%d user rows left\n", l_tree.topLevelItemCount());
        return 1;
    }
    PrintFigure("download_remove_5k_ms", l_removeMs, "ms");
    return 0;
}
}  // namespace

namespace ManyUserRemoval
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    for (int l_arg = 1; l_arg < i_argc; ++l_arg) {
        if (std::string(ip_argv[l_arg]) == Option) {
            o_exitCode = Measure();
            return true;
        }
    }
    return false;
}

bool Run()
{
    return RunThisProgram({Option});
}
}  // namespace ManyUserRemoval
