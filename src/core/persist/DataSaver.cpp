#include "core/persist/DataSaver.h"

#include "core/log/Log.h"
#include "core/persist/DataFile.h"
#include "core/persist/FileCommit.h"
#include "core/platform/FileSizeLimit.h"
#include "core/store/Data.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

DataSaver* dataSaver = nullptr;

namespace {

const char* const kLogArea = "Data File";

// Per type, one entry per item (by its index in the type): 0 when the item
// is not saved, else its id in the file plus one (1 while only marked).
using IdTable = std::unordered_map<const Type*, std::vector<std::uint32_t>>;

void WriteOrThrow(const std::string& i_path, const std::vector<char>& i_bytes)
{
    std::string l_reason;
    if (!CommitFile(i_path, i_bytes, l_reason))
        throw DataSaveFailure{l_reason};
}

bool AnyPartnerMarked(const Item* ip_item, const Type* ip_owner, const std::vector<std::uint32_t>& i_ownerMarks)
{
    const PartnerSet* lp_partners = ip_item->Partners(ip_owner);
    if (!lp_partners)
        return false;
    return lp_partners->AnyOf([&](const Item* ip_partner) { return i_ownerMarks[ip_partner->IndexInType()] != 0; });
}

}  // namespace

DataSaver::DataSaver()
{
    IgnoreFileSizeLimitSignal();
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    WaitForPendingSave();
    if (dataSaver == this)
        dataSaver = nullptr;
}

void DataSaver::AddSavedType(const std::string& i_typeName)
{
    Type* lp_type = d.GetType(i_typeName);
    if (std::find(m_savedTypes.begin(), m_savedTypes.end(), lp_type) == m_savedTypes.end())
        m_savedTypes.push_back(lp_type);
}

void DataSaver::AddSavedByConnectionType(const std::string& i_savedTypeName, const std::string& i_ownerTypeName)
{
    const std::pair<Type*, Type*> l_rule(d.GetType(i_savedTypeName), d.GetType(i_ownerTypeName));
    if (std::find(m_savedByConnection.begin(), m_savedByConnection.end(), l_rule) == m_savedByConnection.end())
        m_savedByConnection.push_back(l_rule);
}

