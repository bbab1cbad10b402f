// The browse page on the largest listing a peer can send, one figure a
// line, name first:
//
//   browse_view_open_ms          from the hand-over of the listing to the
//                                shares service until the page is filled,
//                                painted and the event loop is free
//   browse_listing_store_ms      the shares service's own storing of the
//                                listing, within that one synchronous call
//   browse_view_longest_block_ms the view's own work: its part of that call,
//                                or the longest event after it
//   browse_view_filter_ms        one filter change while the largest folder
//                                is open, until the event loop is free
//   browse_view_rss_mb           resident memory the listing and its page add
//
// The listing is the generated music share of the shares benchmark (its
// root, artists and albums, as "\" paths): the first files of it, as many as
// fit the 1 MiB frame of a compressed browse reply. It is handed over as the
// peer layer hands it over (SharedFoldersManager::OnUserShare); then a second
// listing of the same user replaces the page. Each figure is the larger of
// the two hand-overs; "detail" lines give both, and the same figures for the
// whole share (100,000 files in 10,000 folders), without targets.
//
// The Shares page is shown (offscreen unless QT_QPA_PLATFORM says
// otherwise), 1200x800, with "expand_new_shares" on, as at a start.

#include "PageBenchServices.h"
#include "ShareBenchTree.h"
#include "ViewBenchLoop.h"

#include "core/io/MemStream.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"
#include "peer/PeerMessageCodes.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFoldersManager.h"
#include "ui/frame/EventToolBar.h"
#include "ui/views/ShareForm.h"
#include "ui/views/SharesForm.h"
#include "ui_ShareForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{
std::string RemotePath(std::string i_path)
{
    std::replace(i_path.begin(), i_path.end(), '/', '\\');
    return i_path;
}

// The share as a peer lists it, folder by folder in the order the
// generator makes them, each with its files.
struct GeneratedFolder
{
    std::string m_name;
    std::vector<FileInfo> m_files;
};

std::vector<GeneratedFolder> GenerateShare()
{
    std::vector<GeneratedFolder> l_folders{{"D:\\Music", {}}};
    WalkShareTree(
        "D:/Music", [&](const std::string& i_folder) { l_folders.push_back({RemotePath(i_folder), {}}); },
        [&](const std::string& i_path, qint64 i_size) {
            FileInfo l_file;
            l_file.m_name = i_path.substr(i_path.rfind('/') + 1);
            l_file.m_fileSize = i_size;
            l_folders.back().m_files.push_back(l_file);
        });
    return l_folders;
}

// The first i_files files of the share with the folders up to the last.
FileInfoMap FirstFiles(const std::vector<GeneratedFolder>& i_share, int i_files)
{
    FileInfoMap l_listing;
    for (const GeneratedFolder& l_folder : i_share) {
        if (i_files <= 0)
            break;
        std::set<FileInfo>& l_files = l_listing[l_folder.m_name];
        for (const FileInfo& l_file : l_folder.m_files) {
            if (i_files-- <= 0)
                break;
            l_files.insert(l_file);
        }
    }
    return l_listing;
}

bool FitsOneFrame(const FileInfoMap& i_listing)
{
    MemStream l_payload;
    l_payload.Write(i_listing);
    l_payload.Write(0u);
    MemStream l_body;
    return PayloadCompression::Frame(PeerMessageCodes::SharedFileList, l_payload, l_body) ==
           PayloadCompression::Outcome::Built;
}

int LargestSendable(const std::vector<GeneratedFolder>& i_share)
{
    int l_fits = 0;
    int l_fails = TotalFiles + 1;
    while (l_fails - l_fits > 1) {
        const int l_middle = (l_fits + l_fails) / 2;
        (FitsOneFrame(FirstFiles(i_share, l_middle)) ? l_fits : l_fails) = l_middle;
    }
    return l_fits;
}

// Marks the moments within the hand-over where the service's work gives way
// to the view's: the first file of an old listing removed (the pages have
// let go of it by then), and the new page's tab item made.
class Marks : public DataHandler
{
public:
    explicit Marks(const QElapsedTimer& i_clock) : m_clock(i_clock)
    {
        d.GetType("user_share_file")->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&Marks::OnFileRemoved));
        d.GetType("user_share_tab")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&Marks::OnTabAdded));
    }
    void Reset() { m_oldDropped = m_pageStarted = -1; }
    void OnFileRemoved(Item*)
    {
        if (m_oldDropped < 0)
            m_oldDropped = MsSince(m_clock);
    }
    void OnTabAdded(Item*)
    {
        if (m_pageStarted < 0)
            m_pageStarted = MsSince(m_clock);
    }

    const QElapsedTimer& m_clock;
    double m_oldDropped = -1;
    double m_pageStarted = -1;
};

struct HandOver
{
    double m_openMs = 0;
    double m_storeMs = 0;
    double m_longestMs = 0;
};

ShareForm* PageOfPeer()
{
    return d.GetType("user")->GetItem("peer")["user_share"]["user_share_tab"].AsObject<ShareForm>();
}

