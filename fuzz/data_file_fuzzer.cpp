// Loads arbitrary bytes as the client data file and checks what the saver
// promises, beyond not crashing:
//   - a load that fails leaves the store exactly as it was (its canonical
//     dump is unchanged) and still runs the data-loaded handlers once;
//   - what a successful load left, saved and loaded into a fresh store and
//     saved again, is a fixed point: the second fresh store dumps the same
//     as the first, and both saved files hold the same sections and the same
//     connections (whose order follows item addresses and may differ).
// The input is loaded into a store that already holds items, so that a
// failed load has something to spoil.
#include "support/FuzzSupport.h"
#include "support/StoreDump.h"

#include "core/persist/DataFile.h"
#include "core/persist/DataSaver.h"
#include "core/persist/Settings.h"
#include "core/store/Data.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace
{
// The settings as the program declares them, and a small schema with every
// shape the saver handles: types saved whole, types saved by connection
// (also through an owner that is saved by connection itself), null types
// with their shared flag item, One and Many ends, an owner relation, a type
// related to itself, and types never saved but connected to saved items.
void DeclareSchema(DataSaver& io_saver)
{
    Settings::DeclareTypes();
    Type* lp_contact = d.NewType("contact", true, false, true);
    Type* lp_listed = d.NewType("listed", false, true, true);
    Type* lp_group = d.NewType("group", true, false, true);
    Type* lp_priority = d.NewType("priority", false, false, true);
    Type* lp_note = d.NewType("note", false, false, true);
    Type* lp_room = d.NewType("room", true, false, true);
    Type* lp_autojoin = d.NewType("autojoin", false, true, true);
    Type* lp_peer = d.NewType("peer", false, false, true);
    Type* lp_online = d.NewType("online", false, true, true);
    Type* lp_session = d.NewType("session", true, false, true);
    lp_contact->RelateToType(lp_listed, One, One, false);
    lp_listed->RelateToType(lp_group, Many, Many, false);
    lp_group->RelateToType(lp_priority, Many, One, true);
    lp_contact->RelateToType(lp_note, Many, Many, false);
    lp_room->RelateToType(lp_autojoin, Many, One, false);
    lp_room->RelateToType(lp_contact, Many, Many, false);
    lp_peer->RelateToType(lp_peer, Many, Many, false);
    lp_contact->RelateToType(lp_online, Many, One, false);
    lp_session->RelateToType(lp_contact, Many, One, false);
    io_saver.AddSavedType("listed");
    io_saver.AddSavedByConnectionType("contact", "listed");
    io_saver.AddSavedType("group");
    io_saver.AddSavedByConnectionType("priority", "group");
    io_saver.AddSavedByConnectionType("note", "contact");
    io_saver.AddSavedType("autojoin");
    io_saver.AddSavedByConnectionType("room", "autojoin");
    io_saver.AddSavedType("peer");
}

// What the store holds before the input is loaded: a bit of everything,
// saved or not.
void AddBaseline()
{
    Settings::Set("username", "me");
    Settings::Set("password", "pw");
    Settings::SetVolatile("session_note", "unsaved");
    ItemPtr l_ann = d.GetType("contact")->GetItem("ann");
    ItemPtr l_listed = l_ann.NewItem("listed");
    l_listed += d.GetType("group")->GetItem("friends");
    d.GetType("group")->GetItem("friends") += d.GetType("priority")->GetItem("3");
    l_ann += d.GetType("note")->GetItem("met at work");
    l_ann += d.GetType("online")->GetGlobalNullItem();
    ItemPtr l_lobby = d.GetType("room")->GetItem("lobby");
    l_lobby += d.GetType("autojoin")->GetGlobalNullItem();
    l_lobby += l_ann;
    l_lobby += d.GetType("contact")->GetItem("bob");
    d.GetType("peer")->GetItem("a") += d.GetType("peer")->GetItem("b");
    d.GetType("session")->GetItem("s1") += l_ann;
}

class LoadCounter : public DataLoadedEventHandler
{
public:
    void DataLoaded() override { ++m_calls; }
    int m_calls = 0;
};

// A saved file with its connections as a sorted list of id pairs.
struct SavedFile
{
    DataFile::Contents m_contents;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_connections;
};

bool SameSections(const DataFile::Contents& i_a, const DataFile::Contents& i_b)
{
    if (i_a.m_sections.size() != i_b.m_sections.size() || i_a.m_itemCount != i_b.m_itemCount)
        return false;
    for (std::size_t l_index = 0; l_index < i_a.m_sections.size(); ++l_index) {
        const DataFile::Section& l_a = i_a.m_sections[l_index];
        const DataFile::Section& l_b = i_b.m_sections[l_index];
        if (l_a.m_typeName != l_b.m_typeName || l_a.m_null != l_b.m_null || l_a.m_firstId != l_b.m_firstId ||
            l_a.m_values != l_b.m_values || l_a.m_sharedFlags != l_b.m_sharedFlags)
            return false;
    }
    return true;
}

class Harness
{
public:
    Harness()
    {
        StartFuzzApplication("data_file_fuzzer");
        FillLogHistory({"Data File"});
        // Four writes and loads per input: memory-backed files where there are.
        const QString l_base = QDir("/dev/shm").exists() ? "/dev/shm" : QDir::tempPath();
        mp_folder = std::make_unique<QTemporaryDir>(l_base + "/kstr-data-file-fuzz-XXXXXX");
        if (!mp_folder->isValid())
            OracleFailed("set-up: no temporary folder");
    }

    void Run(const std::uint8_t* ip_data, std::size_t i_size)
    {
        Check(ip_data, i_size);
        // Nothing of a run stays allocated.
        mp_saver.reset();
        d.Reset();
    }

private:
    void Check(const std::uint8_t* ip_data, std::size_t i_size)
    {
        const std::string l_input = Path("input.dat");
        QFile l_file(QString::fromStdString(l_input));
        if (!l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            l_file.write(reinterpret_cast<const char*>(ip_data), qint64(i_size)) != qint64(i_size))
            OracleFailed("set-up: cannot write the input file");
        l_file.close();

        FreshStore();
        AddBaseline();
        const std::string l_before = DumpStore();
        if (!Load(l_input)) {
            const std::string l_after = DumpStore();
            if (l_after != l_before)
                OracleFailed("a failed load changed the store", FirstDifference(l_before, l_after));
            return;
        }

        // Saved, loaded into a fresh store and saved again: a fixed point.
        const std::string l_first = Path("first.dat");
        const std::string l_second = Path("second.dat");
        SaveTo(l_first);
        FreshStore();
        if (!Load(l_first))
            OracleFailed("a file the saver wrote does not load");
        const std::string l_firstDump = DumpStore();
        SaveTo(l_second);
        FreshStore();
        if (!Load(l_second))
            OracleFailed("a file the saver wrote does not load");
        const std::string l_secondDump = DumpStore();
        if (l_firstDump != l_secondDump)
            OracleFailed("saving and loading again changed the store", FirstDifference(l_firstDump, l_secondDump));
        CompareSavedFiles(l_first, l_second);
    }

    std::string Path(const char* ip_name) const { return mp_folder->filePath(ip_name).toStdString(); }

    void FreshStore()
    {
        mp_saver.reset();
        d.Reset();
        mp_saver = std::make_unique<DataSaver>();
        mp_saver->m_dataLoadedEventHandlers.insert(&m_counter);
        DeclareSchema(*mp_saver);
    }

    // A failed save is only logged: it must not leave the last run's file.
    void SaveTo(const std::string& i_path)
    {
        QFile::remove(QString::fromStdString(i_path));
        mp_saver->Save(i_path.c_str());
        if (!QFile::exists(QString::fromStdString(i_path)))
            OracleFailed("set-up: the saver could not write " + i_path);
    }

    // Whether the load succeeded; either way the handlers ran once.
    bool Load(const std::string& i_path)
    {
        m_counter.m_calls = 0;
        bool l_loaded = true;
        try {
            mp_saver->Load(i_path.c_str());
        } catch (const DataLoadFailure&) {
            l_loaded = false;
        }
        if (m_counter.m_calls != 1)
            OracleFailed("the data-loaded handlers ran " + std::to_string(m_counter.m_calls) + " times in one load");
        return l_loaded;
    }

    static SavedFile Read(const std::string& i_path, QByteArray& o_bytes)
    {
        QFile l_file(QString::fromStdString(i_path));
        if (!l_file.open(QIODevice::ReadOnly))
            OracleFailed("cannot read back a saved file");
        o_bytes = l_file.readAll();
        SavedFile l_saved;
        std::string l_reason;
        if (!DataFile::Parse(o_bytes, l_saved.m_contents, l_reason))
            OracleFailed("a saved file does not parse", l_reason);
        const std::vector<std::uint32_t>& l_ids = l_saved.m_contents.m_connections;
        for (std::size_t l_index = 0; l_index + 1 < l_ids.size(); l_index += 2)
            l_saved.m_connections.emplace_back(std::min(l_ids[l_index], l_ids[l_index + 1]),
                                               std::max(l_ids[l_index], l_ids[l_index + 1]));
        std::sort(l_saved.m_connections.begin(), l_saved.m_connections.end());
        return l_saved;
    }

    static void CompareSavedFiles(const std::string& i_first, const std::string& i_second)
    {
        // The views of Parse point into these.
        QByteArray l_firstBytes;
        QByteArray l_secondBytes;
        const SavedFile l_first = Read(i_first, l_firstBytes);
        const SavedFile l_second = Read(i_second, l_secondBytes);
        if (!SameSections(l_first.m_contents, l_second.m_contents))
            OracleFailed("saving and loading again changed the saved items");
        if (l_first.m_connections != l_second.m_connections)
            OracleFailed("saving and loading again changed the saved connections",
                         std::to_string(l_first.m_connections.size()) + " against " +
                             std::to_string(l_second.m_connections.size()));
    }

    std::unique_ptr<QTemporaryDir> mp_folder;
    std::unique_ptr<DataSaver> mp_saver;
    LoadCounter m_counter;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* ip_data, std::size_t i_size)
{
    return RunInput<Harness>(ip_data, i_size);
}
