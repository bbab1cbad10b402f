#pragma once

// The surroundings of the transfer manager in a test: the peer layer's test
// world (store, timers, data saver, server link, peer layer on the loopback
// address), the distributed network, the shares service and the manager
// itself. The download folder is a temporary folder. Peer messages to users
// without a connection stay in the peer layer's queue, where a test reads
// them; a far end that connects as a user receives them on the wire.

#include "FakePeer.h"
#include "PeerTestWorld.h"

#include "transfers/TransferQueueManager.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

class DNetManager;
class SharedFoldersManager;

class TransfersTestWorld
{
public:
    // i_load false leaves the data-loaded step to the test (a Load).
    explicit TransfersTestWorld(bool i_load = true);
    ~TransfersTestWorld();
    TransfersTestWorld(const TransfersTestWorld&) = delete;
    TransfersTestWorld& operator=(const TransfersTestWorld&) = delete;

    TransferQueueManager& Manager() { return *mp_manager; }
    // Deletes the manager now, as the shut-down does.
    void DestroyManager();
    PeerTestWorld& Peer() { return m_peer; }
    // Reads the data file (or finds none) and runs every data-loaded step.
    void Load(const QString& i_dataFile);
    void Save(const QString& i_dataFile);

    QString DownloadRoot() const { return m_downloads.path(); }
    // Makes a file with its folders below the download root.
    static void MakeFile(const QString& i_path, const QByteArray& i_bytes = "x");
    static QByteArray ReadFile(const QString& i_path);
    // A partial file that the download wrote in an earlier transfer.
    static void MakeOwnPartial(ItemPtr i_download, const QString& i_path, const QByteArray& i_bytes);
    // The partial and complete file of a download from the remote folder
    // "Music".
    QString Partial(const QString& i_name) const { return DownloadRoot() + "/downloading/Music/" + i_name; }
    QString Complete(const QString& i_name) const { return DownloadRoot() + "/complete/Music/" + i_name; }

    // The server link's doing, written straight into the store: the user
    // reported online or offline.
    static void SetOnline(const std::string& i_user, bool i_online = true);
    // A file in the index, below a shared root that everyone may see, or,
    // when not public, nobody.
    static ItemPtr ShareFile(const std::string& i_folder, const std::string& i_name, qint64 i_size = 1,
                             const std::string& i_root = "/shares", bool i_public = true);

    // Bob and carol online, each asking for a file of the folder, "a" and
    // "b": bob's upload takes the one slot and is offered, carol's waits.
    void OfferToBobWithCarolWaiting(const QTemporaryDir& i_files);

    // The peer messages held for the user, oldest first (code and payload).
    static QList<QByteArray> Sent(const std::string& i_user);
    static void ClearSent();
    // The file connections to users that the peer layer asked the server
    // to have made.
    long FileConnectionsAsked();
    // The transfer log's lines since the world was made or last cleared.
    QStringList LogTexts() const;
    void ClearLog();

private:
    PeerTestWorld m_peer;
    QTemporaryDir m_downloads;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_manager;
    quint64 m_logStart = 0;
};

// What a peer sends first on a file connection it opened to us: its
// introduction, then the transfer token.
QByteArray FileConnectionOpening(const std::string& i_user, quint32 i_token);
// A peer's offer to send us a file (peer message 40, direction 1).
QByteArray OfferBody(quint32 i_token, const std::string& i_path, qint64 i_size);
// A reproducible run of bytes.
QByteArray Pattern(int i_size);
// Another file's bytes, unlike Pattern's at every position.
QByteArray Other(int i_size);

// Peer message bodies as this client writes them.
QByteArray MessageBody(quint32 i_code, const std::string& i_text);
QByteArray MessageBody(quint32 i_code, const std::string& i_text, const std::string& i_secondText);
