#pragma once

// The surroundings of the shares service in a test: the peer layer's test
// world (store, timers, data saver, server link, peer layer on the loopback
// address), the server link logged in to a fake central server on request,
// the distributed network, and the service itself, whose replies are caught
// instead of sent. Shared folders live in a temporary folder.

#include "FakeCentralServer.h"
#include "PeerTestWorld.h"

#include "core/io/MemStream.h"
#include "core/persist/DataSaver.h"
#include "core/store/Data.h"
#include "shares/SharedFoldersManager.h"

#include <QByteArray>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DNetManager;

// Runs the event loop until no received listing waits to be stored or
// removed, for 10 s at most; i_betweenTurns runs after each round of events.
bool WaitUntilListingsStored(const std::function<void()>& i_betweenTurns = {});

struct CaughtReply
{
    std::string m_user;
    quint32 m_code = 0;
    QByteArray m_payload;  // inflated
};

class SharesTestWorld
{
public:
    // i_load false leaves the data-loaded step to the test (after a Load).
    explicit SharesTestWorld(bool i_load = true);
    ~SharesTestWorld();
    SharesTestWorld(const SharesTestWorld&) = delete;
    SharesTestWorld& operator=(const SharesTestWorld&) = delete;

    SharedFoldersManager& Shares() { return *mp_shares; }
    DataSaver& Saver() { return *dataSaver; }
    FakeCentralServer& Central() { return m_central; }
    bool LogIn(const std::string& i_user);

    // A folder below the temporary root, made with its parents; the path
    // as the index writes it.
    std::string MakeFolder(const std::string& i_relative);
    std::string MakeFile(const std::string& i_relative, qint64 i_size = 1);
    static std::string MakeFileIn(const QString& i_base, const std::string& i_relative, qint64 i_size = 1);
    std::string Root() const { return m_root.path().toStdString(); }

    // Shares a folder (a new "shared_folder" item) with its access marks.
    ItemPtr Share(const std::string& i_path, bool i_public = true);
    // Runs Init or a rescan and waits until it is applied.
    bool InitAndWait();
    bool RescanAndWait();
    bool WaitIdle();

    // Puts a file into the index without the disk, as a walk would: the
    // folder below the share, the file with its name, size and words.
    static ItemPtr Index(ItemPtr i_share, const std::string& i_folder, const std::string& i_name, qint64 i_size = 1);
    // The index's file item with that folder and name, or null.
    static ItemPtr FileItem(const std::string& i_folder, const std::string& i_name);

    std::vector<CaughtReply> m_replies;

private:
    PeerTestWorld m_peer;
    QTemporaryDir m_root;
    FakeCentralServer m_central;
    std::unique_ptr<DNetManager> mp_dnet;
    std::unique_ptr<SharedFoldersManager> mp_shares;
};

// Inflates a zlib stream; empty on failure.
QByteArray Inflate(const QByteArray& i_stream);
