// Another user's share as it arrives for the browse view: a tree of folder
// items with their files and audio attributes, stored by ReceivedListings.
#include "shares/SharedFoldersManager.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"

void SharedFoldersManager::OnUserShare(std::string i_user, FileInfoMap& i_share, AttributeTranslationTable&)
{
    Log("Shared", 1, QString("Received shared file list from user %1").arg(QString::fromStdString(i_user)));
    // Stored over later turns of the event loop; the browse view opens its
    // page once the listing is complete.
    mp_receivedListings->Receive(i_user, i_share);
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
