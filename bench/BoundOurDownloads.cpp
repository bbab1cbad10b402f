#include "BoundOurDownloads.h"

#include "BoundHonestUploads.h"
#include "BoundPeers.h"

#include "transfers/TransferQueueManager.h"

#include <QFile>
#include <QTimer>

BoundOurDownloads::BoundOurDownloads(TransferQueueManager& io_manager, const QByteArray& i_bytes)
    : m_manager(io_manager), m_bytes(i_bytes)
{
    QObject::connect(&m_manager, &TransferQueueManager::CompleteDownloadAdded, &m_manager, [this](ItemPtr i_record) {
        const std::string l_name = i_record["complete_download_filename"].AsString();
        QFile l_file(QString::fromStdString(i_record["complete_download_folder"].AsString() + "/" + l_name));
        if (l_file.open(QIODevice::ReadOnly) && l_file.readAll() == m_bytes)
            m_verified.insert(l_name);
    });
}

BoundOurDownloads::BoundOurDownloads(BoundHostile::Kind i_kind, TransferQueueManager& io_manager,
                                     const QByteArray& i_bytes)
    : BoundOurDownloads(io_manager, i_bytes)
{
    QTimer::singleShot(BoundPeers::HonestStartMs(i_kind), &m_manager, [this, i_kind] {
        for (int l_peer = 0; l_peer < BoundPeers::HonestPeers(i_kind); ++l_peer) {
            if (BoundPeers::Shares(i_kind, l_peer))
                QueueFrom(l_peer);
        }
    });
}

void BoundOurDownloads::QueueFrom(int i_peer)
{
    for (int l_file = 0; l_file < BoundHonestUploads::FilesEach; ++l_file)
        m_manager.AddDownload(BoundPeers::HonestUser(i_peer), BoundHonestUploads::FileName(i_peer, l_file),
                              BoundHonestUploads::Folder(i_peer), m_bytes.size(), 0);
}

int BoundOurDownloads::VerifiedFrom(int i_peer) const
{
    int l_count = 0;
    for (int l_file = 0; l_file < BoundHonestUploads::FilesEach; ++l_file)
        l_count += IsVerified(i_peer, l_file) ? 1 : 0;
    return l_count;
}

bool BoundOurDownloads::IsVerified(int i_peer, int i_file) const
{
    return m_verified.contains(BoundHonestUploads::FileName(i_peer, i_file));
}
