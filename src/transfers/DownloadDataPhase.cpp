// The receiving side of a download: a peer's offer of a queued file is
// accepted or refused, its file connection is matched to the download by
// user and token, the start offset (the partial file's length) is sent, and
// a DownloadThread receives the rest into the partial file.
#include "transfers/TransferQueueManager.h"

#include "core/log/Log.h"
#include "core/util/GeneralFunctions.h"
#include "peer/PeerMessenger.h"
#include "transfers/DownloadLayout.h"
#include "transfers/DownloadPartials.h"
#include "transfers/DownloadThread.h"
#include "transfers/TransferFigures.h"
#include "transfers/TransferStatus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QtEndian>

namespace
{
// Offers from a peer that sends the file to us.
constexpr int DirectionUpload = 1;

// The token names the file connection to come, and the connection is matched
// to a download by user and token: the user's other downloads let go of it.
// They may hold it still from an earlier offer, for a peer that restarted
// counts its tokens from the start again.
void TakeToken(ItemPtr i_download, ItemPtr i_user, unsigned int i_req)
{
    const ItemPtr l_token = d.GetType("remote_transfer_req")->GetItem(ToString(i_req));
    for (Item* lp_holder : d.GetItems(i_user, l_token, "download_entry")) {
        if (lp_holder != i_download.Get())
            ItemPtr(lp_holder).Disconnect(l_token);
    }
    i_download += l_token;
}
}  // namespace

void TransferQueueManager::OnFileTransferRequest(std::string i_user, int i_direction, unsigned int i_req,
                                                 std::string i_file, qint64 /*i_fileSize*/)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    if (i_direction != DirectionUpload) {
        Log(LogArea, 1,
            QString("Received download request from %1 for file %2, currently not processing")
                .arg(TransferText::Of(i_user), TransferText::Of(i_file)),
            l_user);
        return;
    }
    Log(LogArea, 1,
        QString("Received upload request from %1 for file %2, req %3")
            .arg(TransferText::Of(i_user), TransferText::Of(i_file))
            .arg(i_req),
        l_user);
    const RemoteFilePath l_path = SplitRemotePath(i_file);
    ItemPtr l_download = GetDownloadEntry(i_user, l_path.m_name, l_path.m_folder);
    const std::string l_status = l_download["download_entry_status"].AsString();
    if (!l_download || l_status == TransferStatus::Complete) {
        const char* lp_reason = l_download ? "Complete" : "Cancelled";
        Log(LogArea, 2, QString("Denied, %1").arg(lp_reason), l_user);
        if (peerMessenger)
            peerMessenger->DenyTransferRequest(i_user, i_req, lp_reason);
        return;
    }
    TakeToken(l_download, l_user, i_req);
    if (l_status == TransferStatus::Downloading) {
        Log(LogArea, 2, "Transfer is already downloading, cancelling...", l_user);
        SetDownloadEntryStatus(l_download, TransferStatus::Aborted);
    }
    if (peerMessenger)
        peerMessenger->AcceptTransferRequest(i_user, i_req, false, 0);
    Log(LogArea, 2, "Accepted", l_user);
}

void TransferQueueManager::TurnAway(QTcpSocket* ip_socket)
{
    ip_socket->close();
    ip_socket->deleteLater();
}

bool TransferQueueManager::IsPartialFileBeingWritten(const QString& i_partialPath)
{
    for (ItemPtr l_download : d.GetType("download_thread")->GetItems().GetItems("download_entry")) {
        if (QDir::cleanPath(WrittenPartialPath(l_download)) == i_partialPath)
            return true;
    }
    return false;
}

