#include "UploadEvictionView.h"

#include "TransferBenchWorld.h"
#include "TransfersViewBenchWorld.h"
#include "UploadFlood.h"
#include "ViewBenchLoop.h"

#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
int Run(int i_users, int i_files, int i_seconds)
{
    TransfersViewBenchWorld l_world;
    if (l_world.DownloadFolder().isEmpty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString l_root = l_world.DownloadFolder();
    if (!l_world.Show(true)) {
        std::fprintf(stderr, "the list was never painted\n");
        return 1;
    }
    l_world.Load();
    // Each user's files in a shared folder of their own, put in the store
    // as a rescan would index them.
    const UploadFlood::ShareFn l_share = [&l_root](const std::string& i_user, int i_files) {
        std::vector<std::string> l_paths;
        for (int l_file = 0; l_file < i_files; ++l_file)
            l_paths.push_back(TransferBenchWorld::ShareFile(UploadFlood::FileOf(l_root, i_user, l_file)));
        return l_paths;
    };
    UploadFlood::Figures l_figures;
    if (!UploadFlood::Run(l_world.Manager(), *l_world.View().Form()->uploadsList, i_users, i_files, i_seconds, l_share,
                          l_figures))
        return 1;
    if (i_files == UploadFlood::FilesPerNewUser) {
        PrintFigure("upload_eviction_view_gui_cpu_pct", l_figures.CpuPct(), "%");
        PrintFigure("upload_eviction_view_us", l_figures.UsPerRequest(), "us");
    } else {
        std::printf("detail upload_eviction_view users=%d files_each=%d gui_cpu_pct=%.1f us=%.1f\n", i_users, i_files,
                    l_figures.CpuPct(), l_figures.UsPerRequest());
    }
    UploadFlood::Tell("eviction view", i_users, i_files, l_figures);
    return 0;
}
}  // namespace

namespace UploadEvictionView
{
bool RunIfAsked(int i_argc, char** ip_argv, int& o_exitCode)
{
    return UploadFlood::RunIfAsked(i_argc, ip_argv, Option, Run, o_exitCode);
}

bool RunAll(int i_seconds)
{
    const QString l_seconds = QString::number(i_seconds);
    return RunThisProgram({Option, "5000", "2", l_seconds}) && RunThisProgram({Option, "50", "200", l_seconds});
}
}  // namespace UploadEvictionView
