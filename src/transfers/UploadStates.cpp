// Status changes of uploads: an upload that stops being active lets go of
// what it holds, and one that is aborted tells the peer.
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
    ItemPtr l_status = d.GetType("upload_entry_status")->GetItem(i_status);
    i_upload += l_status;
    StampStatusChange(i_upload);
    if (!l_wasActive || TransferEntries::IsActiveStatus(l_status))
        return;

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
