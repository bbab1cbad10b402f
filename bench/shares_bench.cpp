// The shares service on a generated tree of 100,000 files in 10,000 folders,
// against the tools one would otherwise use, one figure per line:
// "<figure> <value> <unit>".
//
//   rescan_vs_find        start-up rescan of the indexed tree (data file
//                         loaded, words rebuilt) / find -printf '%s %p\n'
//   rescan_repeat_vs_find a second rescan in the same run / find
//   index_peak_rss_mb     peak resident memory the first indexing adds
//   search_qps            incoming searches answered per second, one core
//   search_p50_us         median latency over the query mix
//   search_vs_grep        one grep -F over a file of the paths / our query
//   browse_vs_gzip        building the whole browse reply / gzip -9 of its
//                         uncompressed bytes
//   longest_gui_slice_ms  the longest slice of the start-up rescan
//   longest_gui_slice_ms_one_folder
//                         the longest slice of indexing, then rescanning,
//                         one folder of 300,000 files (phase "folder")
//   store_browser_share_5k_ratio
//                         sharing a new folder of 5,000 files with the
//                         item-store browser open on the type of file
//                         names / the same with no browser (phase
//                         "browser", under a QApplication of its own)
//
// Lines starting with "detail" break the figures down.

#include "SharesBenchWorld.h"
#include "StoreBrowserBench.h"

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFoldersManager.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace SharesBench;
using TimedCoreApplication = TimedApplication<QCoreApplication>;

