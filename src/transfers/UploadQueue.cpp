// The upload queue: other users' queue requests, checked against the shares
// and kept in one order (group priority, then privilege, then arrival), and
// the start of queued uploads within the upload slots.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "core/persist/Settings.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "transfers/TransferStatus.h"

#include <algorithm>

namespace
{
constexpr int MinUploadSlots = 1;
constexpr int MaxUploadSlots = 99;

bool IsActive(ItemPtr i_upload)
{
    return TransferEntries::IsActiveStatus(i_upload["upload_entry_status"]);
}

long long UploadOrderOf(ItemPtr i_upload)
{
    return i_upload["upload_order"].AsInt64();
}
}  // namespace

void TransferQueueManager::OnQueueUploadRequested(std::string i_user, std::string i_file)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(LogArea, 1,
        QString("Queue upload requested by %1 for file %2").arg(TransferText::Of(i_user), TransferText::Of(i_file)), l_user);

    std::string l_localPath = i_file;
    std::replace(l_localPath.begin(), l_localPath.end(), '\\', '/');
    ItemPtr l_file = sharedFoldersManager ? sharedFoldersManager->GetSharedFileItem(l_localPath) : ItemPtr();
    if (!l_file || !sharedFoldersManager->IsFileSharedWithUser(l_file, i_user)) {
        Log(LogArea, 2, "Denied, file not shared", l_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, i_file, "File not shared.");
        return;
    }

    ItemPtr l_existing = d.GetItem(l_user, l_file, "upload_entry");
    if (!l_existing) {
        // An entry whose file was set aside (it left the disk or the shares
        // while queued) and is back under the same path: the same entry.
        for (ItemPtr l_upload : l_user.GetItems("upload_entry")) {
            if (!SharedFoldersManager::IsIndexed(l_upload["shared_file"]) &&
                l_upload["filename_as_requested"].AsString() == i_file) {
                l_upload += l_file;
                l_existing = l_upload;
                break;
            }
        }
    }
    if (ItemPtr l_upload = l_existing) {
        const std::string l_status = l_upload["upload_entry_status"].AsString();
        if (l_status == TransferStatus::Queued || IsActive(l_upload)) {
            Log(LogArea, 2, "Already queued", l_user);
            return;
        }
        if (!AdmitQueuedUpload(l_user, i_file))
            return;
        // Back to its former place in the order.
        Log(LogArea, 2, QString("%1, re-queueing").arg(TransferText::Of(l_status)), l_user);
        SetUploadEntryStatus(l_upload, TransferStatus::Queued);
        StartNewUploads();
        return;
    }

    if (!AdmitQueuedUpload(l_user, i_file))
        return;
    ItemPtr l_upload = d.GetType("upload_entry")->NewItem();
    l_upload += l_user;
    l_upload += l_file;
    l_upload += d.GetType("filename_as_requested")->GetItem(i_file);
    SetUploadEntryStatus(l_upload, TransferStatus::Queued);
    l_upload += d.GetType("upload_order")->GetItem(ToString(TakeTransferOrder()));
    OrderNewUpload(l_upload);
    Log(LogArea, 2, "Queued", l_user);
    if (gp_server)
        gp_server->TrackUser(i_user);
    StartNewUploads();
}

int TransferQueueManager::GetUserGroupDownloadPriority(std::string i_user)
{
    ItemPtr l_membership = d.GetType("user")->GetItem(i_user)["in_user_list"];
    int l_priority = 0;
    for (ItemPtr l_group : l_membership.GetItems("user_list_group"))
        l_priority = std::max(l_priority, l_group["group_download_priority"].AsInt());
    return l_priority;
}

bool TransferQueueManager::UploadEntrySortCompare(ItemPtr i_first, ItemPtr i_second)
{
    ItemPtr l_firstUser = i_first["user"];
    ItemPtr l_secondUser = i_second["user"];
    if (l_firstUser != l_secondUser) {
        const int l_firstPriority = GetUserGroupDownloadPriority(l_firstUser.AsString());
        const int l_secondPriority = GetUserGroupDownloadPriority(l_secondUser.AsString());
        if (l_firstPriority != l_secondPriority)
            return l_firstPriority > l_secondPriority;
        const bool l_firstPrivileged = l_firstUser && l_firstUser.IsConnected("is_privileged");
        const bool l_secondPrivileged = l_secondUser && l_secondUser.IsConnected("is_privileged");
        if (l_firstPrivileged != l_secondPrivileged)
            return l_firstPrivileged;
    }
    return UploadOrderOf(i_first) < UploadOrderOf(i_second);
}

ItemList TransferQueueManager::UploadOrder()
{
    const ItemList l_order = d.GetType("upload_entry")->GetItems().SortNumericBy("effective_upload_order", true);
    if (!l_order.empty())
        m_lastQueuedUpload = l_order.back();
    return l_order;
}

