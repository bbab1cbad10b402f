#pragma once

#include "BoundHostile.h"

#include <QByteArray>

#include <set>
#include <string>

class TransferQueueManager;

// The client's downloads from honest peers that share, two of each
// (BoundHonestUploads.h), each counted once its file is complete with the
// bytes the peers send. A bound run's are queued when its peers start; a
// run of another kind queues them itself (QueueFrom).
class BoundOurDownloads
{
public:
    // Counts only.
    BoundOurDownloads(TransferQueueManager& io_manager, const QByteArray& i_bytes);
    // Queues from the bound run's honest peers that share once they start.
    BoundOurDownloads(BoundHostile::Kind i_kind, TransferQueueManager& io_manager, const QByteArray& i_bytes);
    BoundOurDownloads(const BoundOurDownloads&) = delete;
    BoundOurDownloads& operator=(const BoundOurDownloads&) = delete;

    // Queues the two files of the honest peer (BoundPeers::HonestUser).
    void QueueFrom(int i_peer);
    int Verified() const { return int(m_verified.size()); }
    // Those of the honest peer's files.
    int VerifiedFrom(int i_peer) const;
    bool IsVerified(int i_peer, int i_file) const;

private:
    TransferQueueManager& m_manager;
    QByteArray m_bytes;
    // The names of the files verified.
    std::set<std::string> m_verified;
};