namespace {

// ---------------------------------------------------------------- tools

// Runs a program with its standard output to a file; the wall time in ms.
double RunTimed(const std::vector<std::string>& i_arguments, const char* ip_output = "/dev/null")
{
    std::vector<char*> l_argv;
    for (const std::string& l_argument : i_arguments)
        l_argv.push_back(const_cast<char*>(l_argument.c_str()));
    l_argv.push_back(nullptr);
    QElapsedTimer l_clock;
    l_clock.start();
    const pid_t l_child = fork();
    if (l_child == 0) {
        const int l_fd = ::open(ip_output, O_WRONLY);
        if (l_fd < 0 || dup2(l_fd, 1) < 0)
            _exit(127);
        execvp(l_argv[0], l_argv.data());
        _exit(127);
    }
    int l_status = 0;
    waitpid(l_child, &l_status, 0);
    const double l_ms = double(l_clock.nsecsElapsed()) / 1e6;
    // grep finds nothing now and then: 1 is no failure.
    if (!WIFEXITED(l_status) || WEXITSTATUS(l_status) > 1) {
        std::fprintf(stderr, "%s failed\n", i_arguments.front().c_str());
        std::exit(1);
    }
    return l_ms;
}

// Best and median of a tool's runs after one to warm the cache.
std::pair<double, double> TimeTool(const std::vector<std::string>& i_arguments, int i_runs)
{
    RunTimed(i_arguments);
    std::vector<double> l_times;
    for (int l_run = 0; l_run < i_runs; ++l_run)
        l_times.push_back(RunTimed(i_arguments));
    return {*std::min_element(l_times.begin(), l_times.end()), Median(l_times)};
}

long StatusKb(const char* ip_field)
{
    std::ifstream l_status("/proc/self/status");
    std::string l_line;
    const std::size_t l_length = std::strlen(ip_field);
    while (std::getline(l_status, l_line)) {
        if (l_line.compare(0, l_length, ip_field) == 0)
            return std::atol(l_line.c_str() + l_length);
    }
    return 0;
}

// Sets the peak back to the current resident size, where the kernel allows.
void ResetPeakResident()
{
    std::ofstream l_clear("/proc/self/clear_refs");
    l_clear << "5";
}

// The application, timing every event it delivers on the GUI thread: the
// longest one is the longest the GUI thread was held by anything, slices or
// not.

// ---------------------------------------------------------------- searches

struct QueryKind
{
    const char* mp_name;
    std::vector<std::string> m_queries;
    std::vector<double> m_ns;
    long long m_replies = 0;
};

// Every plain search word (letters only, three or more) with the number of
// its files; the words of the share's own path, in every file, left out.
std::vector<std::pair<std::size_t, std::string>> WordsByFiles()
{
    std::vector<std::pair<std::size_t, std::string>> l_words;
    Type* lp_files = d.GetType("shared_file");
    const std::size_t l_all = lp_files->ItemCount();
    for (Item* lp_word : d.GetType("search_token")->UnorderedItems()) {
        const std::string& l_word = lp_word->m_value;
        const PartnerSet* lp_set = lp_word->Partners(lp_files);
        const std::size_t l_count = lp_set ? lp_set->Size() : 0;
        if (l_count == 0 || l_count == l_all || l_word.size() < 3 ||
            !std::all_of(l_word.begin(), l_word.end(), [](char i_char) { return i_char >= 'a' && i_char <= 'z'; }))
            continue;
        l_words.emplace_back(l_count, l_word);
    }
    std::sort(l_words.begin(), l_words.end());
    return l_words;
}

// The mix, five kinds equally often: a rare word (in at most 5 files), a
// common word (in at least 1% of the files, so over 200 matches and no
// reply), two common words, a common word with a part word and one with an
// excluded word. Part and excluded words are the start of a common word,
// capitalised as in the names. Besides the mix, words in 100 to 999 files:
// replies of up to 200 results, the dearest answers there are.
std::vector<QueryKind> MakeQueries(int i_perKind)
{
    std::vector<std::string> l_rare, l_mid, l_common;
    for (const auto& l_word : WordsByFiles()) {
        if (l_word.first <= 5)
            l_rare.push_back(l_word.second);
        else if (l_word.first >= 100 && l_word.first < TotalFiles / 100)
            l_mid.push_back(l_word.second);
        else if (l_word.first >= TotalFiles / 100)
            l_common.push_back(l_word.second);
    }
    if (l_rare.empty() || l_mid.empty() || l_common.size() < 2) {
        std::fprintf(stderr, "the tree gave %zu rare, %zu mid and %zu common words\n", l_rare.size(), l_mid.size(),
                     l_common.size());
        std::exit(1);
    }
    Detail("search_words rare=" + std::to_string(l_rare.size()) + " mid=" + std::to_string(l_mid.size()) +
           " common=" + std::to_string(l_common.size()));
    Random l_random(77);
    auto l_pick = [&l_random](const std::vector<std::string>& i_from) {
        return i_from[std::size_t(l_random.Below(int(i_from.size())))];
    };
    auto l_piece = [&]() {
        std::string l_word = l_pick(l_common).substr(0, 3);
        l_word[0] = char(std::toupper(static_cast<unsigned char>(l_word[0])));
        return l_word;
    };
    std::vector<QueryKind> l_kinds = {{"rare", {}, {}}, {"common", {}, {}}, {"two_common", {}, {}},
                                      {"part", {}, {}}, {"excluded", {}, {}}, {"mid", {}, {}}};
    for (int l_n = 0; l_n < i_perKind; ++l_n) {
        l_kinds[0].m_queries.push_back(l_pick(l_rare));
        l_kinds[1].m_queries.push_back(l_pick(l_common));
        l_kinds[2].m_queries.push_back(l_pick(l_common) + " " + l_pick(l_common));
        l_kinds[3].m_queries.push_back(l_pick(l_common) + " *" + l_piece());
        l_kinds[4].m_queries.push_back(l_pick(l_common) + " -" + l_piece());
        l_kinds[5].m_queries.push_back(l_pick(l_mid));
    }
    return l_kinds;
}

double Mean(const std::vector<double>& i_values)
{
    double l_sum = 0;
    for (double l_value : i_values)
        l_sum += l_value;
    return i_values.empty() ? 0 : l_sum / double(i_values.size());
}

void RunSearches(World& io_world, const std::string& i_pathsFile)
{
    constexpr int PerKind = 4000;
    constexpr std::size_t MixKinds = 5;
    std::vector<QueryKind> l_kinds = MakeQueries(PerKind);
    SharedFoldersManager& l_shares = io_world.Shares();
    // One round to warm the caches, unmeasured.
    for (const QueryKind& l_kind : l_kinds) {
        for (int l_n = 0; l_n < 200; ++l_n)
            l_shares.ProcessSearch("seeker", quint32(l_n), l_kind.m_queries[std::size_t(l_n)]);
    }

    // The kinds take turns, so that each meets the caches as the others
    // leave them.
    std::vector<double> l_mix;
    QElapsedTimer l_clock;
    for (int l_n = 0; l_n < PerKind; ++l_n) {
        for (QueryKind& l_kind : l_kinds) {
            const long long l_sentBefore = io_world.m_sent;
            l_clock.start();
            l_shares.ProcessSearch("seeker", quint32(l_n), l_kind.m_queries[std::size_t(l_n)]);
            const double l_ns = double(l_clock.nsecsElapsed());
            l_kind.m_ns.push_back(l_ns);
            if (&l_kind < &l_kinds[MixKinds])
                l_mix.push_back(l_ns);
            l_kind.m_replies += io_world.m_sent - l_sentBefore;
        }
    }
    for (const QueryKind& l_kind : l_kinds) {
        char l_line[240];
        std::snprintf(l_line, sizeof l_line, "search_%s%s p50=%.1fus mean=%.1fus replies=%lld/%d (e.g. \"%s\")",
                      l_kind.mp_name, &l_kind < &l_kinds[MixKinds] ? "" : " (not in the mix)", Median(l_kind.m_ns) / 1e3,
                      Mean(l_kind.m_ns) / 1e3, l_kind.m_replies, PerKind, l_kind.m_queries.front().c_str());
        Detail(l_line);
    }
    const double l_meanUs = Mean(l_mix) / 1e3;

    // grep for the first word of a sample of the queries, each its own process.
    std::vector<double> l_grepMs;
    for (std::size_t l_kind = 0; l_kind < MixKinds; ++l_kind) {
        for (std::size_t l_n = 0; l_n < 6; ++l_n) {
            const std::string& l_query = l_kinds[l_kind].m_queries[l_n];
            l_grepMs.push_back(RunTimed({"grep", "-F", l_query.substr(0, l_query.find(' ')), i_pathsFile}));
        }
    }
    const double l_grep = Median(l_grepMs);
    Detail("search_mean_us " + std::to_string(l_meanUs) + " grep_ms median=" + std::to_string(l_grep) +
           " runs=" + std::to_string(l_grepMs.size()));
    Print("search_qps", 1e6 / l_meanUs, "q/s");
    Print("search_p50_us", Median(l_mix) / 1e3, "us");
    Print("search_vs_grep", l_grep * 1e3 / l_meanUs, "x");
}

// ---------------------------------------------------------------- browse

QByteArray Inflate(const char* ip_data, std::size_t i_size)
{
    QByteArray l_out(64 * 1024 * 1024, Qt::Uninitialized);
    uLongf l_length = uLongf(l_out.size());
    if (uncompress(reinterpret_cast<Bytef*>(l_out.data()), &l_length, reinterpret_cast<const Bytef*>(ip_data), uLong(i_size)) != Z_OK)
        return QByteArray();
    l_out.resize(qsizetype(l_length));
    return l_out;
}

void RunBrowse(World& io_world, const QTemporaryDir& i_scratch)
{
    SharedFoldersManager& l_shares = io_world.Shares();
    std::vector<double> l_builds;
    MemStream l_body;
    QElapsedTimer l_clock;
    for (int l_run = 0; l_run < 5; ++l_run) {
        l_clock.start();
        l_body = l_shares.GetSharedFilesMessage("browser");
        l_builds.push_back(double(l_clock.nsecsElapsed()) / 1e6);
    }
    const double l_build = Median(l_builds);

    // The listing's bytes: the reply's own when it was sent, else the same
    // payload from the step before the compression.
    const SharedFoldersManager::SharedFilesListing l_listing = l_shares.SharedFilesPayload("browser");
    const MemStream::Buffer& l_payload = *l_listing.m_payload.mp_buffer;
    const qint32 l_bodySize = l_body.mp_buffer->m_writeIndex;
    if (l_bodySize > 4) {
        const QByteArray l_inflated = Inflate(l_body.mp_buffer->mp_buffer + 4, std::size_t(l_bodySize - 4));
        if (l_inflated != QByteArray(l_payload.mp_buffer, l_payload.m_writeIndex)) {
            std::fprintf(stderr, "the browse reply does not hold the listing\n");
            std::exit(1);
        }
    }
    std::vector<double> l_parts;
    for (int l_run = 0; l_run < 3; ++l_run) {
        l_clock.start();
        MemStream l_framed;
        PayloadCompression::Frame(5, l_listing.m_payload, l_framed);
        l_parts.push_back(double(l_clock.nsecsElapsed()) / 1e6);
    }
    const std::string l_file = i_scratch.filePath("listing.bin").toStdString();
    {
        std::ofstream l_out(l_file, std::ios::binary);
        l_out.write(l_payload.mp_buffer, l_payload.m_writeIndex);
    }
    const auto l_gzip = TimeTool({"gzip", "-9", "-c", l_file}, 5);
    char l_line[300];
    std::snprintf(l_line, sizeof l_line,
                  "browse build_ms=%.1f (compression alone %.1f) gzip_ms best=%.1f median=%.1f listing=%d bytes "
                  "files=%zu folders=%zu reply=%d bytes%s",
                  l_build, Median(l_parts), l_gzip.first, l_gzip.second, l_payload.m_writeIndex, l_listing.m_files,
                  l_listing.m_folders, l_bodySize, l_bodySize == 0 ? " (over the frame limit: not sent)" : "");
    Detail(l_line);
    Print("browse_vs_gzip", l_build / l_gzip.second, "x");
}

// How many of the generated files the index holds, each found by its folder
// and name.
int IndexedFiles(const std::string& i_pathsFile, int& o_all)
{
    std::ifstream l_paths(i_pathsFile);
    Type* lp_folders = d.GetType("shared_file_folder");
    Type* lp_names = d.GetType("shared_file_name");
    int l_found = 0;
    o_all = 0;
    for (std::string l_path; std::getline(l_paths, l_path); ++o_all) {
        const std::size_t l_slash = l_path.rfind('/');
        ItemPtr l_folder = lp_folders->HasItem(l_path.substr(0, l_slash));
        ItemPtr l_name = lp_names->HasItem(l_path.substr(l_slash + 1));
        if (l_folder && l_name && d.GetItem(l_folder, l_name, "shared_file"))
            ++l_found;
    }
    return l_found;
}

// The phases of the shares service alone, under a core application; the
// indexing and the start-up rescan always run.
int RunServicePhases(int argc, char** argv)
{
    TimedCoreApplication l_app(argc, argv);
    const auto l_runs = PhasesToRun(l_app.arguments());
    const Scratch l_run;
    const QTemporaryDir& l_scratch = l_run.m_folder;
    const QTemporaryDir& l_logs = l_run.m_logs;
    const std::string& l_root = l_run.m_root;
    const std::string& l_pathsFile = l_run.m_pathsFile;
    const std::string& l_dataFile = l_run.m_dataFile;
    QElapsedTimer l_clock;
    l_clock.start();
    MakeTree(l_root, l_pathsFile);
    Detail("tree_made_ms " + Ms(double(l_clock.elapsed())));

    // The first indexing, from an empty store, for the memory it takes.
    {
        World l_world(l_logs.path(), true);
        ItemPtr l_share = d.GetType("shared_folder")->GetItem(l_root);
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
        ResetPeakResident();
        const long l_before = StatusKb("VmHWM:");
        l_clock.start();
        l_world.Shares().Init();
        const double l_ms = l_world.WaitIdle(l_clock);
        const long l_after = StatusKb("VmHWM:");
        Detail("index_first_ms " + Ms(l_ms) + " files=" + std::to_string(d.GetType("shared_file")->ItemCount()) +
               " folders=" + std::to_string(d.GetType("shared_file_folder")->ItemCount()) +
               " words=" + std::to_string(d.GetType("search_token")->ItemCount()) + " items=" + std::to_string(d.ItemCount()));
        Detail("rss_kb before=" + std::to_string(l_before) + " peak_after=" + std::to_string(l_after));
        Print("index_peak_rss_mb", double(l_after - l_before) / 1024.0, "MB");
        l_world.Saver().Save(l_dataFile.c_str());
    }

    // One folder of 300,000 files: its files are spread over slices too.
    if (l_runs("folder")) {
        const std::string l_big = l_scratch.filePath("one").toStdString();
        MakeFolder(l_big);
        constexpr int l_count = 300000;
        for (int l_n = 0; l_n < l_count; ++l_n)
            MakeFile(l_big + "/track " + std::to_string(l_n) + " of the long night.flac", l_n % 1000);
        World l_world(l_logs.path(), true);
        ItemPtr l_share = d.GetType("shared_folder")->GetItem(l_big);
        l_share += d.GetType("shared_public")->GetGlobalNullItem();
        l_app.TakeLongestNs();
        l_clock.start();
        l_world.Shares().Init();
        const double l_index = l_world.WaitIdle(l_clock);
        const qint64 l_indexSlice = l_world.Shares().LongestSliceMs();
        const double l_indexEvent = double(l_app.TakeLongestNs()) / 1e6;
        l_clock.start();
        l_world.Shares().RescanShares();
        const double l_rescan = l_world.WaitIdle(l_clock);
        Detail("one_folder files=" + std::to_string(d.GetType("shared_file")->ItemCount()) + " index_ms " + Ms(l_index) +
               " longest_slice_ms=" + std::to_string(l_indexSlice) + " longest_gui_event_ms=" + Ms(l_indexEvent) +
               " rescan_ms " + Ms(l_rescan) + " longest_gui_event_ms=" + Ms(double(l_app.TakeLongestNs()) / 1e6));
        Print("longest_gui_slice_ms_one_folder", double(l_world.Shares().LongestSliceMs()), "ms");
        if (l_app.arguments().mid(1) == QStringList{"folder"})
            return 0;
    }

    // A start: the data file loaded, then the start-up rescan, which finds
    // every file known and makes the search words again.
    World l_world(l_logs.path(), false);
    l_clock.start();
    l_world.Saver().Load(l_dataFile.c_str());
    Detail("load_ms " + Ms(double(l_clock.nsecsElapsed()) / 1e6));
    l_app.TakeLongestNs();
    l_clock.start();
    l_world.Shares().Init();
    const double l_startUp = l_world.WaitIdle(l_clock);
    const double l_startUpEvent = double(l_app.TakeLongestNs()) / 1e6;
    int l_all = 0;
    const int l_indexed = IndexedFiles(l_pathsFile, l_all);
    Detail("rescan_startup_ms " + Ms(l_startUp) + " added=" + std::to_string(l_world.Shares().FilesAdded()) +
           " removed=" + std::to_string(l_world.Shares().FilesRemoved()) + " indexed=" + std::to_string(l_indexed) + "/" +
           std::to_string(l_all) + " longest_gui_event_ms=" + Ms(l_startUpEvent));
    if (l_indexed != l_all)
        std::fprintf(stderr, "the start-up rescan lost %d files\n", l_all - l_indexed);

    if (l_runs("rescan")) {
        const auto l_find = TimeTool({"find", l_root, "-printf", "%s %p\\n"}, 5);
        Detail("find_ms best=" + Ms(l_find.first) + " median=" + Ms(l_find.second));
        Print("rescan_vs_find", l_startUp / l_find.second, "x");
        Print("longest_gui_slice_ms", double(l_world.Shares().LongestSliceMs()), "ms");
        l_clock.start();
        l_world.Shares().RescanShares();
        const double l_repeat = l_world.WaitIdle(l_clock);
        Detail("rescan_repeat_ms " + Ms(l_repeat) + " added=" + std::to_string(l_world.Shares().FilesAdded()) +
               " removed=" + std::to_string(l_world.Shares().FilesRemoved()) +
               " longest_gui_event_ms=" + Ms(double(l_app.TakeLongestNs()) / 1e6));
        Print("rescan_repeat_vs_find", l_repeat / l_find.second, "x");
    }
    if (l_runs("search"))
        RunSearches(l_world, l_pathsFile);
    if (l_runs("browse"))
        RunBrowse(l_world, l_scratch);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // Arguments pick phases ("rescan", "search", "browse", "folder",
    // "browser"), for profiling one at a time.
    QStringList l_arguments;
    for (int l_argument = 0; l_argument < argc; ++l_argument)
        l_arguments << QString::fromLocal8Bit(argv[l_argument]);
    const auto l_runs = PhasesToRun(l_arguments);
    // The browser alone needs none of the indexing the other phases stand on.
    if (l_arguments.mid(1) != QStringList{"browser"}) {
        if (const int l_result = RunServicePhases(argc, argv); l_result != 0)
            return l_result;
    }
    if (l_runs("browser")) {
        // The browser is a window: an application of widgets, shown
        // offscreen unless the environment says otherwise.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        TimedApplication<QApplication> l_app(argc, argv);
        const Scratch l_run;
        RunStoreBrowser(l_run.m_logs.path(), l_run.m_folder.path());
    }
    return 0;
}
