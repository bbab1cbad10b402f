// The sending side of an upload: the peer's answer to our offer opens the
// shared file and asks for a file connection; the connection is matched to
// the user's upload in "connecting", and an UploadThread sends the file
// within the speed limit.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "core/platform/FileByBytes.h"
#include "peer/PeerMessenger.h"
#include "server/Server.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"
#include "transfers/UploadThread.h"

#include <QFile>
#include <QTcpSocket>

#include <algorithm>

namespace
{
// Uploads of larger files tell the server the speed they reached.
constexpr qint64 SpeedReportMinimumBytes = 1048576;
// Shown for an upload whose file connection could not be made.
constexpr char FileConnectionFailedReason[] = "Cannot connect.";

// The path's bytes as the index holds them: a name that is not valid UTF-8
// must not pass through text, or the file cannot be opened.
std::string LocalPath(ItemPtr i_sharedFile)
{
    std::string l_path = i_sharedFile["shared_file_folder"].AsString() + "/" + i_sharedFile["shared_file_name"].AsString();
    std::replace(l_path.begin(), l_path.end(), '\\', '/');
    return l_path;
}
}  // namespace

void TransferQueueManager::OnFileTransferResponse(std::string i_user, unsigned int i_req, bool i_accepted,
                                                  bool /*i_receivedFileSize*/, qint64 /*i_fileSize*/,
                                                  std::string i_denialReason)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(LogArea, 1,
        QString("Received file transfer response from user %1 for req %2, transfer %3")
            .arg(TransferText::Of(i_user))
            .arg(i_req)
            .arg(i_accepted ? "accepted" : "not accepted"),
        l_user);
    ItemPtr l_token = d.GetType("transfer_req")->HasItem(ToString(i_req));
    if (!l_token) {
        Log(LogArea, 2, "req not found", l_user);
        return;
    }
    if (l_token.IsConnected("download_entry")) {
        Log(LogArea, 2, "Found download, not processing", l_user);
        return;
    }
    ItemPtr l_upload = l_token["upload_entry"];
    if (!l_upload) {
        Log(LogArea, 2, "Neither upload or download attached to req, weird", l_user);
        return;
    }
    Log(LogArea, 2, "Found upload", l_user);
    const std::string l_owner = l_upload["user"].AsString();
    if (l_owner != i_user) {
        Log(LogArea, 2,
            QString("Upload user %1 not the same as user who opened the connection, not doing anything")
                .arg(TransferText::Of(l_owner)),
            l_user);
        return;
    }
    // An offer lost with a connection the peer reset goes again under the
    // same token, so that an answer may come twice: the first answer taken
    // decides, and any later one answers a copy and changes nothing.
    const std::string l_status = l_upload["upload_entry_status"].AsString();
    if (l_status != TransferStatus::Requesting) {
        Log(LogArea, 2,
            QString("Upload no longer in requesting phase, instead status is %1. Not processing.")
                .arg(TransferText::Of(l_status)),
            l_user);
        return;
    }
    if (!i_accepted) {
        Log(LogArea, 2, "Upload was not accepted, marking denied", l_user);
        l_upload += d.GetType("denial_reason")->GetItem(i_denialReason);
        SetUploadEntryStatus(l_upload, TransferStatus::Denied);
        StartNewUploads();
        return;
    }
    auto* lp_file = new QFile;
    if (!OpenForReadingByBytes(*lp_file, LocalPath(l_upload["shared_file"]))) {
        delete lp_file;
        Log(LogArea, 2,
            "File could not be opened, marking local error and sending denial message. Shouldn't we have done this "
            "before we requested the transfer?",
            l_user);
        if (peerMessenger)
            peerMessenger->DenyUpload(i_user, l_upload["filename_as_requested"].AsString(), "File read error.");
        SetUploadEntryStatus(l_upload, TransferStatus::LocalError);
        StartNewUploads();
        return;
    }
    Log(LogArea, 2, "Requesting file connection to user", l_user);
    if (peerMessenger)
        peerMessenger->RequestFileConnectionToUser(i_user);
    l_upload += d.GetType("upload_file")->GetItem(Value(lp_file));
    SetUploadEntryStatus(l_upload, TransferStatus::Connecting);
}

