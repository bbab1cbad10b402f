#include "StoreBrowserBench.h"

#include "SharesBenchWorld.h"

#include "core/store/Data.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/DataDialog.h"

#include <QApplication>
#include <QListWidget>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace SharesBench {

namespace {

constexpr int FolderFiles = 5000;
constexpr int Runs = 9;
const char* const SelectedType = "shared_file_name";

// Notes with a few words each, so that indexing makes words too.
void MakeNotes(const std::string& i_folder)
{
    static const char* const sp_words[] = {"harbour", "quiet", "lantern", "copper", "meadow", "signal", "winter", "ledger"};
    MakeFolder(i_folder);
    for (int l_n = 0; l_n < FolderFiles; ++l_n) {
        const std::string l_name = "note " + std::to_string(l_n) + " " + sp_words[l_n % 8] + " " + sp_words[(l_n / 8) % 8] + ".txt";
        MakeFile(i_folder + "/" + l_name, 100 + l_n % 900);
    }
}

// The browser shown, with the type of file names chosen, as the user
// leaves it while sharing.
DataDialog* OpenBrowser()
{
    auto* lp_dialog = new DataDialog(&d);
    lp_dialog->resize(784, 417);
    lp_dialog->show();
    auto* lp_types = lp_dialog->findChild<QTreeWidget*>("typeList");
    const QList<QTreeWidgetItem*> l_rows = lp_types->findItems(SelectedType, Qt::MatchExactly, 0);
    if (l_rows.size() != 1) {
        std::fprintf(stderr, "the browser has no row for %s\n", SelectedType);
        std::exit(1);
    }
    lp_types->setCurrentItem(l_rows.first());
    QCoreApplication::processEvents();
    return lp_dialog;
}

struct ShareRun
{
    double m_ms = 0;
    double m_longestEventMs = 0;
};

// One sharing of the folder in a fresh store; the browser, when asked for,
// opens before the folder is shared and must list every new file name.
ShareRun ShareFolder(const QString& i_logFolder, const std::string& i_folder, bool i_withBrowser)
{
    auto& l_app = static_cast<TimedApplication<QApplication>&>(*QCoreApplication::instance());
    World l_world(i_logFolder, true);
    l_world.Shares().Init();
    QElapsedTimer l_clock;
    l_clock.start();
    l_world.WaitIdle(l_clock);
    DataDialog* lp_dialog = i_withBrowser ? OpenBrowser() : nullptr;
    l_app.TakeLongestNs();
    l_clock.start();
    ItemPtr l_share = d.GetType("shared_folder")->GetItem(i_folder);
    l_share += d.GetType("shared_public")->GetGlobalNullItem();
    ShareRun l_run;
    l_run.m_ms = l_world.WaitIdle(l_clock);
    // What the browser still had to show is part of the wait.
    QCoreApplication::processEvents();
    l_run.m_ms = double(l_clock.nsecsElapsed()) / 1e6;
    l_run.m_longestEventMs = double(l_app.TakeLongestNs()) / 1e6;
    const std::size_t l_files = d.GetType("shared_file")->ItemCount();
    if (l_files != std::size_t(FolderFiles)) {
        std::fprintf(stderr, "%zu files indexed of %d\n", l_files, FolderFiles);
        std::exit(1);
    }
    if (lp_dialog) {
        const int l_rows = lp_dialog->findChild<QListWidget*>("itemList")->count();
        if (l_rows != FolderFiles) {
            std::fprintf(stderr, "the browser lists %d files of %d\n", l_rows, FolderFiles);
            std::exit(1);
        }
        delete lp_dialog;
    }
    return l_run;
}

}  // namespace

void RunStoreBrowser(const QString& i_logFolder, const QString& i_scratch)
{
    const std::string l_folder = (i_scratch + QStringLiteral("/notes")).toStdString();
    MakeNotes(l_folder);
    // The first sharing warms the file system's caches.
    ShareFolder(i_logFolder, l_folder, false);
    std::vector<double> l_closed, l_open, l_openEvents;
    for (int l_run = 0; l_run < Runs; ++l_run) {
        l_closed.push_back(ShareFolder(i_logFolder, l_folder, false).m_ms);
        const ShareRun l_withBrowser = ShareFolder(i_logFolder, l_folder, true);
        l_open.push_back(l_withBrowser.m_ms);
        l_openEvents.push_back(l_withBrowser.m_longestEventMs);
    }
    Detail("store_browser files=" + std::to_string(FolderFiles) + " closed_ms median=" + Ms(Median(l_closed)) +
           " open_ms median=" + Ms(Median(l_open)) + " open_longest_gui_event_ms median=" + Ms(Median(l_openEvents)));
    Print("store_browser_share_5k_ratio", Median(l_open) / Median(l_closed), "x");
}

}  // namespace SharesBench
