// Status changes of uploads (an upload that stops being active lets go of
// what it holds, and one that is aborted tells the peer), and the removal of
// uploads, one at a time or all of a user's.
#include "transfers/TransferQueueManager.h"

#include "core/io/MemStream.h"
#include "core/log/Log.h"
#include "peer/PeerMessageCodes.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

void TransferQueueManager::SetUploadEntryStatus(ItemPtr i_upload, std::string i_status)
{
    const bool l_wasActive = TransferEntries::IsActiveStatus(i_upload["upload_entry_status"]);
    if (i_status != TransferStatus::Requesting)
        WithdrawOffer(i_upload);
    ItemPtr l_status = d.GetType("upload_entry_status")->GetItem(i_status);
    // A failure attaches its reason before it aborts, for the Uploads view.
    if (i_status != TransferStatus::Aborted)
        i_upload.Disconnect("upload_failure_reason");
    i_upload += l_status;
    m_waitList.Note(i_upload, i_status == TransferStatus::Queued,
                    TransferEntries::IsReportedOffline(i_upload["user"]));
    FollowUploadStatus(i_upload);
    StampStatusChange(i_upload);
    if (!l_wasActive || TransferEntries::IsActiveStatus(l_status))
        return;

    StopTransferThread(i_upload, "upload_thread", false);
    TransferFigures::Release(i_upload, TransferFigures::UploadResources);
    if (i_status == TransferStatus::Aborted) {
        ItemPtr l_user = i_upload["user"];
        Log(LogArea, 1,
            QString("Upload of %1 to %2 aborted, sending upload failed notification.")
                .arg(TransferText::Of(i_upload["shared_file"]["shared_file_name"].AsString()),
                     TransferText::Of(l_user.AsString())),
            l_user);
        MemStream l_message;
        l_message.Write(static_cast<unsigned int>(PeerMessageCodes::UploadFailed));
        l_message.Write(i_upload["filename_as_requested"].AsString());
        if (peerMessenger)
            peerMessenger->SendMessage(l_user.AsString(), l_message);
    }
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::RemoveUpload(ItemPtr i_upload)
{
    WithdrawOffer(i_upload);
    StopTransferThread(i_upload, "upload_thread", true);
    TransferFigures::Release(i_upload, TransferFigures::UploadResources);
    // The entry's removal handler forgets it as the last one placed.
    i_upload.Remove();
}

void TransferQueueManager::WithdrawOffer(ItemPtr i_upload)
{
    // Only an offer that waits for its answer may still be waiting to go.
    if (peerMessenger && i_upload["upload_entry_status"].AsString() == TransferStatus::Requesting)
        peerMessenger->WithdrawOffer(i_upload["user"].AsString(), i_upload["transfer_req"].AsUInt());
}

void TransferQueueManager::UnshareUser(std::string i_user)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    l_user.NewItem("unshared");
    for (ItemPtr l_upload : l_user.GetItems("upload_entry")) {
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, l_upload["filename_as_requested"].AsString(), "File not shared.");
        RemoveUpload(l_upload);
    }
}

void TransferQueueManager::ReshareUser(std::string i_user)
{
    d.GetType("user")->GetItem(i_user).Disconnect("unshared");
}
