// Keeping the index in step with the disk. The walker thread lists the
// folders; here, on the GUI thread, its findings become items, a slice at a
// time, so the window never waits on a rescan for long.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "shares/SearchTokens.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

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
    // They are removed here, not left to the collection: files share their
    // search words, so a gone file stays reachable through its words.
    const ItemSet l_orphans = d.GetType("shared_file_folder")->GetItems().NotConnected("shared_folder");
    const ItemSet l_goneFiles = l_orphans.GetItems("shared_file");
    m_sharedFilesRemoved += static_cast<int>(l_goneFiles.size());
    l_goneFiles.Remove();
    l_orphans.Remove();
    d.RemoveDisconnectedItems();

    const RescanState l_done = m_rescan;
    m_rescan = RescanState{};
    if (l_done.m_report)
        emit SharedFilesRescanned(m_sharedFilesAdded, m_sharedFilesRemoved);
    if (l_done.m_again)
        StartRescan(l_done.m_againReport);
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
    QTimer::singleShot(0, this, &SharedFoldersManager::ApplySlice);
}

void SharedFoldersManager::ApplySlice()
{
    m_sliceScheduled = false;
    QElapsedTimer l_clock;
    l_clock.start();
    // Items removed during a slice are freed once at its end.
    StoreScope l_scope;
    while (!m_batches.empty() && l_clock.elapsed() < SliceBudgetMs) {
        if (!ApplyNextStep())
            break;
    }
    m_longestSliceMs = std::max(m_longestSliceMs, l_clock.elapsed());
    if (!m_batches.empty())
        ScheduleSlice();
}

// One file, or the start or end of a folder or a walk. False when the front
// batch is used up and nothing more can be done until the next arrives.
bool SharedFoldersManager::ApplyNextStep()
{
    const WalkBatch& l_batch = *m_batches.front();
    Q_ASSERT(!m_walks.empty() && m_walks.front().m_id == l_batch.m_walk);
    if (!m_apply.m_started)
        BeginWalk(m_walks.front());

    if (m_apply.m_folder < l_batch.m_folders.size()) {
        const WalkedFolder& l_folder = l_batch.m_folders[m_apply.m_folder];
        if (!m_apply.m_inFolder)
            BeginFolder(l_folder);
        if (m_apply.m_file < l_folder.m_files.size()) {
            if (m_apply.mp_folderItem)
                ApplyFile(l_folder, l_folder.m_files[m_apply.m_file]);
            ++m_apply.m_file;
            return true;
        }
        EndFolder();
        ++m_apply.m_folder;
        m_apply.m_file = 0;
        return true;
    }

    const bool l_last = l_batch.m_last;
    m_batches.pop_front();
    m_apply.m_folder = 0;
    if (l_last)
        EndWalk();
    return !m_batches.empty();
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
    m_apply.m_knownFound.clear();
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
    if (const PartnerSet* lp_files = l_folder->Partners(d.GetType("shared_file")))
        lp_files->AppendTo(m_apply.m_knownFiles);
    m_apply.m_knownFound.assign(m_apply.m_knownFiles.size(), false);
    Type* lp_words = d.GetType("search_token");
    for (const std::string& l_word : i_folder.m_words)
        m_apply.m_folderWords.push_back(lp_words->GetItem(l_word));
}

void SharedFoldersManager::ApplyFile(const WalkedFolder& i_folder, const WalkedFile& i_file)
{
    Item* lp_folder = m_apply.mp_folderItem;
    Type* lp_fileType = d.GetType("shared_file");
    Type* lp_nameType = d.GetType("shared_file_name");
    Type* lp_sizeType = d.GetType("shared_file_size");

    Item* lp_file = nullptr;
    if (ItemPtr l_name = lp_nameType->HasItem(i_file.m_name)) {
        // The file of this folder with exactly this name, found through the
        // name's few files rather than the folder's many.
        if (const PartnerSet* lp_named = l_name->Partners(lp_fileType)) {
            lp_named->AnyOf([&](Item* ip_candidate) {
                if (Partner(ip_candidate, "shared_file_folder") != lp_folder)
                    return false;
                lp_file = ip_candidate;
                return true;
            });
        }
    }

    const std::string l_size = ToString<long long>(i_file.m_size);
    if (lp_file) {
        auto l_known = std::lower_bound(m_apply.m_knownFiles.begin(), m_apply.m_knownFiles.end(), lp_file);
        if (l_known != m_apply.m_knownFiles.end() && *l_known == lp_file)
            m_apply.m_knownFound[static_cast<std::size_t>(l_known - m_apply.m_knownFiles.begin())] = true;
        // A file that changed keeps its item but offers its real size.
        Item* lp_oldSize = Partner(lp_file, "shared_file_size");
        if (!lp_oldSize || lp_oldSize->m_value != l_size)
            ItemPtr(lp_file) += lp_sizeType->GetItem(l_size);
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

void SharedFoldersManager::EndFolder()
{
    if (m_apply.mp_folderItem) {
        // Files indexed here that the disk no longer has.
        for (std::size_t l_index = 0; l_index < m_apply.m_knownFiles.size(); ++l_index) {
            Item* lp_gone = m_apply.m_knownFiles[l_index];
            if (!m_apply.m_knownFound[l_index] && !lp_gone->IsBeingRemoved()) {
                ItemPtr(lp_gone).Remove();
                ++m_sharedFilesRemoved;
            }
        }
    }
    m_apply.m_inFolder = false;
    m_apply.mp_folderItem = nullptr;
    m_apply.m_knownFiles.clear();
    m_apply.m_knownFound.clear();
    m_apply.m_folderWords.clear();
}

void SharedFoldersManager::OnSharedFolderRemoved(Item* ip_folder)
{
    // The rest of its walk is dropped: its folders and files may be
    // collected before the next slice runs.
    if (ip_folder != m_apply.mp_share)
        return;
    m_apply.mp_share = nullptr;
    m_apply.mp_folderItem = nullptr;
    m_apply.m_foldersBefore.clear();
    m_apply.m_foldersVisited.clear();
    m_apply.m_knownFiles.clear();
    m_apply.m_knownFound.clear();
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
