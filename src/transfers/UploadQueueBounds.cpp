// Bounds on the upload queue. Anyone may ask to queue a file under as many
// user names as the server lets them claim; each entry costs memory and
// time on every pass over the queue. A user may have MaxQueuedUploadsPerUser
// waiting and the queue MaxQueuedUploads in all. At the total bound the
// longest-waiting entry of a user whom the server has reported offline since
// the current login makes room. A user whose status is not known (the link
// is down, or the server has not answered for the user since the login)
// keeps every entry: losing the link takes every user's online flag away,
// and users who stayed logged in all along would lose their place without
// a word. A request that no entry can make room for is denied, as one past
// the user's own bound.
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
        ItemPtr l_evicted = m_waitList.OldestThatMayMakeRoom();
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

void TransferQueueManager::OnOfflineReportChanged(Item* ip_user)
{
    ItemPtr l_user(ip_user);
    const bool l_offline = TransferEntries::IsReportedOffline(l_user);
    // At most MaxQueuedUploadsPerUser of them are queued; the list passes
    // over the others.
    for (ItemPtr l_upload : l_user.GetItems("upload_entry"))
        m_waitList.SetMayMakeRoom(l_upload.Get(), l_offline);
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
