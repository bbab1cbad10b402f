// Who may see which shared folder, and finding indexed files by path.
#include "shares/SharedFoldersManager.h"

#include "core/util/GeneralFunctions.h"

// Precedence: "unshared" hides everything; public roots are for everyone
// else; the user list's roots and the groups' roots only for users in it.
ItemSet SharedFoldersManager::GetUserSharedFolders(std::string i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (l_user && l_user.IsConnected("unshared"))
        return ItemSet();
    Type* lp_shares = d.GetType("shared_folder");
    ItemSet l_folders = lp_shares->GetItems().Connected("shared_public");
    ItemPtr l_inList = l_user["in_user_list"];
    if (!l_inList)
        return l_folders;
    l_folders.Add(lp_shares->GetItems().Connected("shared_userlist"));
    for (Item* lp_group : l_inList.GetItems("user_list_group"))
        l_folders.Add(ItemPtr(lp_group).GetItems("shared_folder"));
    return l_folders;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr i_sharedFile, std::string i_user)
{
    // A file set aside (gone from disk or from the shares) is nobody's.
    if (!IsIndexed(i_sharedFile))
        return false;
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (l_user.IsConnected("unshared"))
        return false;
    const ItemSet l_roots = i_sharedFile["shared_file_folder"].GetItems("shared_folder");
    if (!l_roots.Connected("shared_public").empty())
        return true;
    ItemPtr l_inList = l_user["in_user_list"];
    if (!l_inList)
        return false;
    if (!l_roots.Connected("shared_userlist").empty())
        return true;
    return !l_inList.GetItems("user_list_group").Common(l_roots.GetItems("user_list_group")).empty();
}

ItemPtr SharedFoldersManager::GetSharedFileItem(std::string i_filePath)
{
    const std::string l_key = GetAbsoluteFileName(i_filePath);
    ItemPtr l_folderKey = d.GetType("shared_file_folder_lowercase_name")->HasItem(GetFolder(l_key));
    ItemPtr l_nameKey = d.GetType("shared_file_lowercase_name")->HasItem(GetFileName(l_key));
    if (!l_folderKey || !l_nameKey)
        return ItemPtr();
    // Through the names' few files rather than the folders' many.
    std::vector<Item*> l_candidates;
    for (Item* lp_name : l_nameKey.GetItems("shared_file_name")) {
        for (Item* lp_file : ItemPtr(lp_name).GetItems("shared_file")) {
            if (ItemPtr(lp_file)["shared_file_folder"]["shared_file_folder_lowercase_name"] == l_folderKey)
                l_candidates.push_back(lp_file);
        }
    }
    ItemPtr l_first;
    for (Item* lp_file : ItemSet::FromUnsorted(std::move(l_candidates))) {
        // Song.mp3 and song.mp3 can both exist here: the exact spelling wins.
        ItemPtr l_file(lp_file);
        const std::string l_path = l_file["shared_file_folder"].AsString() + "/" + l_file["shared_file_name"].AsString();
        if (l_path == i_filePath)
            return l_file;
        if (!l_first)
            l_first = l_file;
    }
    return l_first;
}