void TransferQueueManager::OrderNewUpload(ItemPtr i_upload)
{
    if (!m_lastQueuedUpload && UploadOrder().empty()) {
        PlaceUpload(i_upload, 1);
        m_lastQueuedUpload = i_upload;
        return;
    }
    if (UploadEntrySortCompare(m_lastQueuedUpload, i_upload)) {
        PlaceUpload(i_upload, m_lastQueuedUpload["effective_upload_order"].AsInt64() + 1);
        m_lastQueuedUpload = i_upload;
        return;
    }
    ItemList l_order = UploadOrder();
    const auto l_before = std::find_if(l_order.begin(), l_order.end(),
                                       [&](ItemPtr i_placed) { return UploadEntrySortCompare(i_upload, i_placed); });
    l_order.insert(l_before, i_upload);
    long long l_position = 1;
    for (ItemPtr l_upload : l_order)
        PlaceUpload(l_upload, l_position++);
    // Keeps naming the entry with the highest number, also when the new one
    // went last after all.
    m_lastQueuedUpload = l_order.back();
}

int TransferQueueManager::ActiveUploadCount()
{
    ItemPtr l_active = d.GetType("is_active")->GetGlobalNullItem();
    return static_cast<int>(l_active.GetItems("upload_entry_status").GetItems("upload_entry").size());
}

void TransferQueueManager::PlaceUpload(ItemPtr i_upload, long long i_place)
{
    i_upload += d.GetType("effective_upload_order")->GetItem(ToString(i_place));
    m_startOrder.Move(i_upload.Get(), i_place);
}

void TransferQueueManager::StartNewUploads()
{
    int l_free = ValueText::ToInt(Settings::Get("upload_slots")) - ActiveUploadCount();
    // Each turn takes the first entry out of the start order: it is offered,
    // or refused and removed.
    while (l_free > 0) {
        ItemPtr l_upload = m_startOrder.First();
        if (!l_upload)
            return;
        // The file may have left the disk or the shares since the request.
        if (RefuseIfNoLongerShared(l_upload))
            continue;
        BeginUpload(l_upload);
        --l_free;
    }
}

void TransferQueueManager::FollowUploadStatus(ItemPtr i_upload)
{
    Item* lp_user = i_upload["user"].Get();
    if (!lp_user)
        return;
    ItemPtr l_status = i_upload["upload_entry_status"];
    if (TransferEntries::IsActiveStatus(l_status))
        m_startOrder.Run(i_upload.Get(), lp_user);
    else if (l_status.AsString() == TransferStatus::Queued)
        // A new entry has no place yet: it gets one before anything starts.
        m_startOrder.Wait(i_upload.Get(), lp_user, i_upload["effective_upload_order"].AsInt64());
    else
        m_startOrder.Forget(i_upload.Get());
}

void TransferQueueManager::OnUserOffline(Item* ip_user)
{
    m_startOrder.UserChanged(ip_user);
}

ItemPtr TransferQueueManager::SharedFileAgain(ItemPtr i_upload)
{
    ItemPtr l_file = i_upload["shared_file"];
    if (SharedFoldersManager::IsIndexed(l_file) || !sharedFoldersManager)
        return l_file;
    std::string l_path = i_upload["filename_as_requested"].AsString();
    std::replace(l_path.begin(), l_path.end(), '\\', '/');
    ItemPtr l_again = sharedFoldersManager->GetSharedFileItem(l_path);
    // Another entry of the user may hold the file that came back.
    if (!l_again || d.GetItem(i_upload["user"], l_again, "upload_entry"))
        return ItemPtr();
    i_upload += l_again;
    return l_again;
}

bool TransferQueueManager::RefuseIfNoLongerShared(ItemPtr i_upload)
{
    if (!sharedFoldersManager)
        return false;
    ItemPtr l_user = i_upload["user"];
    ItemPtr l_file = SharedFileAgain(i_upload);
    if (l_file && sharedFoldersManager->IsFileSharedWithUser(l_file, l_user.AsString()))
        return false;
    Log(LogArea, 2, "Denied, file not shared", l_user);
    if (peerMessenger)
        peerMessenger->DenyUpload(l_user.AsString(), i_upload["filename_as_requested"].AsString(), "File not shared.");
    RemoveUpload(i_upload);
    return true;
}

void TransferQueueManager::BeginUpload(ItemPtr i_upload)
{
    ItemPtr l_user = i_upload["user"];
    const qint64 l_size = i_upload["shared_file"]["shared_file_size"].AsInt64();
    const unsigned int l_token =
        peerMessenger ? peerMessenger->RequestUpload(l_user.AsString(), i_upload["filename_as_requested"].AsString(), l_size)
                      : 0;
    SetUploadEntryStatus(i_upload, TransferStatus::Requesting);
    i_upload += d.GetType("transfer_req")->GetItem(ToString(l_token));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSlots(int i_slots)
{
    if (i_slots < MinUploadSlots || i_slots > MaxUploadSlots)
        return;
    const int l_old = ValueText::ToInt(Settings::Get("upload_slots"));
    Settings::Set("upload_slots", ToString(i_slots));
    if (i_slots > l_old)
        StartNewUploads();
}

bool TransferQueueManager::IsFreeToUpload()
{
    return ActiveUploadCount() < ValueText::ToInt(Settings::Get("upload_slots"));
}

int TransferQueueManager::QueuedUploadCount()
{
    return static_cast<int>(
        d.GetType("upload_entry_status")->HasItem(TransferStatus::Queued).GetItems("upload_entry").size());
}
