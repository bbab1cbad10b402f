// The Search page with ten thousand results, one figure a line, name first:
//
//   search_view_longest_block_ms  the longest the event loop could serve no
//                                 event, from the search to the end: the
//                                 answers' arrival, the deferred sorts, the
//                                 filter typed, the order change and the
//                                 folders collapsed and expanded again
//   search_view_filter_ms         the slowest change of the filter line
//                                 while it is typed letter by letter over
//                                 the 10,000 rows: the new text set, the
//                                 events it causes and a paint
//   search_view_sort_ms           the "Order by Fastest" command, until the
//                                 tree is painted
//   search_view_rss_mb_per_10k    the resident memory the 10,000 results
//                                 add: their items and their rows
//
// The page is shown (offscreen unless QT_QPA_PLATFORM says otherwise),
// 1200x800, and one search is typed. 500 users answer, each with 20 files
// in two album folders, made as the peer layer makes a reply from the
// wire; 20 answers arrive in each turn of the event loop, the turns 10 ms
// apart, and the page's deferred sort runs after them. Then the filter
// "album 1 -live" is typed a letter every 50 ms, the tab is ordered by
// speed, and its folders are collapsed and expanded.
//
// Details (arrival, each step, memory) follow on stderr.

#include "PageBenchServices.h"
#include "ViewBenchLoop.h"

#include "core/runtime/DelayedInvoker.h"
#include "core/store/Data.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "ui/frame/ActionSetToolBar.h"
#include "ui/views/SearchForm.h"
#include "ui/views/SearchResultsForm.h"
#include "ui_SearchForm.h"

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

namespace
{
constexpr int UserCount = 500;
constexpr int FilesPerReply = 20;
constexpr int FilesPerFolder = 10;
constexpr int RepliesPerBurst = 20;
constexpr int BurstGapMs = 10;
constexpr int KeyGapMs = 50;
constexpr int Artists = 120;
constexpr int Albums = 20;
constexpr int Titles = 3000;
constexpr int ResultCount = UserCount * FilesPerReply;
constexpr int SpeedColumn = 2;
constexpr int FileColumn = 4;
const char* const SearchText = "some text";
const char* const FilterText = "album 1 -live";

// The Search page and the services it lives among; the main window
// declares the wish list's types before the page's Init.
class SearchPageWorld
{
public:
    explicit SearchPageWorld(const QString& i_downloadFolder) : m_services(i_downloadFolder)
    {
        Type* lp_wish = d.NewType("wish_list_item", true, false, true);
        lp_wish->RelateToType(d.NewType("wish_list_item_enabled", false, true, true), Many, One, false);
        mp_page = std::make_unique<SearchForm>();
        mp_page->Init();
    }

