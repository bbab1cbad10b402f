#include "ShareBenchTree.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace
{
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

void WalkShareTree(const std::string& i_root, const std::function<void(const std::string& i_folder)>& i_folder,
                   const std::function<void(const std::string& i_path, qint64 i_size)>& i_file)
{
    Random l_random(20240611);
    const Vocabulary l_vocabulary(l_random);
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
        i_folder(l_artistPath);
        for (int l_album = 0; l_album < AlbumsPerArtist; ++l_album) {
            const std::string l_albumPath = l_artistPath + "/" + std::to_string(1960 + l_random.Below(64)) + " - " +
                                            l_vocabulary.Title(l_random, 1 + l_random.Below(3)) + " (" +
                                            std::to_string(l_album + 1) + ")";
            i_folder(l_albumPath);
            int l_files = l_counts[std::size_t(l_artist * AlbumsPerArtist + l_album)];
            // A few albums are MP3s: each of their tracks goes to the scanner.
            const char* lp_format = l_random.Chance(2) ? "mp3" : l_formats[l_random.Below(int(std::size(l_formats)))];
            auto l_emit = [&](const std::string& i_name, qint64 i_size) { i_file(l_albumPath + "/" + i_name, i_size); };
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

