// Keeping the index in step with the disk. The walker thread lists the
// folders; here, on the GUI thread, its findings become items, a slice at a
// time, so the window never waits on a rescan for long.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "shares/SearchTokens.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <unordered_set>

namespace
{
bool EndsWithMp3(const std::string& i_name)
{
    if (i_name.size() <= 4)
        return false;
    const std::string l_tail = i_name.substr(i_name.size() - 4);
    return l_tail == ".mp3" || l_tail == ".MP3";
}

Item* Partner(const Item* ip_item, const char* ip_type)
{
    return ItemPtr(const_cast<Item*>(ip_item)).HasItem(ip_type).Get();
}

// Whether a primary item reaches the item through items that are not
// primary: the store's own rule of what stays. Searched depth first, the
// smallest partner sets first, so a word still in use is found held within
// a few steps (word, one of its files, that file's folder, its share)
// instead of after its thousands of files. A search that grows too deep or
// too long counts as reachable: it keeps what it cannot decide. Files and
// folders count as held too: the rescan removes those itself, and counts
// them, when the disk or the shares no longer have them.
class Reachability
{
public:
    Reachability() : mp_fileType(d.GetType("shared_file")), mp_folderType(d.GetType("shared_file_folder")) {}

    bool Reaches(Item* ip_item)
    {
        m_seen.insert(ip_item);
        return Visit(ip_item, 0);
    }
    // After an unsuccessful search: every item met, all unreachable alike.
    const std::unordered_set<Item*>& Component() const { return m_seen; }

private:
    static constexpr int MaxDepth = 64;

    bool Visit(Item* ip_item, int i_depth)
    {
        if (ip_item->mp_type == mp_fileType || ip_item->mp_type == mp_folderType)
            return true;
        std::array<const ConnectionEntry*, 16> l_entries{};
        std::size_t l_count = 0;
        for (const ConnectionEntry* lp_entry = ip_item->EntriesBegin(); lp_entry != ip_item->EntriesEnd(); ++lp_entry) {
            if (lp_entry->mp_type->m_primary)
                return true;
            if (l_count == l_entries.size())
                return true;
            l_entries[l_count++] = lp_entry;
        }
        if (i_depth >= MaxDepth || --m_budget < 0)
            return true;
        std::sort(l_entries.begin(), l_entries.begin() + std::ptrdiff_t(l_count),
                  [](const ConnectionEntry* ip_a, const ConnectionEntry* ip_b) { return ip_a->m_partners.Size() < ip_b->m_partners.Size(); });
        for (std::size_t l_index = 0; l_index < l_count; ++l_index) {
            const bool l_reached = l_entries[l_index]->m_partners.AnyOf(
                [&](Item* ip_partner) { return m_seen.insert(ip_partner).second && Visit(ip_partner, i_depth + 1); });
            if (l_reached)
                return true;
        }
        return false;
    }

    Type* mp_fileType;
    Type* mp_folderType;
    std::unordered_set<Item*> m_seen;
    int m_budget = 4096;
};

bool HeldByPrimary(const Item* ip_item)
{
    for (const ConnectionEntry* lp_entry = ip_item->EntriesBegin(); lp_entry != ip_item->EntriesEnd(); ++lp_entry) {
        if (lp_entry->mp_type->m_primary)
            return true;
    }
    return false;
}

// Removes the item with everything that only it kept reachable.
void RemoveIfUnreachable(Item* ip_item)
{
    if (ip_item->IsBeingRemoved() || ip_item->mp_type->m_primary)
        return;
    Reachability l_search;
    if (l_search.Reaches(ip_item))
        return;
    for (Item* lp_item : l_search.Component())
        ItemPtr(lp_item).Remove();
}
}  // namespace

void SharedFoldersManager::Init()
{
    if (m_initialised)
        return;
    m_initialised = true;
    d.GetType("shared_folder")->ItemAddedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnSharedFolderAdded));
    StartRescan(false);
}

void SharedFoldersManager::RescanShares()
{
    StartRescan(true);
}