void TransferQueueManager::OnFileConnectionAccepted(std::string i_user, QTcpSocket* ip_socket)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    ItemPtr l_upload = l_user ? ItemPtr(l_user.GetItems("upload_entry").Connected("upload_entry_status",
                                                                                   TransferStatus::Connecting))
                              : ItemPtr();
    if (!l_upload) {
        TurnAway(ip_socket);
        return;
    }
    using namespace TransferFigures;
    l_upload += d.GetType("upload_socket")->GetItem(Value(ip_socket));
    const QDateTime l_now = QDateTime::currentDateTime();
    SetUploadEntryStatus(l_upload, TransferStatus::Uploading);
    Attach<Time>(l_upload, "last_receipt_time", l_now);
    Attach<Time>(l_upload, "last_speed_measurement_time", l_now);
    Attach<Speed>(l_upload, "bytes_per_second", 0);
    Attach<ByteCount>(l_upload, "bytes_since_last_receipt", 0);
    Attach<Position>(l_upload, "read_position", 0);
    const quint32 l_token = l_upload["transfer_req"].AsUInt();
    // The size our offer named, not the file's size now.
    const qint64 l_offeredSize = l_upload["shared_file"]["shared_file_size"].AsInt64();
    auto* lp_file = l_upload["upload_file"].AsObject<QFile>();

    QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
    StartTransferThread(l_upload, new UploadThread(ip_socket, lp_file, l_token, l_offeredSize, m_speedLimit),
                        UploadThreadSlots);
}

void TransferQueueManager::OnFileConnectionFailed(std::string i_user)
{
    ItemPtr l_user = d.GetType("user")->HasItem(i_user);
    if (!l_user)
        return;
    // Only uploads that wait for the connection: one that already has its
    // own runs on.
    const ItemSet l_waiting =
        l_user.GetItems("upload_entry").Connected("upload_entry_status", TransferStatus::Connecting);
    if (l_waiting.empty())
        return;
    for (ItemPtr l_upload : l_waiting) {
        const std::string l_file = l_upload["shared_file"]["shared_file_name"].AsString();
        Log(LogArea, 1,
            QString("Upload of %1 to %2 got no file connection, aborting")
                .arg(TransferText::Of(l_file), TransferText::Of(i_user)),
            l_user);
        AbortWithoutConnection(l_upload);
    }
    StartNewUploads();
}

void TransferQueueManager::AbortWithoutConnection(ItemPtr i_upload)
{
    i_upload += d.GetType("upload_failure_reason")->GetItem(std::string(FileConnectionFailedReason));
    SetUploadEntryStatus(i_upload, TransferStatus::Aborted);
}

void TransferQueueManager::OnUploadProgress(TransferThread* ip_thread, qint64 i_offset, int i_bytesPerSecond)
{
    ItemPtr l_upload = EntryOfThread(ip_thread, "upload_thread", "upload_entry");
    if (!l_upload)
        return;
    TransferFigures::RecordProgress(l_upload, "read_position", i_offset, i_bytesPerSecond);
    emit UploadProgressed(l_upload);
}

void TransferQueueManager::OnUploadComplete(TransferThread* ip_thread)
{
    ItemPtr l_upload = EntryOfThread(ip_thread, "upload_thread", "upload_entry");
    if (!l_upload)
        return;
    const auto* lp_speed = TransferFigures::Of<TransferFigures::Speed>(l_upload, "bytes_per_second");
    const int l_speed = lp_speed ? *lp_speed : 0;
    Log(LogArea, 1, QString("Recording upload speed of %1").arg(l_speed));
    if (l_upload["shared_file"]["shared_file_size"].AsInt64() > SpeedReportMinimumBytes && l_speed > 0 && gp_server)
        gp_server->SendUploadSpeed(l_speed);
    SetUploadEntryStatus(l_upload, TransferStatus::Complete);
    StartNewUploads();
}

void TransferQueueManager::OnUploadError(TransferThread* ip_thread)
{
    ItemPtr l_upload = EntryOfThread(ip_thread, "upload_thread", "upload_entry");
    if (!l_upload)
        return;
    SetUploadEntryStatus(l_upload, TransferStatus::Aborted);
    StartNewUploads();
}
