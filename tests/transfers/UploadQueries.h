#pragma once

#include "core/store/Data.h"

#include <string>

// What the upload queue tests read back from the store.
namespace UploadQueries
{
inline std::string Status(ItemPtr i_upload)
{
    return i_upload["upload_entry_status"].AsString();
}

// The user's entry for the file as it was asked for; null when none.
inline ItemPtr UploadOf(const std::string& i_user, const std::string& i_path)
{
    ItemPtr l_requested = d.GetType("filename_as_requested")->HasItem(i_path);
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    return l_requested && l_user ? d.GetItem(l_user, l_requested, "upload_entry") : ItemPtr();
}

// The wire path of a file shared below "/shares".
inline std::string Path(const std::string& i_file)
{
    return "\\shares\\" + i_file;
}

// Uploads in an active state.
inline int Active()
{
    return static_cast<int>(
        d.GetType("is_active")->GetGlobalNullItem().GetItems("upload_entry_status").GetItems("upload_entry").size());
}
}  // namespace UploadQueries
