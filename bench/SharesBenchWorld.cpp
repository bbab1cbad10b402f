#include "SharesBenchWorld.h"

#include "core/log/LogService.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/runtime/TimerManager.h"
#include "core/store/Data.h"
#include "dnet/DNetManager.h"
#include "peer/PeerEnvironment.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"

#include <QTcpServer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace SharesBench {

namespace {

// ---------------------------------------------------------------- the tree

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

}  // namespace

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

std::string Ms(double i_ms)
{
    char l_text[32];
    std::snprintf(l_text, sizeof l_text, "%.1f", i_ms);
    return l_text;
}

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

Scratch::Scratch()
    : m_root(m_folder.filePath("share").toStdString()),
      m_pathsFile(m_folder.filePath("paths.txt").toStdString()),
      m_dataFile(m_folder.filePath("bench.dat").toStdString())
{
    MakeFolder(m_root);
}

std::function<bool(const char*)> PhasesToRun(const QStringList& i_arguments)
{
    const QStringList l_phases = i_arguments.mid(1);
    return [l_phases](const char* ip_phase) { return l_phases.isEmpty() || l_phases.contains(ip_phase); };
}

World::World(const QString& i_logFolder, bool i_emitLoaded, bool i_catchReplies)
{
    d.Reset();
    SetLogFolder(i_logFolder);
    mp_timers = std::make_unique<TimerManager>();
    mp_saver = std::make_unique<DataSaver>();
    mp_server = std::make_unique<Server>();
    mp_server->CreateData();
    SetPeerListenFunction([this](QTcpServer& io_server, quint16) {
        m_listeners.push_back(&io_server);
        return io_server.listen(QHostAddress::LocalHost, 0);
    });
    g_peerMessengerDeleted = false;
    mp_messenger = new PeerMessenger;
    mp_dnet = std::make_unique<DNetManager>();
    Settings::DeclareTypes();
    mp_shares = std::make_unique<SharedFoldersManager>();
    if (i_catchReplies)
        mp_shares->SetMessageSink([this](const std::string&, MemStream& i_body) {
            m_sentBytes += i_body.mp_buffer->m_writeIndex;
            ++m_sent;
        });
    if (i_emitLoaded)
        mp_saver->EmitDataLoaded();
    Settings::Set("use_upnp", "no");
    Settings::Set("username", "bencher");
}

World::~World()
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

quint16 World::PeerPort() const
{
    return m_listeners.empty() ? 0 : m_listeners.front()->serverPort();
}

double World::WaitIdle(const QElapsedTimer& i_since)
{
    while (mp_shares->IsRescanning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return double(i_since.nsecsElapsed()) / 1e6;
}

}  // namespace SharesBench