std::vector<char> DataSaver::Serialize() const
{
    // The types in the order their sections are written.
    std::vector<const Type*> l_types(m_savedTypes.begin(), m_savedTypes.end());
    for (const auto& l_rule : m_savedByConnection) {
        if (std::find(l_types.begin(), l_types.end(), l_rule.first) == l_types.end())
            l_types.push_back(l_rule.first);
    }
    IdTable l_ids;
    for (const Type* lp_type : l_types)
        l_ids[lp_type].assign(lp_type->ItemCount(), 0);
    for (const Type* lp_type : m_savedTypes)
        std::fill(l_ids[lp_type].begin(), l_ids[lp_type].end(), 1);

    // An item saved by connection needs a saved partner of an owner type;
    // owners may be saved by connection themselves, so go to a fixed point.
    for (bool l_again = true; l_again;) {
        l_again = false;
        for (const auto& [lp_saved, lp_owner] : m_savedByConnection) {
            auto l_owner = l_ids.find(lp_owner);
            if (l_owner == l_ids.end())
                continue;
            std::vector<std::uint32_t>& l_marks = l_ids[lp_saved];
            const std::vector<Item*>& l_items = lp_saved->UnorderedItems();
            for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index) {
                if (l_marks[l_index] == 0 && AnyPartnerMarked(l_items[l_index], lp_owner, l_owner->second)) {
                    l_marks[l_index] = 1;
                    l_again = true;
                }
            }
        }
    }

    DataFile::Writer l_writer;
    std::uint32_t l_nextId = 0;
    std::uint32_t l_sections = 0;
    for (const Type* lp_type : l_types) {
        std::vector<std::uint32_t>& l_marks = l_ids[lp_type];
        const auto l_count = std::uint32_t(std::count(l_marks.begin(), l_marks.end(), 1u));
        if (l_count == 0)
            continue;
        ++l_sections;
        l_writer.BeginSection(lp_type->m_name, lp_type->m_null, l_count);
        const std::vector<Item*>& l_items = lp_type->UnorderedItems();
        for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index) {
            if (l_marks[l_index] == 0)
                continue;
            l_marks[l_index] = ++l_nextId;
            if (lp_type->m_null)
                l_writer.AddNullItem(lp_type->IsGlobalNullItem(l_items[l_index]));
            else
                l_writer.AddValue(l_items[l_index]->m_value);
        }
    }
    l_writer.SetSectionCount(l_sections);

    // Each connection between two saved items once, visited from the type
    // with fewer items: its partner lists run through the larger type in
    // address order, which keeps the walk close to sequential.
    std::vector<const Type*> l_visitOrder = l_types;
    std::stable_sort(l_visitOrder.begin(), l_visitOrder.end(),
                     [](const Type* ip_a, const Type* ip_b) { return ip_a->ItemCount() < ip_b->ItemCount(); });
    auto l_rank = [&l_visitOrder](const Type* ip_type) {
        return std::size_t(std::find(l_visitOrder.begin(), l_visitOrder.end(), ip_type) - l_visitOrder.begin());
    };
    // Per type in visit order: the id of its first item plus one when every
    // item of the type is saved (then ids run in type order), else 0.
    std::vector<std::uint32_t> l_identity;
    for (const Type* lp_type : l_visitOrder) {
        const std::vector<std::uint32_t>& l_marks = l_ids[lp_type];
        const bool l_all = !l_marks.empty() && l_marks.back() - l_marks.front() == l_marks.size() - 1 &&
                           std::find(l_marks.begin(), l_marks.end(), 0u) == l_marks.end();
        l_identity.push_back(l_all ? l_marks.front() : 0);
    }
    l_writer.BeginConnections();
    for (const Type* lp_type : l_visitOrder) {
        const std::size_t l_ownRank = l_rank(lp_type);
        const std::vector<std::uint32_t>& l_marks = l_ids[lp_type];
        const std::vector<Item*>& l_items = lp_type->UnorderedItems();
        for (std::size_t l_index = 0; l_index < l_items.size(); ++l_index) {
            const std::uint32_t l_own = l_marks[l_index];
            if (l_own == 0)
                continue;
            const Item* lp_item = l_items[l_index];
            for (const ConnectionEntry* lp_entry = lp_item->EntriesBegin(); lp_entry != lp_item->EntriesEnd(); ++lp_entry) {
                const std::size_t l_otherRank = l_rank(lp_entry->mp_type);
                if (l_otherRank < l_ownRank || l_otherRank == l_visitOrder.size())
                    continue;
                const std::vector<std::uint32_t>& l_otherMarks = l_ids[lp_entry->mp_type];
                const bool l_sameType = l_otherRank == l_ownRank;
                const std::uint32_t l_identityBase = l_identity[l_otherRank];
                if (l_identityBase != 0 && !l_sameType) {
                    // Every item of that type is saved, in type order: the id
                    // follows from the index without a table lookup.
                    lp_entry->m_partners.ForEach([&](Item* ip_partner) {
                        l_writer.AddConnection(l_own - 1, l_identityBase - 1 + ip_partner->IndexInType());
                    });
                    continue;
                }
                lp_entry->m_partners.ForEach([&](Item* ip_partner) {
                    const std::uint32_t l_id = l_otherMarks[ip_partner->IndexInType()];
                    if (l_id != 0 && (!l_sameType || l_id > l_own))
                        l_writer.AddConnection(l_own - 1, l_id - 1);
                });
            }
        }
    }
    return l_writer.Finish();
}

