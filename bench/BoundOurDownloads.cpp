#include "BoundOurDownloads.h"

#include "BoundHonestUploads.h"
#include "BoundPeers.h"

#include "transfers/TransferQueueManager.h"

#include <QFile>
#include <QTimer>

BoundOurDownloads::BoundOurDownloads(BoundHostile::Kind i_kind, TransferQueueManager& io_manager,
                                     const QByteArray& i_bytes)
    : m_kind(i_kind), m_manager(io_manager), m_bytes(i_bytes)
{
    QObject::connect(&m_manager, &TransferQueueManager::CompleteDownloadAdded, &m_manager, [this](ItemPtr i_record) {
        const std::string l_name = i_record["complete_download_filename"].AsString();
        QFile l_file(QString::fromStdString(i_record["complete_download_folder"].AsString() + "/" + l_name));
        if (l_file.open(QIODevice::ReadOnly) && l_file.readAll() == m_bytes)
            m_verified.insert(l_name);
    });
    QTimer::singleShot(BoundPeers::HonestStartMs, &m_manager, [this] { Queue(); });
}

void BoundOurDownloads::Queue()
{
    for (int l_peer = 0; l_peer < BoundPeers::HonestPeers(m_kind); ++l_peer) {
        if (!BoundPeers::Shares(m_kind, l_peer))
            continue;
        for (int l_file = 0; l_file < BoundHonestUploads::FilesEach; ++l_file)
            m_manager.AddDownload(BoundPeers::HonestUser(l_peer), BoundHonestUploads::FileName(l_peer, l_file),
                                  BoundHonestUploads::Folder(l_peer), m_bytes.size(), 0);
    }
}