    SearchForm& Page() { return *mp_page; }
    void Load() { m_services.Load(); }

private:
    // The page goes before the services, as at the program's end.
    PageBenchServices m_services;
    std::unique_ptr<SearchForm> mp_page;
};

// A reproducible spread, so that users and files differ.
int Mix(int i_seed, int i_range)
{
    return int((qint64(i_seed) * 2654435761LL + 97) % i_range);
}

ItemPtr Valued(const char* ip_type, const std::string& i_value)
{
    return d.GetType(ip_type)->GetItem(i_value);
}

// The user's two albums: "music\artist 7\album 12" and the next album.
std::string FolderOf(int i_user, int i_folder)
{
    const int l_artist = Mix(i_user, Artists);
    const int l_album = (Mix(i_user + 1, Albums) + i_folder) % Albums;
    return "music\\artist " + std::to_string(l_artist) + "\\album " + std::to_string(l_album);
}

// "03 - title 1234.mp3"; one title in seven is a live recording.
std::string FileNameOf(int i_user, int i_index)
{
    const int l_title = Mix(i_user * FilesPerReply + i_index, Titles);
    const std::string l_live = l_title % 7 == 0 ? " (live)" : "";
    const QString l_track = QString::asprintf("%02d", i_index % FilesPerFolder + 1);
    return l_track.toStdString() + " - title " + std::to_string(l_title) + l_live + ".mp3";
}

// One user's answer as the peer layer stores a reply: the results first,
// each with its key, attributes, name, folder and size, then the reply's
// search, user and upload figures. Every result here is new, so each gets a
// key of its own (search, user and path).
ItemPtr MakeReply(ItemPtr i_request, int i_user)
{
    const std::string l_user = QString::asprintf("user%03d", i_user).toStdString();
    const std::string l_keyStart = i_request.AsString() + ' ' + l_user + ' ';
    ItemPtr l_results = d.GetType("search_results")->NewItem();
    for (int l_index = 0; l_index < FilesPerReply; ++l_index) {
        const std::string l_folder = FolderOf(i_user, l_index / FilesPerFolder);
        const std::string l_name = FileNameOf(i_user, l_index);
        const bool l_vbr = Mix(i_user + l_index, 4) == 0;
        const int l_bitrate = l_vbr ? 190 + Mix(l_index, 60) : (l_index % 3 == 0 ? 192 : 320);
        const int l_seconds = 150 + Mix(i_user * 31 + l_index, 300);
        ItemPtr l_result = d.GetType("search_result")->NewItem();
        l_result += Valued("search_result_key", l_keyStart + l_folder + '\\' + l_name);
        l_result += Valued("bitrate", std::to_string(l_bitrate));
        l_result += Valued("length_seconds", std::to_string(l_seconds));
        if (l_vbr)
            l_result += Valued("bitrate_mode", "vbr");
        l_result += l_results;
        l_result += Valued("search_result_file_name", l_name);
        l_result += Valued("search_result_file_folder", l_folder);
        l_result += Valued("search_result_file_size", std::to_string(qint64(l_bitrate) * 125 * l_seconds + l_index));
    }
    l_results += i_request;
    l_results += d.GetType("user")->GetItem(l_user);
    l_results += Valued("search_results_user_available", i_user % 3 == 0 ? "no" : "yes");
    l_results += Valued("search_results_user_speed", std::to_string((16 + Mix(i_user, 2000)) * 1024));
    l_results += Valued("search_results_uploads_in_queue", std::to_string(i_user % 3 == 0 ? Mix(i_user, 40) : 0));
    return l_results;
}

// Runs the event loop for a while, as between two key presses.
void RunLoopFor(int i_ms)
{
    QEventLoop l_loop;
    QTimer::singleShot(i_ms, &l_loop, &QEventLoop::quit);
    l_loop.exec();
}

// Runs the event loop until the tree has been painted again; the view asks
// for a paint whatever changed, so that the wait ends.
bool Repaint(QTreeWidget& io_tree)
{
    io_tree.viewport()->update();
    return WaitForPaint(io_tree.viewport());
}

struct ArrivalFigures
{
    double m_ms = 0;
    double m_longestBurstMs = 0;
};

// The answers, RepliesPerBurst in each turn of the event loop, each turn
// BurstGapMs after the one before it ended.
ArrivalFigures ArriveAnswers(ItemPtr i_request)
{
    ArrivalFigures l_figures;
    QEventLoop l_loop;
    QTimer l_bursts;
    l_bursts.setTimerType(Qt::PreciseTimer);
    l_bursts.setSingleShot(true);
    l_bursts.setInterval(BurstGapMs);
    int l_next = 0;
    QObject::connect(&l_bursts, &QTimer::timeout, &l_loop, [&] {
        QElapsedTimer l_burst;
        l_burst.start();
        for (int l_reply = 0; l_reply < RepliesPerBurst && l_next < UserCount; ++l_reply)
            emit peerMessenger->SearchResults(MakeReply(i_request, l_next++));
        l_figures.m_longestBurstMs = std::max(l_figures.m_longestBurstMs, MsSince(l_burst));
        if (l_next < UserCount)
            l_bursts.start();
        else
            l_loop.quit();
    });
    QElapsedTimer l_all;
    l_all.start();
    l_bursts.start();
    l_loop.exec();
    l_figures.m_ms = MsSince(l_all);
    return l_figures;
}

// The deferred sort the last burst asked for, then its paint.
bool WaitForSort(QTreeWidget& io_tree)
{
    QElapsedTimer l_limit;
    l_limit.start();
    while (delayedInvoker->PendingCount() > 0 && l_limit.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return delayedInvoker->PendingCount() == 0 && Repaint(io_tree);
}

struct TypingFigures
{
    double m_slowestMs = 0;
    double m_meanMs = 0;
    bool m_painted = true;
};

// The text typed into the empty filter line a letter at a time; each
// change counts until the tree is painted.
TypingFigures TypeFilter(QLineEdit& io_line, QTreeWidget& io_tree, const QString& i_text)
{
    TypingFigures l_figures;
    double l_totalMs = 0;
    for (qsizetype l_length = 1; l_length <= i_text.size(); ++l_length) {
        QElapsedTimer l_change;
        l_change.start();
        io_line.setText(i_text.left(l_length));
        l_figures.m_painted = Repaint(io_tree) && l_figures.m_painted;
        const double l_ms = MsSince(l_change);
        l_figures.m_slowestMs = std::max(l_figures.m_slowestMs, l_ms);
        l_totalMs += l_ms;
        RunLoopFor(KeyGapMs);
    }
    l_figures.m_meanMs = l_totalMs / double(i_text.size());
    return l_figures;
}

// A page command on the keyed tab, until the tree is painted; -1 when it
// was not painted.
double CommandMs(SearchForm& io_page, QTreeWidget& io_tree, const char* ip_action)
{
    QElapsedTimer l_command;
    l_command.start();
    io_page.OnActionBarTriggered(ip_action);
    if (!Repaint(io_tree))
        return -1;
    const double l_ms = MsSince(l_command);
    RunLoopFor(KeyGapMs);
    return l_ms;
}

// No shown file has the unwanted word, and some files are shown.
bool FilterHolds(const QTreeWidget& i_tree, int i_shownFiles)
{
    if (i_shownFiles == 0 || i_shownFiles == ResultCount)
        return false;
    for (int l_user = 0; l_user < i_tree.topLevelItemCount(); ++l_user) {
        const QTreeWidgetItem* lp_user = i_tree.topLevelItem(l_user);
        for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder) {
            const QTreeWidgetItem* lp_folder = lp_user->child(l_folder);
            for (int l_file = 0; l_file < lp_folder->childCount(); ++l_file) {
                const QTreeWidgetItem* lp_file = lp_folder->child(l_file);
                if (!lp_file->isHidden() && lp_file->text(FileColumn).contains(QLatin1String("live")))
                    return false;
            }
        }
    }
    return true;
}

// Users by speed, fastest first.
bool OrderedBySpeed(const QTreeWidget& i_tree)
{
    for (int l_user = 1; l_user < i_tree.topLevelItemCount(); ++l_user) {
        if (i_tree.topLevelItem(l_user - 1)->text(SpeedColumn).toDouble() <
            i_tree.topLevelItem(l_user)->text(SpeedColumn).toDouble())
            return false;
    }
    return true;
}

bool FoldersExpanded(const QTreeWidget& i_tree, bool i_expanded)
{
    for (int l_user = 0; l_user < i_tree.topLevelItemCount(); ++l_user) {
        const QTreeWidgetItem* lp_user = i_tree.topLevelItem(l_user);
        for (int l_folder = 0; l_folder < lp_user->childCount(); ++l_folder) {
            if (lp_user->child(l_folder)->isExpanded() != i_expanded)
                return false;
        }
    }
    return true;
}

int Fail(const char* ip_what)
{
    std::fprintf(stderr, "%s\n", ip_what);
    return 1;
}
}  // namespace