void SharedFoldersManager::OnSharedFolderAdded(Item* ip_folder)
{
    AddSharedFiles(ip_folder->m_value, ip_folder->m_value);
}

void SharedFoldersManager::AddSharedFiles(std::string i_share, std::string i_folder)
{
    // A walk always starts at its share's root, so the two are the same.
    Q_UNUSED(i_folder);
    QueueWalk(i_share, false);
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr i_sharedFile)
{
    const ItemPtr l_folder = i_sharedFile["shared_file_folder"];
    const ItemPtr l_name = i_sharedFile["shared_file_name"];
    ConnectWords(i_sharedFile, {}, SearchTokens::FileWords(l_folder.AsString(), l_name.AsString()));
}

void SharedFoldersManager::StartRescan(bool i_report)
{
    if (m_rescan.m_running) {
        m_rescan.m_again = true;
        m_rescan.m_againReport = m_rescan.m_againReport || i_report;
        return;
    }
    m_rescan = RescanState{true, i_report, false, false};
    m_sharedFilesAdded = 0;
    m_sharedFilesRemoved = 0;
    const ItemSet l_shares = d.GetType("shared_folder")->GetItems();
    if (l_shares.empty()) {
        FinishRescan();
        return;
    }
    std::size_t l_index = 0;
    for (Item* lp_share : l_shares)
        QueueWalk(lp_share->m_value, ++l_index == l_shares.size());
}

void SharedFoldersManager::FinishRescan()
{
    // Folders that no share holds any more went away with their files.
    // They are removed here, not left to a collection of the whole store:
    // files share their search words, so a gone file stays reachable
    // through its words; and a collection of a large index would hold the
    // window far longer than a slice. Kept by path: the removal takes
    // several slices.
    m_finish = FinishState{};
    Type* lp_shares = d.GetType("shared_folder");
    for (Item* lp_folder : d.GetType("shared_file_folder")->UnorderedItems()) {
        if (!lp_folder->Partners(lp_shares))
            m_finish.m_orphans.push_back(lp_folder->m_value);
    }
    if (m_finish.m_orphans.empty()) {
        CompleteRescan();
        return;
    }
    m_finish.m_active = true;
    ScheduleSlice();
}

// A few files of the next folder that no share holds, or that folder once
// it is empty.
void SharedFoldersManager::FinishStep()
{
    Type* lp_folders = d.GetType("shared_file_folder");
    Type* lp_shares = d.GetType("shared_folder");
    Type* lp_fileType = d.GetType("shared_file");
    while (m_finish.m_next < m_finish.m_orphans.size()) {
        Item* lp_folder = lp_folders->HasItem(m_finish.m_orphans[m_finish.m_next]);
        if (!lp_folder || lp_folder->Partners(lp_shares)) {
            ++m_finish.m_next;
            continue;
        }
        std::vector<Item*> l_files;
        if (const PartnerSet* lp_files = lp_folder->Partners(lp_fileType)) {
            lp_files->AnyOf([&](Item* ip_file) {
                l_files.push_back(ip_file);
                return l_files.size() == RemovalsPerStep;
            });
        }
        if (l_files.empty()) {
            RemoveWithLeftovers({lp_folder});
            ++m_finish.m_next;
        } else {
            m_sharedFilesRemoved += static_cast<int>(l_files.size());
            RemoveWithLeftovers(l_files);
        }
        return;
    }
    m_finish = FinishState{};
    CompleteRescan();
}

void SharedFoldersManager::CompleteRescan()
{
    const RescanState l_done = m_rescan;
    m_rescan = RescanState{};
    if (l_done.m_report)
        emit SharedFilesRescanned(m_sharedFilesAdded, m_sharedFilesRemoved);
    if (l_done.m_again)
        StartRescan(l_done.m_againReport);
}

