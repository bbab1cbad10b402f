// The transfer manager's start and end: its types, settings and defaults,
// its subscriptions, the reset after loading, and the handlers that free
// the live figures of transfers.
#include "transfers/TransferQueueManager.h"

#include "core/persist/Settings.h"
#include "core/platform/Paths.h"
#include "core/runtime/TimerManager.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "transfers/DownloadPartials.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferSchema.h"
#include "transfers/TransferStatus.h"

#include <QDateTime>

#include <initializer_list>

TransferQueueManager* transferQueueManager = nullptr;

namespace
{
// The user's entry that holds the token; null when none.
ItemPtr EntryOfToken(const std::string& i_user, const char* ip_tokenType, quint32 i_token, const char* ip_entryType)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    ItemPtr l_token = d.GetType(ip_tokenType)->HasItem(ToString(i_token));
    return l_user && l_token ? d.GetItem(l_user, l_token, ip_entryType) : ItemPtr();
}
}  // namespace

TransferQueueManager::TransferQueueManager()
    : m_startOrder([](Item* ip_user) { return TransferEntries::IsOnline(ip_user); })
{
    m_monotonicClock.start();

    TransferSchema::DeclareDownloadTypes();
    auto l_onRemoval = [this](const char* ip_type, void (TransferQueueManager::*ip_handler)(Item*)) {
        d.GetType(ip_type)->ItemRemovedEvent.m_handlerSet.insert(MakeHandler(ip_handler));
    };
    using namespace TransferFigures;
    l_onRemoval("write_position", &TransferQueueManager::OnFigureRemoved<Position>);
    l_onRemoval("read_position", &TransferQueueManager::OnFigureRemoved<Position>);
    l_onRemoval("last_receipt_time", &TransferQueueManager::OnFigureRemoved<Time>);
    l_onRemoval("last_speed_measurement_time", &TransferQueueManager::OnFigureRemoved<Time>);
    l_onRemoval("bytes_per_second", &TransferQueueManager::OnFigureRemoved<Speed>);
    l_onRemoval("bytes_since_last_receipt", &TransferQueueManager::OnFigureRemoved<ByteCount>);
    l_onRemoval("download_entry", &TransferQueueManager::OnEntryRemoved);
    l_onRemoval("download_entry", &TransferQueueManager::OnDownloadRemoved);

    TransferSchema::DeclareUploadTypes();
    l_onRemoval("bytes_uploaded", &TransferQueueManager::OnFigureRemoved<ByteCount>);
    l_onRemoval("upload_entry", &TransferQueueManager::OnEntryRemoved);

    {
        auto* lp_root = new PathNode(&d, "user");
        new PathNode(lp_root, "is_online", NewlyConnected);
        d.AddPathEventHandler(lp_root, MakeHandler(&TransferQueueManager::OnUserOnline));
        auto* lp_offline = new PathNode(&d, "user");
        new PathNode(lp_offline, "is_online", NewlyDisconnected);
        d.AddPathEventHandler(lp_offline, MakeHandler(&TransferQueueManager::OnUserOffline));
        for (PathNodeRelation l_change : {NewlyConnected, NewlyDisconnected}) {
            auto* lp_user = new PathNode(&d, "user");
            new PathNode(lp_user, "is_offline", l_change);
            d.AddPathEventHandler(lp_user, MakeHandler(&TransferQueueManager::OnOfflineReportChanged));
        }
    }

    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::FileTransferRequested, this, &TransferQueueManager::OnFileTransferRequest);
    Settings::SetDefault("download_folder", DefaultDownloadFolder().toStdString());
    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::FileConnectionRequested, this, &TransferQueueManager::OnFileConnection);
        connect(peerMessenger, &PeerMessenger::QueueUploadRequested, this, &TransferQueueManager::OnQueueUploadRequested);
        connect(peerMessenger, &PeerMessenger::FileConnectionAccepted, this,
                &TransferQueueManager::OnFileConnectionAccepted);
        connect(peerMessenger, &PeerMessenger::FileConnectionFailed, this,
                &TransferQueueManager::OnFileConnectionFailed);
        connect(peerMessenger, &PeerMessenger::FileTransferResponse, this, &TransferQueueManager::OnFileTransferResponse);
        connect(peerMessenger, &PeerMessenger::UploadFailed, this, &TransferQueueManager::OnUploadFailedNotification);
        connect(peerMessenger, &PeerMessenger::UploadDenied, this, &TransferQueueManager::OnUploadDeniedNotification);
        connect(peerMessenger, &PeerMessenger::DownloadPlaceInLine, this, &TransferQueueManager::OnDownloadPlaceInLine);
        peerMessenger->SetWorkCheck(&TransferQueueManager::HasWorkWith);
        peerMessenger->SetFileTokenCheck(&TransferQueueManager::AwaitsFileConnection);
        peerMessenger->SetFileWaitCheck(&TransferQueueManager::AwaitsFileConnectionFrom);
        peerMessenger->SetOfferCheck(&TransferQueueManager::OfferAwaitsAnswer);
    }
    if (gp_server)
        connect(gp_server, &Server::AddUserResponse, this, &TransferQueueManager::OnUserLookedUp);
    Settings::SetDefault("transfer_order_counter", "1");
    Settings::Set("transfer_req_counter", "1");

    d.GetType("download_entry_status")->GetItem(TransferStatus::Downloading).NewItem("is_active");
    for (const char* lp_status : {TransferStatus::Connecting, TransferStatus::Uploading, TransferStatus::Requesting,
                                  TransferStatus::WaitingForOffset})
        d.GetType("upload_entry_status")->GetItem(lp_status).NewItem("is_active");

    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.insert(this);
    if (timerManager) {
        connect(&timerManager->m_everyFiveMinutes, &QTimer::timeout, this, &TransferQueueManager::PeriodicCheck);
        connect(&timerManager->m_everyHalfMinute, &QTimer::timeout, this, &TransferQueueManager::EveryHalfMinute);
    }

    if (!d.GetType("global")->GetItem("upload_speed_limit").IsConnected("global_value")) {
        Settings::Set("upload_speed_limit", "0");
        Settings::Set("upload_speed_limit_enabled", "no");
    }

    TransferSchema::DeclareDenialReason();
    Settings::Set("upload_slots", "1");
    TransferSchema::DeclareCompleteDownloadTypes();

    // Only a manager that stands becomes the global one: a second
    // construction fails on its first type, and must not leave the global
    // naming a dead object.
    transferQueueManager = this;
    uploadSlotsService = this;
}

