// Listings of our share for other users: the whole share they may see, or
// one folder of it.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessageCodes.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFolderInfo.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace
{
std::string Replaced(std::string i_text, char i_from, char i_to)
{
    std::replace(i_text.begin(), i_text.end(), i_from, i_to);
    return i_text;
}

// The one line about a reply that is not sent.
void LogUnsentListing(const std::string& i_user, const BrowseReply& i_reply)
{
    if (i_reply.m_outcome == PayloadCompression::Outcome::TooLarge)
        Log("Shared", 1,
            QString("Shared file list for user %1 is too large to send (%2 files in %3 folders, %4 bytes before "
                    "compression); nothing sent")
                .arg(QString::fromStdString(i_user))
                .arg(i_reply.m_files)
                .arg(i_reply.m_folders)
                .arg(i_reply.m_listingBytes));
    else if (i_reply.m_outcome == PayloadCompression::Outcome::CompressionFailed)
        Log("Shared", 1,
            QString("Shared file list for user %1 could not be compressed; nothing sent").arg(QString::fromStdString(i_user)));
}

void LogListingRequest(const std::string& i_user)
{
    Log("Shared", 1, QString("Shared file list requested by user %1").arg(QString::fromStdString(i_user)));
}
}  // namespace

SharedFoldersManager::SharedFilesListing SharedFoldersManager::SharedFilesPayload(const std::string& i_user)
{
    return ListingOf(GetUserSharedFolders(i_user));
}

BrowseListing SharedFoldersManager::ListingOf(const ItemSet& i_shares) const
{
    Type* lp_fileType = d.GetType("shared_file");
    const ItemSet l_folders = i_shares.GetItems("shared_file_folder");
    // Written as a map of folder names to sets of records would be, but
    // sorted once in flat vectors: the listing is built on the GUI thread.
    using Folder = std::pair<std::string, std::vector<FileInfo>>;
    std::vector<Folder> l_listing;
    l_listing.reserve(l_folders.size());
    BrowseListing l_result;
    for (Item* lp_folder : l_folders) {
        Folder& l_folder = l_listing.emplace_back(Replaced(lp_folder->m_value, '/', '\\'), std::vector<FileInfo>());
        const PartnerSet* lp_files = lp_folder->Partners(lp_fileType);
        if (!lp_files)
            continue;
        l_folder.second.reserve(lp_files->Size());
        lp_files->ForEach([&](Item* ip_file) {
            FileInfo& l_info = l_folder.second.emplace_back(ListingRecord(ip_file, true));
            // Only a bare name travels, even if a name holds a separator.
            if (l_info.m_name.empty() || l_info.m_name.find_first_of("/\\") != std::string::npos)
                l_info.m_name = GetFileName(l_folder.first + "\\" + l_info.m_name);
        });
        l_result.m_files += lp_files->Size();
    }
    // Folders whose names are equal once "/" became "\\" are one entry.
    std::sort(l_listing.begin(), l_listing.end(),
              [](const Folder& i_a, const Folder& i_b) { return i_a.first < i_b.first; });
    std::vector<Folder> l_merged;
    l_merged.reserve(l_listing.size());
    for (Folder& l_folder : l_listing) {
        if (!l_merged.empty() && l_merged.back().first == l_folder.first)
            std::move(l_folder.second.begin(), l_folder.second.end(), std::back_inserter(l_merged.back().second));
        else
            l_merged.push_back(std::move(l_folder));
    }
    for (Folder& l_folder : l_merged) {
        std::vector<FileInfo>& l_files = l_folder.second;
        std::sort(l_files.begin(), l_files.end());
        // Records equal in name and size are one.
        l_files.erase(std::unique(l_files.begin(), l_files.end(),
                                  [](const FileInfo& i_a, const FileInfo& i_b) { return !(i_a < i_b) && !(i_b < i_a); }),
                      l_files.end());
    }
    l_result.m_folders = l_merged.size();
    l_result.m_payload.Write(l_merged);
    l_result.m_payload.Write(0u);  // no attribute names
    return l_result;
}


MemStream SharedFoldersManager::GetSharedFilesMessage(std::string i_user)
{
    LogListingRequest(i_user);
    const SharedFilesListing l_listing = SharedFilesPayload(i_user);
    BrowseReply l_reply;
    l_reply.m_outcome = PayloadCompression::Frame(PeerMessageCodes::SharedFileList, l_listing.m_payload, l_reply.m_body);
    l_reply.m_files = l_listing.m_files;
    l_reply.m_folders = l_listing.m_folders;
    l_reply.m_listingBytes = l_listing.m_payload.mp_buffer->m_writeIndex;
    LogUnsentListing(i_user, l_reply);
    return l_reply.m_body;
}

