// Another user's share as it arrives for the browse view: a tree of folder
// items with their files and audio attributes.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"

#include <unordered_map>

namespace
{
void ConnectAttributes(ItemPtr i_file, const AttributeMap& i_attributes)
{
    // One item of each kind per file: a repeated code replaces the earlier value.
    for (const auto& [l_code, l_value] : i_attributes.m_map) {
        switch (l_code) {
        case 0: i_file += d.GetType("bitrate")->GetItem(l_value); break;
        case 1: i_file += d.GetType("length_seconds")->GetItem(l_value); break;
        case 2: i_file += d.GetType("bitrate_mode")->GetItem(l_value != 0 ? "vbr" : "cbr"); break;
        default: break;
        }
    }
}
}  // namespace

void SharedFoldersManager::OnUserShare(std::string i_user, FileInfoMap& i_share, AttributeTranslationTable&)
{
    Log("Shared", 1, QString("Received shared file list from user %1").arg(QString::fromStdString(i_user)));
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    // A new listing replaces the old one whole, also when it is empty.
    if (ItemPtr l_old = l_user["user_share"])
        RemoveUserShare(l_old);
    ItemPtr l_listing = d.GetType("user_share")->NewItem();
    l_listing += l_user;

    Type* lp_folderNames = d.GetType("user_share_folder_name");
    Type* lp_fileNames = d.GetType("user_share_file_name");
    Type* lp_sizes = d.GetType("user_share_file_size");
    // This listing's folders by name. The map is ordered by name and a name
    // sorts after each of its prefixes, so a parent is always here before
    // its children.
    std::unordered_map<std::string, Item*> l_folders;
    l_folders.reserve(i_share.size());
    for (const auto& [l_name, l_files] : i_share) {
        ItemPtr l_folder = l_listing.NewItem("user_share_folder");
        l_folder += lp_folderNames->GetItem(l_name);
        l_folders.emplace(l_name, l_folder);

        const std::string l_parentName = GetParentFolder(l_name);
        if (l_parentName != l_name) {
            auto l_parent = l_folders.find(l_parentName);
            if (l_parent != l_folders.end())
                l_folder.NewItem("user_share_folder_parent") += ItemPtr(l_parent->second).NewItem("user_share_folder_child");
        }

        for (const FileInfo& l_record : l_files) {
            ItemPtr l_file = l_folder.NewItem("user_share_file");
            l_file += lp_fileNames->GetItem(l_record.m_name);
            l_file += lp_sizes->GetItem(ToString(l_record.m_fileSize));
            ConnectAttributes(l_file, l_record.m_attributeMap);
        }
    }
    // Last: the browse view takes this mark as the listing being complete.
    l_listing.NewItem("user_share_loaded");
}

void SharedFoldersManager::RemoveUserShare(ItemPtr i_listing)
{
    // Its folders and files are connected to name, size and attribute items
    // that other listings and results share, through which the collection
    // of unreachable items would still reach them: they go with it. The
    // listing goes first, so that a view sees it go while it is whole.
    const ItemSet l_folders = i_listing.GetItems("user_share_folder");
    const ItemSet l_files = l_folders.GetItems("user_share_file");
    const ItemSet l_links = l_folders.GetItems("user_share_folder_parent") + l_folders.GetItems("user_share_folder_child");
    i_listing.Remove();
    l_files.Remove();
    l_links.Remove();
    l_folders.Remove();
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr i_file)
{
    QString l_text;
    if (ItemPtr l_bitrate = i_file["bitrate"])
        l_text += QString::number(l_bitrate.AsInt());
    const std::string l_mode = i_file["bitrate_mode"].AsString();
    if (l_mode == "vbr")
        l_text += " VBR";
    else if (l_mode == "cbr")
        l_text += " CBR";
    if (ItemPtr l_length = i_file["length_seconds"])
        l_text += ", " + FormatSeconds(static_cast<long>(l_length.AsInt64()));
    return l_text;
}