TransferQueueManager::~TransferQueueManager()
{
    if (peerMessenger)
        peerMessenger->SetWorkCheck(nullptr);
    ShutDownTransferThreads();
    if (uploadSlotsService == this)
        uploadSlotsService = nullptr;
    if (dataSaver)
        dataSaver->m_dataLoadedEventHandlers.erase(this);
    if (transferQueueManager == this)
        transferQueueManager = nullptr;
}

bool TransferQueueManager::HasWorkWith(const std::string& i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    // The peer layer asks for every connection it looks at, most of them
    // strangers with no transfer at all.
    if (!l_user || (!l_user.IsConnected("download_entry") && !l_user.IsConnected("upload_entry")))
        return false;
    // Each look starts from the smaller side: the user's entries, or those
    // of the state.
    auto l_any = [&l_user](const char* ip_statusType, const char* ip_status, const char* ip_entryType) {
        ItemPtr l_status = d.GetType(ip_statusType)->HasItem(ip_status);
        return l_status && !d.GetItems(l_user, l_status, ip_entryType).empty();
    };
    for (const char* lp_status : {TransferStatus::Downloading, TransferStatus::Queued}) {
        if (l_any("download_entry_status", lp_status, "download_entry"))
            return true;
    }
    // Uploads only while they hold a slot: anyone may queue uploads.
    for (const char* lp_status : {TransferStatus::Requesting, TransferStatus::Connecting,
                                  TransferStatus::WaitingForOffset, TransferStatus::Uploading}) {
        if (l_any("upload_entry_status", lp_status, "upload_entry"))
            return true;
    }
    return false;
}

bool TransferQueueManager::AwaitsFileConnection(const std::string& i_user, quint32 i_token)
{
    ItemPtr l_download = EntryOfToken(i_user, "remote_transfer_req", i_token, "download_entry");
    return l_download && WaitsForFileConnection(l_download);
}

