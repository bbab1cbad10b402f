// The upload speed limit as the user sets it, split among the active
// uploads.
#include "transfers/TransferQueueManager.h"

#include "core/persist/Settings.h"
#include "transfers/TransferFigures.h"

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const int l_limit = ValueText::ToInt(Settings::Get("upload_speed_limit"));
    if (l_limit <= 0 || !Settings::IsYes("upload_speed_limit_enabled")) {
        m_speedLimit.Lift();
        return;
    }
    const ItemSet l_active =
        d.GetType("is_active")->GetGlobalNullItem().GetItems("upload_entry_status").GetItems("upload_entry");
    const int l_count = static_cast<int>(l_active.size());
    m_speedLimit.Apply(l_limit, l_count > 0 ? l_limit / l_count : l_limit);
    // Each upload measures its speed afresh under the new share.
    const QDateTime l_now = QDateTime::currentDateTime();
    for (ItemPtr l_upload : l_active) {
        if (auto* lp_time = TransferFigures::Of<TransferFigures::Time>(l_upload, "last_speed_measurement_time"))
            *lp_time = l_now;
        if (auto* lp_bytes = TransferFigures::Of<TransferFigures::ByteCount>(l_upload, "bytes_since_last_receipt"))
            *lp_bytes = 0;
    }
}

void TransferQueueManager::EnableUploadSpeedLimit(bool i_enable)
{
    Settings::Set("upload_speed_limit_enabled", i_enable ? "yes" : "no");
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSpeedLimit(int i_limit)
{
    Settings::Set("upload_speed_limit", ToString(i_limit));
    DetermineUploadSpeedLimit();
}
