// Builds a store shaped like a large share index and prints what each phase
// costs, one figure per line: "<figure> N=<n> <value> <unit>".
//
// Each record is an anonymous item with its own valued name item, one of
// 1,000 size items, one shared flag item, 5 of 50,000 word items and one of
// 1,000 items of a primary folder type.

#include "core/persist/DataSaver.h"
#include "core/store/Data.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

long ResidentBytes()
{
    std::ifstream l_statm("/proc/self/statm");
    long l_pages = 0, l_resident = 0;
    l_statm >> l_pages >> l_resident;
    return l_resident * sysconf(_SC_PAGESIZE);
}

long PeakResidentBytes()
{
    std::ifstream l_status("/proc/self/status");
    std::string l_line;
    while (std::getline(l_status, l_line)) {
        if (l_line.rfind("VmHWM:", 0) == 0)
            return std::atol(l_line.c_str() + 6) * 1024;
    }
    return 0;
}

// The machine's cost of one dependent random read in a working set of the
// given size: the floor under every figure that chases pointers.
double RandomReadNanoseconds(std::size_t i_bytes)
{
    struct alignas(64) Node
    {
        std::size_t m_next;
    };
    const std::size_t l_count = i_bytes / sizeof(Node);
    std::vector<std::size_t> l_order(l_count);
    for (std::size_t l_index = 0; l_index < l_count; ++l_index)
        l_order[l_index] = l_index;
    std::uint64_t l_state = 88172645463325252ull;
    for (std::size_t l_index = l_count - 1; l_index > 1; --l_index) {
        l_state ^= l_state << 13;
        l_state ^= l_state >> 7;
        l_state ^= l_state << 17;
        std::swap(l_order[l_index], l_order[1 + l_state % l_index]);
    }
    std::vector<Node> l_nodes(l_count);
    for (std::size_t l_index = 0; l_index < l_count; ++l_index)
        l_nodes[l_order[l_index]].m_next = l_order[(l_index + 1) % l_count];
    const std::size_t l_steps = 2000000;
    std::size_t l_at = 0;
    QElapsedTimer l_timer;
    l_timer.start();
    for (std::size_t l_step = 0; l_step < l_steps; ++l_step)
        l_at = l_nodes[l_at].m_next;
    const double l_result = double(l_timer.nsecsElapsed()) / double(l_steps);
    return l_at == std::size_t(-1) ? 0 : l_result;
}

void Print(const char* ip_figure, long i_n, double i_value, const char* ip_unit)
{
    std::printf("%s N=%ld %.0f %s\n", ip_figure, i_n, i_value, ip_unit);
    std::fflush(stdout);
}

void Declare(DataSaver& io_saver)
{
    Type* lp_folder = d.NewType("folder", true, false, true);
    Type* lp_file = d.NewType("file", false, true, false);
    Type* lp_name = d.NewType("file_name", false, false, true);
    Type* lp_size = d.NewType("file_size", false, false, true);
    Type* lp_flag = d.NewType("is_shared", false, true, false);
    Type* lp_word = d.NewType("word", false, false, true);
    lp_folder->RelateToType(lp_file, One, Many, false);
    lp_file->RelateToType(lp_name, One, One, false);
    lp_file->RelateToType(lp_size, Many, One, false);
    lp_file->RelateToType(lp_flag, Many, One, false);
    lp_file->RelateToType(lp_word, Many, Many, false);
    io_saver.AddSavedType("folder");
    io_saver.AddSavedByConnectionType("file", "folder");
    for (const char* lp_name : {"file_name", "file_size", "is_shared", "word"})
        io_saver.AddSavedByConnectionType(lp_name, "file");
}