bool TransferQueueManager::AwaitsFileConnectionFrom(const std::string& i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user || !l_user.IsConnected("download_entry"))
        return false;
    // A user's downloads are few next to the strangers the peer layer asks
    // about; each is looked at once.
    for (ItemPtr l_download : l_user.GetItems("download_entry")) {
        if (l_download.IsConnected("remote_transfer_req") && WaitsForFileConnection(l_download))
            return true;
    }
    return false;
}

bool TransferQueueManager::WaitsForFileConnection(ItemPtr i_download)
{
    return !i_download.IsConnected("download_thread")
           && i_download["download_entry_status"].AsString() != TransferStatus::Complete;
}

bool TransferQueueManager::OfferAwaitsAnswer(const std::string& i_user, quint32 i_token)
{
    ItemPtr l_upload = EntryOfToken(i_user, "transfer_req", i_token, "upload_entry");
    return l_upload && l_upload["upload_entry_status"].AsString() == TransferStatus::Requesting;
}

void TransferQueueManager::DataLoaded()
{
    const ItemSet l_downloads = d.GetType("download_entry")->GetItems();
    ItemPtr l_queued = d.GetType("download_entry_status")->GetItem(TransferStatus::Queued);
    DownloadPartials::MarkUnrecorded(l_downloads);
    for (ItemPtr l_download : l_downloads) {
        // A plain connection: nothing ran yet, so there is nothing to release
        // and no change time to note.
        if (l_download["download_entry_status"].AsString() != TransferStatus::Complete)
            l_download += l_queued;
    }
    if (gp_server) {
        for (ItemPtr l_user : l_downloads.GetItems("user"))
            gp_server->TrackUser(l_user.AsString());
    }
    emit TransfersLoaded();
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::OnEntryRemoved(Item* ip_entry)
{
    m_statusChangedAt.erase(ip_entry);
    m_waitList.Forget(ip_entry);
    m_startOrder.Forget(ip_entry);
    if (m_lastQueuedUpload.Get() == ip_entry)
        m_lastQueuedUpload = ItemPtr();
}

void TransferQueueManager::OnDownloadRemoved(Item* /*ip_entry*/)
{
    emit DownloadListChanged();
}

void TransferQueueManager::StampStatusChange(ItemPtr i_entry)
{
    i_entry += d.GetType("last_status_change_time")->GetItem(TransferText::Now());
    m_statusChangedAt[i_entry.Get()] = NowMs();
}

long long TransferQueueManager::TakeTransferOrder()
{
    const long long l_order = ValueText::ToInt64(Settings::Get("transfer_order_counter"));
    Settings::Set("transfer_order_counter", ToString(l_order + 1));
    return l_order;
}

qint64 TransferQueueManager::MsSinceStatusChange(ItemPtr i_entry) const
{
    const auto l_found = m_statusChangedAt.find(i_entry.Get());
    return l_found == m_statusChangedAt.end() ? -1 : NowMs() - l_found->second;
}

qint64 TransferQueueManager::NowMs() const
{
    return m_clock ? m_clock() : m_monotonicClock.elapsed();
}

template <class T>
void TransferQueueManager::OnFigureRemoved(Item* ip_item)
{
    // A cell at address 0 (a time never set) frees nothing.
    delete reinterpret_cast<T*>(ip_item->AsUIntPtr());
}

namespace TransferText
{
QString Of(const std::string& i_text)
{
    return QString::fromStdString(i_text);
}

std::string RemotePath(ItemPtr i_download)
{
    return JoinRemotePath(i_download["remote_folder"].AsString(), i_download["file_name"].AsString());
}

std::string Now()
{
    return QDateTime::currentDateTime().toString(Qt::TextDate).toStdString();
}
}  // namespace TransferText

namespace TransferEntries
{
bool IsActiveStatus(ItemPtr i_status)
{
    return i_status && i_status.IsConnected("is_active");
}

bool IsOnline(ItemPtr i_user)
{
    return i_user && i_user.IsConnected("is_online");
}

bool IsReportedOffline(ItemPtr i_user)
{
    return i_user && i_user.IsConnected("is_offline");
}
}  // namespace TransferEntries
