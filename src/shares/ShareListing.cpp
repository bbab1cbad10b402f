// Listings of our share for other users: the whole share they may see, or
// one folder of it.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessageCodes.h"
#include "shares/PayloadCompression.h"
#include "shares/SharedFolderInfo.h"

#include <algorithm>
#include <map>

namespace
{
std::string Replaced(std::string i_text, char i_from, char i_to)
{
    std::replace(i_text.begin(), i_text.end(), i_from, i_to);
    return i_text;
}
}  // namespace

SharedFoldersManager::SharedFilesListing SharedFoldersManager::SharedFilesPayload(const std::string& i_user)
{
    Type* lp_fileType = d.GetType("shared_file");
    const ItemSet l_folders = GetUserSharedFolders(i_user).GetItems("shared_file_folder");
    FileInfoMap l_listing;
    SharedFilesListing l_result;
    for (Item* lp_folder : l_folders) {
        const std::string l_name = Replaced(lp_folder->m_value, '/', '\\');
        std::set<FileInfo>& l_files = l_listing[l_name];
        const PartnerSet* lp_files = lp_folder->Partners(lp_fileType);
        if (!lp_files)
            continue;
        lp_files->ForEach([&](Item* ip_file) {
            FileInfo l_info = ListingRecord(ip_file, true);
            // Only a bare name travels, even if a name holds a separator.
            l_info.m_name = GetFileName(l_name + "\\" + l_info.m_name);
            l_files.insert(std::move(l_info));
        });
        l_result.m_files += lp_files->Size();
    }
    l_result.m_folders = l_listing.size();
    l_result.m_payload.Write(l_listing);
    l_result.m_payload.Write(0u);  // no attribute names
    return l_result;
}

MemStream SharedFoldersManager::GetSharedFilesMessage(std::string i_user)
{
    Log("Shared", 1, QString("Shared file list requested by user %1").arg(QString::fromStdString(i_user)));

    const SharedFilesListing l_listing = SharedFilesPayload(i_user);
    MemStream l_body;
    const auto l_outcome = PayloadCompression::Frame(PeerMessageCodes::SharedFileList, l_listing.m_payload, l_body);
    if (l_outcome == PayloadCompression::Outcome::TooLarge)
        Log("Shared", 1,
            QString("Shared file list for user %1 is too large to send (%2 files in %3 folders, %4 bytes before "
                    "compression); nothing sent")
                .arg(QString::fromStdString(i_user))
                .arg(l_listing.m_files)
                .arg(l_listing.m_folders)
                .arg(l_listing.m_payload.mp_buffer->m_writeIndex));
    else if (l_outcome == PayloadCompression::Outcome::CompressionFailed)
        Log("Shared", 1,
            QString("Shared file list for user %1 could not be compressed; nothing sent").arg(QString::fromStdString(i_user)));
    return l_body;
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