void Run(long i_n)
{
    auto lp_saver = std::make_unique<DataSaver>();
    Declare(*lp_saver);
    Type* lp_folder = d.GetType("folder");
    Type* lp_file = d.GetType("file");
    Type* lp_name = d.GetType("file_name");
    Type* lp_size = d.GetType("file_size");
    Type* lp_word = d.GetType("word");

    std::vector<std::string> l_names;
    l_names.reserve(std::size_t(i_n));
    for (long l_n = 0; l_n < i_n; ++l_n)
        l_names.push_back(std::to_string(l_n * 7919 % (i_n * 13)).append(".mp3").insert(0, 1, 'f'));
    std::vector<ItemPtr> l_sizes, l_words, l_folders;
    for (int l_n = 0; l_n < 1000; ++l_n) {
        l_sizes.push_back(lp_size->GetItem(l_n * 4096));
        l_folders.push_back(lp_folder->GetItem("folder" + std::to_string(l_n)));
    }
    for (int l_n = 0; l_n < 50000; ++l_n)
        l_words.push_back(lp_word->GetItem("word" + std::to_string(l_n)));
    std::vector<ItemPtr> l_records;
    l_records.reserve(std::size_t(i_n));
    const long l_before = ResidentBytes();

    QElapsedTimer l_timer;
    l_timer.start();
    for (long l_n = 0; l_n < i_n; ++l_n) {
        ItemPtr l_record = lp_file->NewItem();
        l_record += lp_name->GetItem(l_names[std::size_t(l_n)]);
        l_record += l_sizes[std::size_t(l_n % 1000)];
        l_record.NewItem("is_shared");
        for (long l_w = 0; l_w < 5; ++l_w)
            l_record += l_words[std::size_t((l_n * 5 + l_w * 7) % 50000)];
        l_records.push_back(l_record);
        l_folders[std::size_t(l_n % 1000)] += l_record;
    }
    const double l_build = double(l_timer.nsecsElapsed());
    const long l_after = ResidentBytes();
    Print("build", i_n, l_build / double(i_n), "ns");

    l_timer.restart();
    std::size_t l_found = 0;
    for (long l_n = 0; l_n < i_n; ++l_n)
        l_found += lp_name->HasItem(l_names[std::size_t(l_n)]).IsNull() ? 0 : 1;
    const double l_lookup = double(l_timer.nsecsElapsed());
    if (l_found != std::size_t(i_n))
        std::fprintf(stderr, "lookup found %zu of %ld\n", l_found, i_n);
    Print("lookup", i_n, l_lookup / double(i_n), "ns");

    const std::size_t l_items = d.ItemCount();
    l_timer.restart();
    const int l_collected = d.RemoveDisconnectedItems();
    const double l_collect = double(l_timer.nsecsElapsed());
    if (l_collected != 0)
        std::fprintf(stderr, "collection removed %d items\n", l_collected);
    Print("collect_per_item", i_n, l_collect / double(l_items), "ns");

    Print("memory_per_record", i_n, double(l_after - l_before) / double(i_n), "bytes");
    Print("peak_memory_per_record", i_n, double(PeakResidentBytes()) / double(i_n), "bytes");
    // After the peak figure: this measurement holds a table as large as the store.
    Print("random_read_same_size", i_n, RandomReadNanoseconds(std::size_t(l_after - l_before)), "ns");

    QTemporaryDir l_folder;
    const std::string l_path = l_folder.filePath("bench.dat").toStdString();
    l_timer.restart();
    lp_saver->Save(l_path.c_str());
    Print("save_total", i_n, double(l_timer.nsecsElapsed()) / 1e6, "ms");
    Print("file_size", i_n, double(QFileInfo(QString::fromStdString(l_path)).size()) / 1e6, "MB");
    l_timer.restart();
    lp_saver->SaveInBackground(l_path.c_str());
    Print("save_gui_thread", i_n, double(l_timer.nsecsElapsed()) / 1e6, "ms");
    lp_saver->WaitForPendingSave();
    Print("save_background_total", i_n, double(l_timer.nsecsElapsed()) / 1e6, "ms");

    l_timer.restart();
    for (const ItemPtr& l_record : l_records)
        l_record.Remove();
    Print("remove", i_n, double(l_timer.nsecsElapsed()) / double(i_n), "ns");

    lp_saver.reset();
    d.Reset();
    lp_saver = std::make_unique<DataSaver>();
    Declare(*lp_saver);
    l_timer.restart();
    lp_saver->Load(l_path.c_str());
    Print("load", i_n, double(l_timer.nsecsElapsed()) / 1e6, "ms");
    if (d.GetType("file")->ItemCount() != std::size_t(i_n))
        std::fprintf(stderr, "load made %zu records\n", d.GetType("file")->ItemCount());
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<long> l_sizes;
    for (int l_arg = 1; l_arg < argc; ++l_arg)
        l_sizes.push_back(std::atol(argv[l_arg]));
    if (l_sizes.empty())
        l_sizes = {100000, 1000000};
    // Each size in a process of its own, so memory figures do not mix.
    for (long l_n : l_sizes) {
        const pid_t l_child = fork();
        if (l_child == 0) {
            Run(l_n);
            std::_Exit(0);
        }
        int l_status = 0;
        waitpid(l_child, &l_status, 0);
    }
    return 0;
}