HandOver Receive(BlockProbe& io_probe, FileInfoMap i_listing)
{
    QElapsedTimer l_clock;
    Marks l_marks(l_clock);
    AttributeTranslationTable l_table;
    l_clock.start();
    sharedFoldersManager->OnUserShare("peer", i_listing, l_table);
    const double l_returned = MsSince(l_clock);
    io_probe.Mark();
    RunUntilIdle(PageOfPeer()->Form()->folderTree->viewport());
    HandOver l_result;
    l_result.m_openMs = MsSince(l_clock);
    // Before the old listing's files go, the old page drops its rows.
    const double l_viewDrop = l_marks.m_oldDropped < 0 ? 0 : l_marks.m_oldDropped;
    l_result.m_storeMs = l_marks.m_pageStarted - l_viewDrop;
    const double l_viewInCall = l_viewDrop + l_returned - l_marks.m_pageStarted;
    l_result.m_longestMs = std::max(l_viewInCall, io_probe.LongestSinceMarkMs());
    return l_result;
}

// One filter change with the largest folder open; the word occurs in many
// names. Returns the ms until the event loop is free.
double FilterChange(const FileInfoMap& i_listing, const char* ip_word, int& o_rows)
{
    std::string l_largest;
    std::size_t l_most = 0;
    for (const auto& [l_name, l_files] : i_listing) {
        if (l_files.size() > l_most) {
            l_most = l_files.size();
            l_largest = l_name;
        }
    }
    ShareForm* lp_page = PageOfPeer();
    ItemPtr l_folder = d.GetType("user_share_folder_name")->HasItem(l_largest).GetItems("user_share_folder").Connected(
        ItemPtr(lp_page->ShareItem()));
    auto* lp_row = l_folder["user_share_folder_node"].AsObject<QTreeWidgetItem>();
    QWidget* lp_list = lp_page->Form()->fileList->viewport();
    lp_page->Form()->filterEdit->clear();
    lp_page->Form()->folderTree->setCurrentItem(lp_row);
    RunUntilIdle(lp_list);
    QElapsedTimer l_clock;
    l_clock.start();
    lp_page->Form()->filterEdit->setText(QString::fromLatin1(ip_word));
    RunUntilIdle(lp_list);
    const double l_ms = MsSince(l_clock);
    o_rows = lp_page->Form()->fileList->topLevelItemCount();
    lp_page->Form()->filterEdit->clear();
    RunUntilIdle(lp_list);
    return l_ms;
}

struct Figures
{
    HandOver m_first;
    HandOver m_replace;
    double m_filterMs = 0;
    double m_filterNoneMs = 0;
    double m_rssMb = 0;
};

Figures Run(BlockProbe& io_probe, const FileInfoMap& i_listing)
{
    Figures l_figures;
    const double l_before = ResidentMb();
    l_figures.m_first = Receive(io_probe, i_listing);
    l_figures.m_rssMb = ResidentMb() - l_before;
    int l_rows = 0;
    l_figures.m_filterMs = FilterChange(i_listing, "love", l_rows);
    std::printf("detail filter_rows word=love rows=%d\n", l_rows);
    l_figures.m_filterNoneMs = FilterChange(i_listing, "nowhere", l_rows);
    l_figures.m_replace = Receive(io_probe, i_listing);
    return l_figures;
}

void Detail(const char* ip_case, const Figures& i_figures)
{
    for (const auto& [lp_which, l_handOver] :
         {std::pair{"first", i_figures.m_first}, std::pair{"replace", i_figures.m_replace}})
        std::printf("detail %s %s open_ms=%.1f store_ms=%.1f longest_block_ms=%.1f\n", ip_case, lp_which,
                    l_handOver.m_openMs, l_handOver.m_storeMs, l_handOver.m_longestMs);
    std::printf("detail %s filter_ms=%.1f filter_nothing_matches_ms=%.1f rss_mb=%.1f\n", ip_case, i_figures.m_filterMs,
                i_figures.m_filterNoneMs, i_figures.m_rssMb);
    std::fflush(stdout);
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_app(i_argc, ip_argv);
    QTemporaryDir l_downloadFolder;
    if (!l_downloadFolder.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    qRegisterMetaType<ItemPtr>("ItemPtr");
    PageBenchServices l_services(l_downloadFolder.path());
    auto* lp_tabs = new SharesForm;
    lp_tabs->Init();
    l_services.Load();
    EventToolBar l_events;
    Settings::Set("expand_new_shares", "yes");
    lp_tabs->resize(1200, 800);
    lp_tabs->show();

    const std::vector<GeneratedFolder> l_share = GenerateShare();
    const int l_sendable = LargestSendable(l_share);
    const FileInfoMap l_listing = FirstFiles(l_share, l_sendable);
    std::printf("detail listing files=%d folders=%zu (the most whose compressed reply fits 1 MiB)\n", l_sendable,
                l_listing.size());
    BlockProbe l_probe;
    const Figures l_figures = Run(l_probe, l_listing);
    PrintFigure("browse_view_open_ms", std::max(l_figures.m_first.m_openMs, l_figures.m_replace.m_openMs), "ms");
    PrintFigure("browse_listing_store_ms", std::max(l_figures.m_first.m_storeMs, l_figures.m_replace.m_storeMs),
                "ms");
    PrintFigure("browse_view_longest_block_ms",
                std::max(l_figures.m_first.m_longestMs, l_figures.m_replace.m_longestMs), "ms");
    PrintFigure("browse_view_filter_ms", l_figures.m_filterMs, "ms");
    PrintFigure("browse_view_rss_mb", l_figures.m_rssMb, "MB");
    Detail("sendable", l_figures);

    // The page and listing go, then the whole share.
    lp_tabs->Page(0)->Delete();
    const FileInfoMap l_whole = FirstFiles(l_share, TotalFiles);
    std::printf("detail whole_share files=%d folders=%zu\n", TotalFiles, l_whole.size());
    Detail("whole_share", Run(l_probe, l_whole));
    delete lp_tabs;
    return 0;
}
