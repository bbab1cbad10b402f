// The half-minute checks: uploads that stay too long in a set-up state are
// aborted, and users of queued downloads are asked for places in line again
// at most every ten minutes. Both measure time on the manager's monotonic
// clock, so that a change of the wall clock neither stalls nor hurries them.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "peer/PeerMessenger.h"
#include "transfers/TransferStatus.h"

namespace
{
constexpr qint64 SetUpLimitMs = 30000;
// An offer held while the peer layer waits for the user's address goes out
// when that wait ends, direct and relayed: the wait must leave the user
// time to answer before the upload's set-up time runs out.
static_assert(PeerMessenger::AddressAskMs * 2 <= SetUpLimitMs);
constexpr qint64 PlaceInLineIntervalMs = 600000;
}  // namespace

void TransferQueueManager::EveryHalfMinute()
{
    AbortStalledUploads();
    RequestPlacesInLine();
}

void TransferQueueManager::AbortStalledUploads()
{
    Type* lp_status = d.GetType("upload_entry_status");
    ItemSet l_settingUp;
    for (const char* lp_state : {TransferStatus::Requesting, TransferStatus::Connecting, TransferStatus::WaitingForOffset})
        l_settingUp.Add(lp_status->HasItem(lp_state).GetItems("upload_entry"));
    bool l_aborted = false;
    for (ItemPtr l_upload : l_settingUp) {
        if (MsSinceStatusChange(l_upload) < SetUpLimitMs)
            continue;
        Log(LogArea, 1,
            QString("Upload of %1 to %2 timed out in %3 phase, aborting")
                .arg(TransferText::Of(l_upload["shared_file"]["shared_file_name"].AsString()),
                     TransferText::Of(l_upload["user"].AsString()),
                     TransferText::Of(l_upload["upload_entry_status"].AsString())));
        // The peer layer may still be waiting for the user's address, for
        // the file connection or for one to carry our offer: the upload
        // ends as a failure to connect would have ended it.
        if (l_upload["upload_entry_status"].AsString() == TransferStatus::Connecting || OfferNeverWent(l_upload))
            AbortWithoutConnection(l_upload);
        else
            SetUploadEntryStatus(l_upload, TransferStatus::Aborted);
        l_aborted = true;
    }
    if (l_aborted)
        StartNewUploads();
}

bool TransferQueueManager::OfferNeverWent(ItemPtr i_upload)
{
    return i_upload["upload_entry_status"].AsString() == TransferStatus::Requesting && peerMessenger
           && peerMessenger->OfferUnsent(i_upload["user"].AsString(), i_upload["transfer_req"].AsUInt());
}

void TransferQueueManager::RequestPlacesInLine()
{
    ItemPtr l_queued = d.GetType("download_entry_status")->HasItem(TransferStatus::Queued);
    for (ItemPtr l_user : l_queued.GetItems("download_entry").GetItems("user")) {
        if (!TransferEntries::IsOnline(l_user))
            continue;
        const std::string l_name = l_user.AsString();
        if (IsActivelyDownloadingFromUser(l_name))
            continue;
        const auto l_asked = m_placesRequestedAt.find(l_name);
        if (l_asked != m_placesRequestedAt.end() && NowMs() - l_asked->second < PlaceInLineIntervalMs)
            continue;
        RequestUserDownloadsPlaceInLine(l_name);
        m_placesRequestedAt[l_name] = NowMs();
        l_user += d.GetType("last_place_in_line_request_time")->GetItem(TransferText::Now());
    }
}