void SharedFoldersManager::RemoveWithLeftovers(const std::vector<Item*>& i_items)
{
    std::vector<Item*> l_partners;
    Type* lp_fileType = d.GetType("shared_file");
    for (Item* lp_item : i_items) {
        if (lp_item->IsBeingRemoved())
            continue;
        if (lp_item->mp_type == lp_fileType && HeldByPrimary(lp_item)) {
            SetAside(lp_item, l_partners);
            continue;
        }
        for (const ConnectionEntry* lp_entry = lp_item->EntriesBegin(); lp_entry != lp_item->EntriesEnd(); ++lp_entry) {
            if (!lp_entry->mp_type->m_primary)
                lp_entry->m_partners.AppendTo(l_partners);
        }
        ItemPtr(lp_item).Remove();
    }
    // Files of one folder share most of their words: each is looked at once.
    std::sort(l_partners.begin(), l_partners.end());
    l_partners.erase(std::unique(l_partners.begin(), l_partners.end()), l_partners.end());
    for (Item* lp_partner : l_partners)
        RemoveIfUnreachable(lp_partner);
}

// A vanished file that something primary holds (an upload entry) is not
// removed from under it, any more than a vanished folder's files are; it is
// kept, out of the index: the entry still names the file and its size,
// nothing lists or finds it, and the upload is refused as not shared when
// its turn comes. The file goes once nothing primary holds it
// (OnSharedFileDisconnected).
void SharedFoldersManager::SetAside(Item* ip_file, std::vector<Item*>& io_leftovers)
{
    Type* lp_keep[] = {d.GetType("shared_file_name"), d.GetType("shared_file_size")};
    std::vector<Item*> l_partners;
    for (const ConnectionEntry* lp_entry = ip_file->EntriesBegin(); lp_entry != ip_file->EntriesEnd(); ++lp_entry) {
        if (lp_entry->mp_type->m_primary || lp_entry->mp_type == lp_keep[0] || lp_entry->mp_type == lp_keep[1])
            continue;
        lp_entry->m_partners.AppendTo(l_partners);
    }
    ItemPtr l_file(ip_file);
    for (Item* lp_partner : l_partners)
        l_file.Disconnect(lp_partner);
    io_leftovers.insert(io_leftovers.end(), l_partners.begin(), l_partners.end());
}

void SharedFoldersManager::OnSharedFileDisconnected(ConnectionInfo i_info)
{
    Item* lp_file = i_info.mp_item1;
    if (!i_info.mp_item2->mp_type->m_primary || lp_file->IsBeingRemoved() || IsIndexed(lp_file) ||
        HeldByPrimary(lp_file))
        return;
    RemoveWithLeftovers({lp_file});
}

bool SharedFoldersManager::IsIndexed(ItemPtr i_sharedFile)
{
    return i_sharedFile && i_sharedFile.IsConnected("shared_file_folder");
}

int SharedFoldersManager::IndexedFileCount() const
{
    Type* lp_fileType = d.GetType("shared_file");
    std::size_t l_count = 0;
    for (Item* lp_folder : d.GetType("shared_file_folder")->UnorderedItems()) {
        if (const PartnerSet* lp_files = lp_folder->Partners(lp_fileType))
            l_count += lp_files->Size();
    }
    return static_cast<int>(l_count);
}

void SharedFoldersManager::QueueWalk(const std::string& i_share, bool i_endsRescan)
{
    const quint64 l_id = m_nextWalk++;
    m_walks.push_back({l_id, i_share, i_endsRescan});
    emit WalkRequested(l_id, QByteArray::fromStdString(i_share));
}

void SharedFoldersManager::OnWalked(WalkBatchPtr i_batch)
{
    m_batches.push_back(std::move(i_batch));
    ScheduleSlice();
}

void SharedFoldersManager::ScheduleSlice()
{
    if (m_sliceScheduled)
        return;
    m_sliceScheduled = true;
    QTimer::singleShot(1, Qt::PreciseTimer, this, &SharedFoldersManager::ApplySlice);
}