void TransferQueueManager::OnFileConnection(std::string i_user, QTcpSocket* ip_socket, unsigned int i_requestID)
{
    ItemPtr l_user = d.GetType("user")->GetItem(i_user);
    Log(LogArea, 1, QString("File connection created by user %1 for req %2").arg(TransferText::Of(i_user)).arg(i_requestID),
        l_user);
    ItemPtr l_token = d.GetType("remote_transfer_req")->HasItem(ToString(i_requestID));
    ItemPtr l_download = l_token ? d.GetItem(l_user, l_token, "download_entry") : ItemPtr();
    if (!l_download) {
        TurnAway(ip_socket);
        Log(LogArea, 2, "Download not found, aborting", l_user);
        return;
    }
    // A token kept from an earlier offer must not fetch the file again.
    if (l_download["download_entry_status"].AsString() == TransferStatus::Complete) {
        TurnAway(ip_socket);
        Log(LogArea, 2, "Download already complete, closing connection", l_user);
        return;
    }
    // Only one transfer writes a partial file: a second connection of the
    // same download, or of another that would write the same file.
    const auto l_alreadyWritten = [&] {
        TurnAway(ip_socket);
        Log(LogArea, 2, "Partial file is already being written, closing connection", l_user);
    };
    if (l_download.IsConnected("download_thread")) {
        l_alreadyWritten();
        return;
    }
    const DownloadLayout::Target l_target = DownloadLayout::OfDownload(l_download, false);
    if (!l_target.IsValid()) {
        SetDownloadEntryStatus(l_download, TransferStatus::LocalError);
        TurnAway(ip_socket);
        Log(LogArea, 2, "File name cannot be placed inside the download folder, aborting", l_user);
        return;
    }
    // The partial file this download wrote, or a new one of its own: another
    // download's partial, or one left behind, may hold another file.
    const QString l_partialPath = DownloadPartials::Claim(l_download, l_target);
    if (l_partialPath.isEmpty()) {
        SetDownloadEntryStatus(l_download, TransferStatus::LocalError);
        TurnAway(ip_socket);
        Log(LogArea, 2, "No free name for a partial file, aborting", l_user);
        return;
    }
    if (IsPartialFileBeingWritten(l_partialPath)) {
        l_alreadyWritten();
        return;
    }

    QDir().mkpath(QFileInfo(l_partialPath).path());
    auto* lp_file = new QFile(l_partialPath);
    if (!lp_file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetDownloadEntryStatus(l_download, TransferStatus::LocalError);
        delete lp_file;
        TurnAway(ip_socket);
        Log(LogArea, 2, "Could not open file, aborting", l_user);
        return;
    }
    const qint64 l_offset = lp_file->size();
    const qint64 l_fileSize = l_download["file_size"].AsInt64();
    // Asking the peer again would only fail again: the download stays out of
    // the queue until the user deals with the file.
    if (l_offset > l_fileSize) {
        SetDownloadEntryStatus(l_download, TransferStatus::LocalError);
        delete lp_file;
        TurnAway(ip_socket);
        Log(LogArea, 2,
            QString("Partial file holds %1 bytes, more than the file's %2, aborting").arg(l_offset).arg(l_fileSize),
            l_user);
        return;
    }

    char l_offsetBytes[8];
    qToLittleEndian(l_offset, l_offsetBytes);
    ip_socket->write(l_offsetBytes, sizeof l_offsetBytes);
    ip_socket->flush();

    using namespace TransferFigures;
    l_download += d.GetType("download_socket")->GetItem(Value(ip_socket));
    l_download += d.GetType("download_file")->GetItem(Value(lp_file));
    Attach<Position>(l_download, "write_position", l_offset);
    SetDownloadEntryStatus(l_download, TransferStatus::Downloading);
    const QDateTime l_now = QDateTime::currentDateTime();
    Attach<Time>(l_download, "last_receipt_time", l_now);
    Attach<Time>(l_download, "last_speed_measurement_time", l_now);
    Attach<Speed>(l_download, "bytes_per_second", 0);
    Attach<ByteCount>(l_download, "bytes_since_last_receipt", 0);

    QObject::disconnect(ip_socket, nullptr, nullptr, nullptr);
    StartTransferThread(l_download, new DownloadThread(ip_socket, lp_file, l_fileSize, l_offset), DownloadThreadSlots);
    Log(LogArea, 2, "Downloading", l_user);
}

void TransferQueueManager::OnDownloadProgress(TransferThread* ip_thread, qint64 i_offset, int i_bytesPerSecond)
{
    ItemPtr l_download = EntryOfThread(ip_thread, "download_thread", "download_entry");
    if (!l_download)
        return;
    TransferFigures::RecordProgress(l_download, "write_position", i_offset, i_bytesPerSecond);
    emit DownloadProgressed(l_download);
}

void TransferQueueManager::OnDownloadError(TransferThread* ip_thread)
{
    if (ItemPtr l_download = EntryOfThread(ip_thread, "download_thread", "download_entry"))
        SetDownloadEntryStatus(l_download, TransferStatus::Aborted);
}
