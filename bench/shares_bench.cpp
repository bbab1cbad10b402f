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
//
// Lines starting with "detail" break the figures down.

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFoldersManager.h"

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

namespace {

constexpr int TotalFiles = 100000;
constexpr int Artists = 99;
constexpr int AlbumsPerArtist = 100;  // with the root: 10,000 folders

void Print(const char* ip_figure, double i_value, const char* ip_unit)
{
    std::printf("%s %.*f %s\n", ip_figure, i_value < 10 ? 2 : 1, i_value, ip_unit);
    std::fflush(stdout);
}

void Detail(const std::string& i_text)
{
    std::printf("detail %s\n", i_text.c_str());
    std::fflush(stdout);
}

double Median(std::vector<double> i_values)
{
    if (i_values.empty())
        return 0;
    std::sort(i_values.begin(), i_values.end());
    const std::size_t l_middle = i_values.size() / 2;
    return i_values.size() % 2 ? i_values[l_middle] : (i_values[l_middle - 1] + i_values[l_middle]) / 2;
}

// ---------------------------------------------------------------- the tree

// xorshift64*: the same tree on every machine, unlike the standard
// library's distributions.
class Random
{
public:
    explicit Random(std::uint64_t i_seed) : m_state(i_seed) {}
    std::uint64_t Next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ull;
    }
    int Below(int i_bound) { return int(Next() % std::uint64_t(i_bound)); }
    bool Chance(int i_percent) { return Below(100) < i_percent; }

private:
    std::uint64_t m_state;
};

const char* const CommonWords[] = {
    "love", "night", "time", "heart", "day", "life", "world", "light", "dream", "fire", "home", "way", "song",
    "blue", "man", "girl", "baby", "rain", "road", "sun", "moon", "star", "river", "city", "summer", "winter",
    "dance", "soul", "mind", "eyes", "hands", "water", "blood", "gold", "black", "white", "red", "green", "wild",
    "sweet", "little", "old", "new", "last", "first", "long", "lonely", "broken", "lost", "free", "young", "cold",
    "hot", "dark", "bright", "high", "low", "back", "down", "away", "again", "forever", "tonight", "tomorrow",
    "yesterday", "morning", "evening", "midnight", "sky", "sea", "ocean", "wind", "storm", "thunder", "shadow",
    "ghost", "angel", "devil", "king", "queen", "fool", "hero", "stranger", "friend", "lover", "mother", "father",
    "brother", "sister", "child", "people", "party", "street", "town", "train", "car", "highway", "bridge",
    "garden", "flower", "rose", "tree", "forest", "mountain", "valley", "desert", "island", "shore", "wave",
    "echo", "silence", "voice", "word", "story", "letter", "memory", "secret", "promise", "chance", "reason",
    "truth", "lie", "war", "peace", "freedom", "glory", "power", "money", "trouble", "danger", "paradise",
    "heaven", "hell", "fall", "rise", "run", "walk", "fly", "burn", "shine", "fade", "hold", "wait", "stay",
    "leave", "remember", "forget", "believe", "feel", "touch", "kiss", "cry", "smile", "laugh", "sing", "play",
    "live", "die", "wake", "sleep", "talk", "stop", "start", "turn", "change", "begin", "end", "open", "close",
    "alone", "together", "inside", "outside", "under", "over", "between", "beyond", "without", "never", "always",
    "only", "still", "here", "there", "where", "when", "why", "what", "who", "how", "you", "me", "we", "they",
    "my", "your", "our", "this", "that", "one", "two", "three", "hundred", "thousand", "million", "part",
    "live", "remix", "edit", "version", "mix", "demo", "acoustic", "instrumental", "intro", "outro", "interlude",
    "theme", "suite", "overture", "prelude", "symphony", "concerto", "sonata", "nocturne", "waltz", "march",
    "blues", "ballad", "lullaby", "anthem", "hymn", "requiem", "serenade", "rhapsody", "fantasia", "variations",
    "electric", "digital", "golden", "silver", "crystal", "velvet", "diamond", "iron", "stone", "glass", "paper",
    "neon", "cosmic", "northern", "southern", "eastern", "western", "ancient", "modern", "final", "secret",
    "hidden", "empty", "endless", "perfect", "beautiful", "strange", "crazy", "lucky", "happy", "sad", "holy",
};

const char* const Syllables[] = {"ka", "mor", "vel", "ra", "din", "tho", "sa", "len", "bri", "gor", "nu", "ta",
                                 "el", "vin", "dra", "zo", "mi", "quel", "par", "os", "fen", "lu", "ith", "bar"};

