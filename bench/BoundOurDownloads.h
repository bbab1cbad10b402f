#pragma once

#include "BoundHostile.h"

#include <QByteArray>

#include <set>
#include <string>

class TransferQueueManager;

// A run's downloads of the client from the honest peers that share, two of
// each (BoundHonestUploads.h): queued when the peers start, each counted
// once its file is complete with the bytes the peers send.
class BoundOurDownloads
{
public:
    BoundOurDownloads(BoundHostile::Kind i_kind, TransferQueueManager& io_manager, const QByteArray& i_bytes);
    BoundOurDownloads(const BoundOurDownloads&) = delete;
    BoundOurDownloads& operator=(const BoundOurDownloads&) = delete;

    int Verified() const { return int(m_verified.size()); }

private:
    void Queue();

    BoundHostile::Kind m_kind;
    TransferQueueManager& m_manager;
    QByteArray m_bytes;
    // The names of the files verified.
    std::set<std::string> m_verified;
};