int main(int i_argc, char** ip_argv)
{
    UseOffscreenUnlessSet();
    QApplication l_app(i_argc, ip_argv);
    QTemporaryDir l_downloadFolder;
    if (!l_downloadFolder.isValid())
        return Fail("no temporary folder");

    SearchPageWorld l_world(l_downloadFolder.path());
    SearchForm& l_page = l_world.Page();
    // The splitter beside the wish list takes its sizes from the page's
    // width at the data-loaded step.
    l_page.resize(1200, 800);
    l_world.Load();
    l_page.show();
    WaitForPaint(&l_page);

    BlockProbe l_probe;
    const unsigned int l_token = gp_server->FileSearch(SearchText, false);
    const ItemPtr l_request = d.GetType("search_request")->HasItem(Value(l_token));
    auto* lp_tab = qobject_cast<SearchResultsForm*>(l_page.Form()->searchTabControl->currentWidget());
    if (l_request.IsNull() || !lp_tab)
        return Fail("the search opened no tab");
    QTreeWidget& l_tree = *lp_tab->searchResults();
    // The new tab has the focus, so that the action bar's commands find it.
    if (actionBar->GetKey(QStringLiteral("widget")).toStdString() != Value(lp_tab).m_text)
        return Fail("the action bar does not name the new tab");
    if (!Repaint(l_tree))
        return Fail("the tab was never painted");
    const double l_rssBeforeMb = ResidentMb();

    const ArrivalFigures l_arrival = ArriveAnswers(l_request);
    if (!WaitForSort(l_tree))
        return Fail("the deferred sort did not run");
    const double l_rssAfterMb = ResidentMb();
    if (RowsAtDepth(l_tree, 2) != ResultCount || RowsAtDepth(l_tree, 2, true) != ResultCount)
        return Fail("results missing or hidden");

    const TypingFigures l_typing = TypeFilter(*lp_tab->filterEdit(), l_tree, QString::fromLatin1(FilterText));
    const int l_shownFiles = RowsAtDepth(l_tree, 2, true);
    if (!l_typing.m_painted)
        return Fail("a filter change was never painted");
    if (!FilterHolds(l_tree, l_shownFiles))
        return Fail("the filter shows the wrong files");

    const double l_sortMs = CommandMs(l_page, l_tree, "order_by_fastest");
    if (l_sortMs < 0 || lp_tab->SortColumn() != SpeedColumn || l_tree.sortColumn() != SpeedColumn)
        return Fail("the tab is not ordered by speed");
    if (!OrderedBySpeed(l_tree))
        return Fail("the users are not in order of speed");

    const double l_collapseMs = CommandMs(l_page, l_tree, "expand_folders");
    if (l_collapseMs < 0 || !FoldersExpanded(l_tree, false))
        return Fail("the folders did not collapse");
    const double l_expandMs = CommandMs(l_page, l_tree, "expand_folders");
    if (l_expandMs < 0 || !FoldersExpanded(l_tree, true))
        return Fail("the folders did not expand");
    const double l_longestBlockMs = l_probe.LongestMs();

    PrintFigure("search_view_longest_block_ms", l_longestBlockMs, "ms");
    PrintFigure("search_view_filter_ms", l_typing.m_slowestMs, "ms");
    PrintFigure("search_view_sort_ms", l_sortMs, "ms");
    PrintFigure("search_view_rss_mb_per_10k", (l_rssAfterMb - l_rssBeforeMb) * 10000.0 / ResultCount, "MB");
    std::fprintf(stderr,
                 "details: %d results from %d users arrived in %.1f ms, the longest burst of %d answers %.1f ms; "
                 "filter \"%s\" typed: %.1f ms a letter on average, %d files shown; folders collapsed in %.1f ms, "
                 "expanded in %.1f ms; resident %.1f MB before the answers, %.1f MB after\n",
                 ResultCount, UserCount, l_arrival.m_ms, RepliesPerBurst, l_arrival.m_longestBurstMs, FilterText,
                 l_typing.m_meanMs, l_shownFiles, l_collapseMs, l_expandMs, l_rssBeforeMb, l_rssAfterMb);
    return 0;
}