void SharedFoldersManager::ApplySlice()
{
    m_sliceScheduled = false;
    QElapsedTimer l_clock;
    l_clock.start();
    // Items removed during a slice are freed once at its end.
    StoreScope l_scope;
    while ((!m_batches.empty() || m_finish.m_active) && l_clock.elapsed() < SliceBudgetMs) {
        if (!ApplyNextStep())
            break;
    }
    m_longestSliceMs = std::max(m_longestSliceMs, l_clock.elapsed());
    if (!m_batches.empty() || m_finish.m_active)
        ScheduleSlice();
}

// One file, the start of a folder or a walk, a few removals at the end of a
// folder or of the rescan, or the end of a walk. False when the front batch
// is used up and nothing more can be done until the next arrives.
bool SharedFoldersManager::ApplyNextStep()
{
    // The rescan's end comes before any walk queued meanwhile.
    if (m_finish.m_active) {
        FinishStep();
        return true;
    }
    const WalkBatch& l_batch = *m_batches.front();
    Q_ASSERT(!m_walks.empty() && m_walks.front().m_id == l_batch.m_walk);
    if (!m_apply.m_started)
        BeginWalk(m_walks.front());

    if (m_apply.m_folder < l_batch.m_folders.size()) {
        const WalkedFolder& l_folder = l_batch.m_folders[m_apply.m_folder];
        if (!m_apply.m_inFolder)
            BeginFolder(l_folder);
        if (m_apply.m_knownIndexed < m_apply.m_knownFiles.size()) {
            IndexKnownFiles();
            return true;
        }
        if (m_apply.m_file < l_folder.m_files.size()) {
            if (m_apply.mp_folderItem)
                ApplyFile(l_folder, l_folder.m_files[m_apply.m_file]);
            ++m_apply.m_file;
            return true;
        }
        if (!EndFolderStep(l_folder))
            return true;
        ++m_apply.m_folder;
        m_apply.m_file = 0;
        return true;
    }

    const bool l_last = l_batch.m_last;
    // A batch may hold a folder of hundreds of thousands of files: freeing
    // it here would hold the GUI thread beyond a slice. The walker's thread
    // frees it.
    QMetaObject::invokeMethod(mp_walker, [l_used = std::move(m_batches.front())] {}, Qt::QueuedConnection);
    m_batches.pop_front();
    m_apply.m_folder = 0;
    if (l_last)
        EndWalk();
    return !m_batches.empty() || m_finish.m_active;
}

void SharedFoldersManager::BeginWalk(const PendingWalk& i_walk)
{
    m_apply = ApplyState{};
    m_apply.m_started = true;
    // A share removed since its walk was asked for is not made again.
    m_apply.mp_share = d.GetType("shared_folder")->HasItem(i_walk.m_share);
    if (m_apply.mp_share) {
        if (const PartnerSet* lp_folders = m_apply.mp_share->Partners(d.GetType("shared_file_folder")))
            lp_folders->AppendTo(m_apply.m_foldersBefore);
    }
}

void SharedFoldersManager::BeginFolder(const WalkedFolder& i_folder)
{
    m_apply.m_inFolder = true;
    m_apply.mp_folderItem = nullptr;
    m_apply.m_knownFiles.clear();
    m_apply.m_knownByName.clear();
    m_apply.m_knownIndexed = 0;
    m_apply.m_folderWords.clear();
    if (!m_apply.mp_share)
        return;
    Log("Shared", 1,
        QString("Adding folder %1 as part of sharing %2")
            .arg(QString::fromStdString(i_folder.m_path), QString::fromStdString(m_apply.mp_share->m_value)));
    ItemPtr l_folder = d.GetType("shared_file_folder")->GetItem(i_folder.m_path);
    ItemPtr(m_apply.mp_share) += l_folder;
    m_apply.mp_folderItem = l_folder;
    m_apply.m_foldersVisited.push_back(l_folder);
    // Found again by name: the walk's names are unique within a folder, and
    // a common name ("cover.jpg") may have thousands of files elsewhere.
    // Their names are looked up in later steps (IndexKnownFiles).
    if (const PartnerSet* lp_files = l_folder->Partners(d.GetType("shared_file"))) {
        m_apply.m_knownFiles.reserve(lp_files->Size());
        lp_files->ForEach([&](Item* ip_file) { m_apply.m_knownFiles.push_back({nullptr, ip_file, false}); });
    }
    Type* lp_words = d.GetType("search_token");
    for (const std::string& l_word : i_folder.m_words)
        m_apply.m_folderWords.push_back(lp_words->GetItem(l_word));
}