// The vocabulary by rank: real words first, then made-up ones; titles draw
// from it with Zipf's law, so a few words are everywhere and many are rare.
class Vocabulary
{
public:
    explicit Vocabulary(Random& io_random)
    {
        for (const char* lp_word : CommonWords)
            m_words.push_back(lp_word);
        const int l_syllables = int(std::size(Syllables));
        while (m_words.size() < 6000) {
            std::string l_word;
            const int l_count = 2 + io_random.Below(2);
            for (int l_part = 0; l_part < l_count; ++l_part)
                l_word += Syllables[io_random.Below(l_syllables)];
            m_words.push_back(l_word);
        }
        double l_sum = 0;
        for (std::size_t l_rank = 0; l_rank < m_words.size(); ++l_rank) {
            l_sum += 1.0 / double(l_rank + 1);
            m_cumulative.push_back(l_sum);
        }
    }

    const std::string& Draw(Random& io_random) const
    {
        const double l_at = double(io_random.Next() >> 11) / double(1ull << 53) * m_cumulative.back();
        const auto l_it = std::lower_bound(m_cumulative.begin(), m_cumulative.end(), l_at);
        return m_words[std::size_t(std::min<std::ptrdiff_t>(l_it - m_cumulative.begin(), std::ptrdiff_t(m_words.size() - 1)))];
    }

    std::string Title(Random& io_random, int i_words) const
    {
        std::string l_title;
        for (int l_word = 0; l_word < i_words; ++l_word) {
            std::string l_next = Draw(io_random);
            l_next[0] = char(std::toupper(static_cast<unsigned char>(l_next[0])));
            l_title += (l_word ? " " : "") + l_next;
        }
        return l_title;
    }

private:
    std::vector<std::string> m_words;
    std::vector<double> m_cumulative;
};

void MakeFile(const std::string& i_path, qint64 i_size)
{
    const int l_fd = ::open(i_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (l_fd < 0 || ::ftruncate(l_fd, i_size) != 0) {
        std::fprintf(stderr, "cannot make %s\n", i_path.c_str());
        std::exit(1);
    }
    ::close(l_fd);
}

void MakeFolder(const std::string& i_path)
{
    if (::mkdir(i_path.c_str(), 0755) != 0) {
        std::fprintf(stderr, "cannot make %s\n", i_path.c_str());
        std::exit(1);
    }
}

// Artists, their albums ("1998 - Broken Light") and tracks ("07 - Title.flac"),
// with a cover or notes in some albums. The paths go to i_pathsFile, one a
// line. Streams everything, so the generator leaves no memory peak behind.
void MakeTree(const std::string& i_root, const std::string& i_pathsFile)
{
    Random l_random(20240611);
    const Vocabulary l_vocabulary(l_random);
    std::ofstream l_paths(i_pathsFile);
    const int l_albums = Artists * AlbumsPerArtist;
    // Files per album: 4 to 16, then evened out to the exact total.
    std::vector<int> l_counts(static_cast<std::size_t>(l_albums));
    int l_total = 0;
    for (int& l_count : l_counts)
        l_total += l_count = 4 + l_random.Below(13);
    while (l_total != TotalFiles) {
        int& l_count = l_counts[std::size_t(l_random.Below(l_albums))];
        if (l_total < TotalFiles && l_count < 30) {
            ++l_count;
            ++l_total;
        } else if (l_total > TotalFiles && l_count > 1) {
            --l_count;
            --l_total;
        }
    }
    const char* const l_formats[] = {"flac", "flac", "flac", "ogg", "ogg", "m4a", "opus"};
    for (int l_artist = 0; l_artist < Artists; ++l_artist) {
        std::string l_artistName = l_vocabulary.Title(l_random, 1 + l_random.Below(2));
        if (l_random.Chance(15))
            l_artistName.insert(0, "The ");
        const std::string l_artistPath = i_root + "/" + l_artistName + " " + std::to_string(l_artist);
        MakeFolder(l_artistPath);
        for (int l_album = 0; l_album < AlbumsPerArtist; ++l_album) {
            const std::string l_albumPath = l_artistPath + "/" + std::to_string(1960 + l_random.Below(64)) + " - " +
                                            l_vocabulary.Title(l_random, 1 + l_random.Below(3)) + " (" +
                                            std::to_string(l_album + 1) + ")";
            MakeFolder(l_albumPath);
            int l_files = l_counts[std::size_t(l_artist * AlbumsPerArtist + l_album)];
            // A few albums are MP3s: each of their tracks goes to the scanner.
            const char* lp_format = l_random.Chance(2) ? "mp3" : l_formats[l_random.Below(int(std::size(l_formats)))];
            auto l_emit = [&](const std::string& i_name, qint64 i_size) {
                const std::string l_path = l_albumPath + "/" + i_name;
                MakeFile(l_path, i_size);
                l_paths << l_path << '\n';
            };
            if (l_files > 2 && l_random.Chance(50)) {
                l_emit("cover.jpg", 50000 + l_random.Below(2000000));
                --l_files;
            }
            if (l_files > 2 && l_random.Chance(20)) {
                l_emit("notes.txt", 200 + l_random.Below(8000));
                --l_files;
            }
            for (int l_track = 1; l_track <= l_files; ++l_track) {
                char l_number[16];
                std::snprintf(l_number, sizeof l_number, "%02d", l_track);
                l_emit(std::string(l_number) + " - " + l_vocabulary.Title(l_random, 1 + l_random.Below(4)) + "." +
                           lp_format,
                       2000000 + qint64(l_random.Below(60000000)));
            }
        }
    }
}

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
class TimedApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject* ip_receiver, QEvent* ip_event) override
    {
        // Other threads' events (the walker's) hold no GUI.
        if (QThread::currentThread() != thread())
            return QCoreApplication::notify(ip_receiver, ip_event);
        if (m_depth++ > 0) {
            const bool l_result = QCoreApplication::notify(ip_receiver, ip_event);
            --m_depth;
            return l_result;
        }
        QElapsedTimer l_clock;
        l_clock.start();
        const bool l_result = QCoreApplication::notify(ip_receiver, ip_event);
        m_longestNs = std::max(m_longestNs, l_clock.nsecsElapsed());
        --m_depth;
        return l_result;
    }

    qint64 TakeLongestNs() { return std::exchange(m_longestNs, 0); }