bool DataSaver::KeepDamagedFile()
{
    if (m_damagedPath.empty())
        return true;
    const std::string l_kept = m_damagedPath + ".damaged";
    const int l_error = std::rename(m_damagedPath.c_str(), l_kept.c_str()) == 0 ? 0 : errno;
    if (l_error == 0) {
        Log(kLogArea, 1, QString::fromStdString("The data file that failed to load is kept as \"" + l_kept + "\""));
    } else if (l_error != ENOENT) {
        // Saving now would overwrite the only copy of what the file held.
        Log(kLogArea, 1,
            QString::fromStdString("Saving skipped, the data file that failed to load cannot be kept as \"" + l_kept +
                                   "\": " + std::strerror(l_error)));
        return false;
    }
    // Kept, or gone meanwhile: either way the save may go ahead.
    m_damagedPath.clear();
    return true;
}

void DataSaver::Save(const char* ip_path)
{
    WaitForPendingSave();
    if (!KeepDamagedFile())
        return;
    try {
        WriteOrThrow(ip_path, Serialize());
    } catch (const DataSaveFailure& i_failure) {
        Log(kLogArea, 1, QString::fromStdString("Saving failed, the previous file is kept: " + i_failure.m_reason));
    }
}

void DataSaver::SaveInBackground(const char* ip_path)
{
    WaitForPendingSave();
    if (!KeepDamagedFile())
        return;
    const std::string l_path(ip_path);
    // A child process gets a copy-on-write snapshot of the whole store for
    // the price of copying page tables, and builds and writes the file while
    // this thread goes on. It uses nothing but the store's own structures,
    // memory allocation and plain system calls, and reports failure through
    // a pipe.
    int l_pipe[2];
    if (::pipe2(l_pipe, O_CLOEXEC) == 0) {
        const pid_t l_child = ::fork();
        if (l_child == 0) {
            // The child keeps only the pipe (as descriptor 3) and the standard
            // streams: sockets and listeners it inherited must close when the
            // parent closes them, not when the save ends. Whatever happens, it
            // never returns into the application's code.
            ::dup2(l_pipe[1], 3);
            ::close_range(4, ~0u, 0);
            bool l_written = false;
            std::string l_reason;
            try {
                l_written = CommitFile(l_path, Serialize(), l_reason);
            } catch (...) {
                l_reason = "the saving process ran out of memory";
            }
            if (!l_written && !l_reason.empty())
                (void)!::write(3, l_reason.data(), l_reason.size());
            ::_exit(l_written ? 0 : 1);
        }
        ::close(l_pipe[1]);
        if (l_child > 0) {
            m_pendingSave = std::thread([l_child, l_readEnd = l_pipe[0]]() {
                std::string l_reason;
                char l_buffer[512];
                for (ssize_t l_read; (l_read = ::read(l_readEnd, l_buffer, sizeof l_buffer)) != 0;) {
                    if (l_read > 0)
                        l_reason.append(l_buffer, std::size_t(l_read));
                    else if (errno != EINTR)
                        break;
                }
                ::close(l_readEnd);
                int l_status = 0;
                while (::waitpid(l_child, &l_status, 0) < 0 && errno == EINTR) {
                }
                if (!WIFEXITED(l_status) || WEXITSTATUS(l_status) != 0)
                    Log(kLogArea, 1,
                        QString::fromStdString("Saving failed, the previous file is kept: " +
                                               (l_reason.empty() ? std::string("the saving process failed") : l_reason)));
            });
            return;
        }
        ::close(l_pipe[0]);
    }
    // No child process to be had: take the snapshot here and write it on a
    // worker thread.
    m_pendingSave = std::thread([l_path, l_bytes = Serialize()]() {
        try {
            WriteOrThrow(l_path, l_bytes);
        } catch (const DataSaveFailure& i_failure) {
            Log(kLogArea, 1, QString::fromStdString("Saving failed, the previous file is kept: " + i_failure.m_reason));
        }
    });
}

void DataSaver::WaitForPendingSave()
{
    if (m_pendingSave.joinable())
        m_pendingSave.join();
}

