#pragma once

#include <QByteArray>

#include <set>
#include <string>

class TransferQueueManager;

// The shared run's downloads of the client from the honest peers, two of
// each (BoundHonestUploads.h): queued when the peers start, each counted
// once its file is complete with the bytes the peers send.
class BoundOurDownloads
{
public:
    BoundOurDownloads(TransferQueueManager& io_manager, const QByteArray& i_bytes);
    BoundOurDownloads(const BoundOurDownloads&) = delete;
    BoundOurDownloads& operator=(const BoundOurDownloads&) = delete;

    int Verified() const { return int(m_verified.size()); }

private:
    void Queue();

    TransferQueueManager& m_manager;
    QByteArray m_bytes;
    // The names of the files verified.
    std::set<std::string> m_verified;
};