void SharedFoldersManager::RequestSharedFilesMessage(std::string i_user, BrowseReplyDone i_done)
{
    LogListingRequest(i_user);
    BrowseReplyCache::Key l_key;
    for (Item* lp_share : GetUserSharedFolders(i_user))
        l_key.push_back(lp_share->m_value);
    std::sort(l_key.begin(), l_key.end());
    mp_browseReplies->Request(l_key, [i_user, i_done = std::move(i_done)](const BrowseReply& i_reply) {
        if (!i_reply.m_abandoned)
            LogUnsentListing(i_user, i_reply);
        i_done(i_reply.m_body);
    });
}

void SharedFoldersManager::WatchListedItems()
{
    mp_browseReplies = std::make_unique<BrowseReplyCache>([this](const BrowseReplyCache::Key& i_key) {
        ItemSet l_shares;
        Type* lp_shares = d.GetType("shared_folder");
        for (const std::string& l_path : i_key) {
            if (ItemPtr l_share = lp_shares->HasItem(l_path))
                l_shares.insert(l_share.Get());
        }
        return ListingOf(l_shares);
    });
    // A folder's files, a share's folders and its access, and the files'
    // names, sizes and audio figures: all that a listing shows.
    for (const char* lp_type : {"shared_folder", "shared_file_folder"}) {
        Type* lp_listed = d.GetType(lp_type);
        lp_listed->ItemsConnectedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnListedItemsChanged));
        lp_listed->ItemsDisconnectedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnListedItemsChanged));
    }
    Type* lp_files = d.GetType("shared_file");
    for (const char* lp_attribute : {"shared_file_name", "shared_file_size", "bitrate", "bitrate_mode"})
        d.AddConnectionEventHandler(lp_files, d.GetType(lp_attribute), MakeHandler(&SharedFoldersManager::OnListedFileChanged));
    lp_files->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(&SharedFoldersManager::OnListedFileRemoved));
}

void SharedFoldersManager::OnListedItemsChanged(ConnectionInfo)
{
    mp_browseReplies->Invalidate();
}

void SharedFoldersManager::OnListedFileChanged(ConnectionInfo&)
{
    mp_browseReplies->Invalidate();
}

void SharedFoldersManager::OnListedFileRemoved(Item*)
{
    mp_browseReplies->Invalidate();
}

void SharedFoldersManager::OnFilesInFoldersRequested(std::string i_user, quint32 i_req, std::string i_folder)
{
    ItemPtr l_folder = d.GetType("shared_file_folder")->HasItem(Replaced(i_folder, '\\', '/'));
    if (!l_folder)
        return;
    if (GetUserSharedFolders(i_user).Connected(l_folder).empty())
        return;

    std::map<std::string, SharedFolderInfo> l_entry;
    SharedFolderInfo& l_info = l_entry[i_folder];
    if (const PartnerSet* lp_files = l_folder->Partners(d.GetType("shared_file")))
        lp_files->ForEach([&](Item* ip_file) { l_info.m_fileSet.insert(ListingRecord(ip_file, false)); });

    MemStream l_payload;
    l_payload.Write(static_cast<unsigned int>(i_req));
    l_payload.Write(i_folder);
    l_payload.Write(l_entry);
    SendReply(i_user, PeerMessageCodes::SharedFilesInFolder, l_payload, QString("Folder contents"));
}

void SharedFoldersManager::SendReply(const std::string& i_user, unsigned int i_code, const MemStream& i_payload,
                                     const QString& i_what)
{
    MemStream l_body;
    switch (PayloadCompression::Frame(i_code, i_payload, l_body)) {
    case PayloadCompression::Outcome::Built:
        m_sendMessage(i_user, l_body);
        return;
    case PayloadCompression::Outcome::TooLarge:
        Log("Shared", 1,
            QString("%1 for user %2 too large to send (%3 bytes before compression); nothing sent")
                .arg(i_what, QString::fromStdString(i_user))
                .arg(i_payload.mp_buffer->m_writeIndex));
        return;
    case PayloadCompression::Outcome::CompressionFailed:
        Log("Shared", 1,
            QString("%1 for user %2 could not be compressed; nothing sent").arg(i_what, QString::fromStdString(i_user)));
        return;
    }
}