void SharedFoldersManager::IndexKnownFiles()
{
    constexpr std::size_t l_perStep = 2048;
    Type* lp_nameType = d.GetType("shared_file_name");
    if (m_apply.m_knownByName.empty())
        m_apply.m_knownByName.reserve(m_apply.m_knownFiles.size());
    const std::size_t l_end = std::min(m_apply.m_knownFiles.size(), m_apply.m_knownIndexed + l_perStep);
    for (; m_apply.m_knownIndexed < l_end; ++m_apply.m_knownIndexed) {
        KnownFile& l_known = m_apply.m_knownFiles[m_apply.m_knownIndexed];
        const PartnerSet* lp_name = l_known.mp_file->Partners(lp_nameType);
        l_known.mp_name = lp_name ? lp_name->First() : nullptr;
        // Of twins (only a damaged index has them) the first is kept; the
        // others go when the folder ends.
        if (l_known.mp_name)
            m_apply.m_knownByName.emplace(l_known.mp_name, m_apply.m_knownIndexed);
    }
}

void SharedFoldersManager::ApplyFile(const WalkedFolder& i_folder, const WalkedFile& i_file)
{
    Item* lp_folder = m_apply.mp_folderItem;
    Type* lp_nameType = d.GetType("shared_file_name");
    Type* lp_sizeType = d.GetType("shared_file_size");

    Item* lp_file = nullptr;
    if (Item* lp_name = lp_nameType->HasItem(i_file.m_name)) {
        const auto l_known = m_apply.m_knownByName.find(lp_name);
        if (l_known != m_apply.m_knownByName.end()) {
            KnownFile& l_file = m_apply.m_knownFiles[l_known->second];
            l_file.m_found = true;
            lp_file = l_file.mp_file;
        }
    }

    const std::string l_size = ToString<long long>(i_file.m_size);
    if (lp_file) {
        // A file that changed keeps its item but offers its real size.
        Item* lp_oldSize = Partner(lp_file, "shared_file_size");
        if (!lp_oldSize || lp_oldSize->m_value != l_size) {
            ItemPtr(lp_file) += lp_sizeType->GetItem(l_size);
            if (lp_oldSize)
                RemoveIfUnreachable(lp_oldSize);
        }
    } else {
        ItemPtr l_new = ItemPtr(lp_folder).NewItem("shared_file");
        l_new += lp_nameType->GetItem(i_file.m_name);
        l_new += lp_sizeType->GetItem(l_size);
        lp_file = l_new;
        ++m_sharedFilesAdded;
    }

    if (EndsWithMp3(i_file.m_name) && !ItemPtr(lp_file).IsConnected("is_scanned")) {
        const std::string l_path =
            (!i_folder.m_path.empty() && i_folder.m_path.back() == '/' ? i_folder.m_path : i_folder.m_path + "/") +
            i_file.m_name;
        emit MP3ScanRequired(QString::fromLatin1(l_path.data(), static_cast<qsizetype>(l_path.size())));
    }

    // The words depend only on the folder and the name, so a file that has
    // them has them all.
    if (!ItemPtr(lp_file).IsConnected("search_token"))
        ConnectWords(lp_file, m_apply.m_folderWords, i_file.m_words);
}

void SharedFoldersManager::ConnectWords(Item* ip_file, const std::vector<Item*>& i_folderWords,
                                        const std::vector<std::string>& i_words)
{
    ItemPtr l_file(ip_file);
    for (Item* lp_word : i_folderWords)
        l_file += lp_word;
    Type* lp_words = d.GetType("search_token");
    for (const std::string& l_word : i_words)
        l_file += lp_words->GetItem(l_word);
}

