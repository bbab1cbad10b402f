// Bounds on the upload queue. Anyone may ask to queue a file under as many
// user names as the server lets them claim; each entry costs memory and
// time on every pass over the queue. A user may have MaxQueuedUploadsPerUser
// waiting and the queue MaxQueuedUploads in all; at the total bound the
// longest-waiting entry of a user who is not online makes room.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr char DenialReason[] = "Too many queued uploads.";

bool IsQueued(ItemPtr i_upload)
{
    return i_upload["upload_entry_status"].AsString() == TransferStatus::Queued;
}

std::size_t QueuedOfUser(ItemPtr i_user)
{
    std::size_t l_count = 0;
    for (ItemPtr l_upload : i_user.GetItems("upload_entry"))
        l_count += IsQueued(l_upload) ? 1 : 0;
    return l_count;
}
}  // namespace

bool TransferQueueManager::AdmitQueuedUpload(ItemPtr i_user, const std::string& i_file)
{
    bool l_admitted = QueuedOfUser(i_user) < MaxQueuedUploadsPerUser;
    if (l_admitted && m_waitList.Size() >= MaxQueuedUploads) {
        ItemPtr l_evicted = m_waitList.Oldest([](Item* ip_upload) {
            return !TransferEntries::IsOnline(ItemPtr(ip_upload)["user"]);
        });
        l_admitted = !l_evicted.IsNull();
        if (l_admitted) {
            ItemPtr l_owner = l_evicted["user"];
            Log(LogArea, 1,
                QString("Upload queue full, dropping the longest-waiting upload of offline user %1")
                    .arg(TransferText::Of(l_owner.AsString())),
                l_owner);
            RemoveUpload(l_evicted);
        }
    }
    if (!l_admitted) {
        Log(LogArea, 1, "Denied, too many queued uploads", i_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user.AsString(), i_file, DenialReason);
    }
    return l_admitted;
}

void TransferQueueManager::OnUserLookedUp(std::string i_user, bool i_exists)
{
    if (i_exists)
        return;
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user)
        return;
    // Nobody of that name can ever fetch them.
    for (ItemPtr l_upload : l_user.GetItems("upload_entry")) {
        if (IsQueued(l_upload))
            RemoveUpload(l_upload);
    }
}