private:
    int m_depth = 0;
    qint64 m_longestNs = 0;
};

// ---------------------------------------------------------------- the world

// The surroundings of the shares service, as the program builds them, minus
// any network beyond the loopback address: nobody logs in, no gateway is
// asked. Replies go nowhere, but are built and compressed as always.
class World
{
public:
    World(const QString& i_logFolder, bool i_emitLoaded)
    {
        d.Reset();
        SetLogFolder(i_logFolder);
        mp_timers = std::make_unique<TimerManager>();
        mp_saver = std::make_unique<DataSaver>();
        mp_server = std::make_unique<Server>();
        mp_server->CreateData();
        SetPeerListenFunction([](QTcpServer& io_server, quint16) { return io_server.listen(QHostAddress::LocalHost, 0); });
        g_peerMessengerDeleted = false;
        mp_messenger = new PeerMessenger;
        mp_dnet = std::make_unique<DNetManager>();
        Settings::DeclareTypes();
        mp_shares = std::make_unique<SharedFoldersManager>();
        mp_shares->SetMessageSink([this](const std::string&, MemStream& i_body) { m_sentBytes += i_body.mp_buffer->m_writeIndex; ++m_sent; });
        if (i_emitLoaded)
            mp_saver->EmitDataLoaded();
        Settings::Set("use_upnp", "no");
        Settings::Set("username", "bencher");
    }

    ~World()
    {
        mp_shares.reset();
        mp_dnet.reset();
        delete mp_messenger;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        SetPeerListenFunction({});
        mp_server.reset();
        mp_saver.reset();
        mp_timers.reset();
        d.Reset();
    }

    SharedFoldersManager& Shares() { return *mp_shares; }
    DataSaver& Saver() { return *mp_saver; }

    // Runs the event loop until the rescan under way is applied; its ms.
    double WaitIdle(const QElapsedTimer& i_since)
    {
        while (mp_shares->IsRescanning())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return double(i_since.nsecsElapsed()) / 1e6;
    }

    long long m_sent = 0;
    long long m_sentBytes = 0;

private:
    std::unique_ptr<TimerManager> mp_timers;
    std::unique_ptr<DataSaver> mp_saver;
    std::unique_ptr<Server> mp_server;
    PeerMessenger* mp_messenger = nullptr;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
};

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

std::string Ms(double i_ms)
{
    char l_text[32];
    std::snprintf(l_text, sizeof l_text, "%.1f", i_ms);
    return l_text;
}

}  // namespace

int main(int argc, char** argv)
{
    TimedApplication l_app(argc, argv);
    // Arguments pick phases ("rescan", "search", "browse"), for profiling
    // one at a time; the indexing and the start-up rescan always run.
    const QStringList l_phases = l_app.arguments().mid(1);
    auto l_runs = [&l_phases](const char* ip_phase) { return l_phases.isEmpty() || l_phases.contains(ip_phase); };
    QTemporaryDir l_scratch;
    QTemporaryDir l_logs;
    const std::string l_root = l_scratch.filePath("share").toStdString();
    const std::string l_pathsFile = l_scratch.filePath("paths.txt").toStdString();
    const std::string l_dataFile = l_scratch.filePath("bench.dat").toStdString();
    MakeFolder(l_root);
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
        if (l_phases == QStringList{"folder"})
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