bool SharedFoldersManager::EndFolderStep(const WalkedFolder& i_folder)
{
    if (m_apply.mp_folderItem) {
        // Files indexed here that the disk no longer has, a few at a time.
        std::vector<Item*> l_gone;
        while (m_apply.m_gone < m_apply.m_knownFiles.size() && l_gone.size() < RemovalsPerStep) {
            const KnownFile& l_known = m_apply.m_knownFiles[m_apply.m_gone++];
            if (!l_known.m_found && !l_known.mp_file->IsBeingRemoved())
                l_gone.push_back(l_known.mp_file);
        }
        m_sharedFilesRemoved += static_cast<int>(l_gone.size());
        RemoveWithLeftovers(l_gone);
        if (m_apply.m_gone < m_apply.m_knownFiles.size())
            return false;
        // Words of the folder's path that no file took (an empty folder's),
        // looked up again: a removal above may have taken one.
        Type* lp_words = d.GetType("search_token");
        for (const std::string& l_word : i_folder.m_words) {
            Item* lp_word = lp_words->HasItem(l_word);
            if (lp_word && lp_word->IsDisconnectedFromAll())
                ItemPtr(lp_word).Remove();
        }
    }
    m_apply.m_inFolder = false;
    m_apply.mp_folderItem = nullptr;
    m_apply.m_knownFiles.clear();
    m_apply.m_knownByName.clear();
    m_apply.m_knownIndexed = 0;
    m_apply.m_gone = 0;
    m_apply.m_folderWords.clear();
    return true;
}

void SharedFoldersManager::OnSharedFolderRemoved(Item* ip_folder)
{
    if (ip_folder == m_apply.mp_share)
        DropWalkOfRemovedShare();
    // Unsharing takes the folders that only this share held out of the
    // index at once, with their files, as the end of a rescan would: left
    // to the next rescan, they stayed reachable through search words that
    // files of other shares have too, were counted at login and could be
    // uploaded. (The links to the share still stand while this runs.)
    Type* lp_shares = d.GetType("shared_folder");
    Type* lp_fileType = d.GetType("shared_file");
    std::vector<Item*> l_folders;
    if (const PartnerSet* lp_folders = ip_folder->Partners(d.GetType("shared_file_folder")))
        lp_folders->AppendTo(l_folders);
    StoreScope l_scope;
    for (Item* lp_folder : l_folders) {
        const PartnerSet* lp_holders = lp_folder->Partners(lp_shares);
        if (lp_folder->IsBeingRemoved() || (lp_holders && lp_holders->Size() > 1))
            continue;
        std::vector<Item*> l_files;
        if (const PartnerSet* lp_files = lp_folder->Partners(lp_fileType))
            lp_files->AppendTo(l_files);
        RemoveWithLeftovers(l_files);
        RemoveWithLeftovers({lp_folder});
    }
}

void SharedFoldersManager::DropWalkOfRemovedShare()
{
    // The rest of its walk is dropped: its folders and files are removed
    // as no share's.
    m_apply.mp_share = nullptr;
    m_apply.mp_folderItem = nullptr;
    m_apply.m_foldersBefore.clear();
    m_apply.m_foldersVisited.clear();
    m_apply.m_knownFiles.clear();
    m_apply.m_knownByName.clear();
    m_apply.m_knownIndexed = 0;
    m_apply.m_folderWords.clear();
}

void SharedFoldersManager::EndWalk()
{
    if (m_apply.mp_share) {
        // The share holds exactly the folders that still exist below it.
        std::sort(m_apply.m_foldersVisited.begin(), m_apply.m_foldersVisited.end());
        for (Item* lp_before : m_apply.m_foldersBefore) {
            if (!std::binary_search(m_apply.m_foldersVisited.begin(), m_apply.m_foldersVisited.end(), lp_before))
                ItemPtr(m_apply.mp_share).Disconnect(lp_before);
        }
    }
    const bool l_endsRescan = m_walks.front().m_endsRescan;
    m_walks.pop_front();
    m_apply = ApplyState{};
    if (l_endsRescan)
        FinishRescan();
}