void DataSaver::Load(const char* ip_path)
{
    WaitForPendingSave();
    QFile l_file(QString::fromLocal8Bit(ip_path));
    if (!l_file.open(QIODevice::ReadOnly)) {
        EmitDataLoaded();
        return;
    }
    const QByteArray l_bytes = l_file.readAll();
    DataFile::Contents l_contents;
    std::string l_reason;
    if (l_file.error() != QFileDevice::NoError)
        l_reason = "the file cannot be read";
    else if (!DataFile::Parse(l_bytes, l_contents, l_reason))
        l_reason = "the file is damaged: " + l_reason;
    if (!l_reason.empty()) {
        Log(kLogArea, 1, QString::fromStdString("Loading failed, starting from scratch: " + l_reason));
        m_damagedPath = ip_path;
        EmitDataLoaded();
        throw DataLoadFailure{l_reason};
    }
    Apply(l_contents);
    EmitDataLoaded();
}

void DataSaver::Apply(const DataFile::Contents& i_contents)
{
    StoreScope l_scope;
    std::vector<Item*> l_items(i_contents.m_itemCount, nullptr);
    for (const DataFile::Section& l_section : i_contents.m_sections) {
        Type* lp_type = d.HasType(std::string(l_section.m_typeName));
        if (!lp_type || lp_type->m_null != l_section.m_null || !IsLoadedType(lp_type)) {
            Log(kLogArea, 1,
                QString("Skipped %1 saved items of the unknown or unsaved type \"%2\"")
                    .arg(l_section.Count())
                    .arg(QString::fromStdString(std::string(l_section.m_typeName))));
            continue;
        }
        lp_type->ReserveItems(l_section.Count());
        for (std::uint32_t l_index = 0; l_index < l_section.Count(); ++l_index) {
            Item* lp_item = nullptr;
            if (!l_section.m_null)
                lp_item = lp_type->NewItem(std::string(l_section.m_values[l_index]));
            else if (l_section.m_sharedFlags[l_index])
                lp_item = lp_type->GetGlobalNullItem();
            else
                lp_item = lp_type->NewItem();
            l_items[l_section.m_firstId + l_index] = lp_item;
        }
    }
    std::size_t l_skipped = 0;
    const std::vector<std::uint32_t>& l_connections = i_contents.m_connections;
    // Connecting reads both items' tables: fetch them a few pairs ahead so
    // that the cache misses of consecutive pairs overlap.
    constexpr std::size_t kAhead = 16;
    for (std::size_t l_pair = 0; l_pair < l_connections.size(); l_pair += 2) {
        if (l_pair + kAhead + 1 < l_connections.size()) {
            if (const Item* lp_next = l_items[l_connections[l_pair + kAhead]])
                __builtin_prefetch(reinterpret_cast<const char*>(lp_next) + Item::kEntriesOffset);
            if (const Item* lp_next = l_items[l_connections[l_pair + kAhead + 1]])
                __builtin_prefetch(reinterpret_cast<const char*>(lp_next) + Item::kEntriesOffset);
        }
        Item* lp_first = l_items[l_connections[l_pair]];
        Item* lp_second = l_items[l_connections[l_pair + 1]];
        if (!lp_first || !lp_second)
            continue;
        if (lp_first == lp_second || !lp_first->mp_type->FindRelation(lp_second->mp_type) || lp_first->IsBeingRemoved() ||
            lp_second->IsBeingRemoved()) {
            ++l_skipped;
            continue;
        }
        lp_first->Connect(lp_second);
    }
    if (l_skipped > 0)
        Log(kLogArea, 1, QString("Skipped %1 saved connections between unrelated types").arg(l_skipped));
}

bool DataSaver::IsLoadedType(const Type* ip_type) const
{
    return std::find(m_savedTypes.begin(), m_savedTypes.end(), ip_type) != m_savedTypes.end() ||
           std::any_of(m_savedByConnection.begin(), m_savedByConnection.end(),
                       [ip_type](const std::pair<Type*, Type*>& i_rule) { return i_rule.first == ip_type; });
}

void DataSaver::EmitDataLoaded()
{
    m_loaded = true;
    // Over a copy: a handler may register another object meanwhile.
    const std::set<DataLoadedEventHandler*> l_handlers = m_dataLoadedEventHandlers;
    for (DataLoadedEventHandler* lp_handler : l_handlers)
        lp_handler->DataLoaded();
}
