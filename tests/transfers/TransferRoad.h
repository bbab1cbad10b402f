#pragma once

#include "TransfersTestWorld.h"

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>

#include <string>

// The manager with user "bob" as a fake peer over the loopback network:
// bob's messaging connection to us, his listener for the file connections
// we open to him, and a folder of files that we share. Downloads come from
// bob's remote folder "Music".
class TransferRoad
{
public:
    // i_load false leaves the data-loaded step, and bob's arrival, to Load.
    explicit TransferRoad(bool i_load = true);
    // Reads the data file, then bob connects and is online.
    void Load(const QString& i_dataFile);

    TransferQueueManager& Manager() { return m_world.Manager(); }
    bool Ready() const { return mp_bob != nullptr; }

    // Downloads. Bob offers a file under the token; our answer.
    QByteArray Offer(quint32 i_token, const std::string& i_path, qint64 i_size);
    // A file connection that the user opens to us for the token.
    FakePeerConnection* Open(const std::string& i_user, quint32 i_token);
    // Bob opens the file connection for the token and, once we have sent
    // the offset, sends the bytes; whether the download then completes.
    bool Deliver(quint32 i_token, const QByteArray& i_bytes, ItemPtr i_download);
    // The user opens the file connection for the token; the offset we send
    // on it, -1 when none came.
    qint64 OffsetFor(const std::string& i_user, quint32 i_token, FakePeerConnection** op_file = nullptr);
    // Bob sends the bytes after our offset and leaves; whether the download
    // then ends aborted.
    bool BreakOff(quint32 i_token, const QByteArray& i_bytes, ItemPtr i_download);

    // Uploads. A file we share, and the path under which bob asks for it.
    std::string Share(const QString& i_name, const QByteArray& i_bytes);
    // Bob asks for the file; the token of our offer, 0 when none came.
    quint32 Ask(const std::string& i_path);
    void Answer(quint32 i_token, bool i_accepted, const std::string& i_reason = "");
    // The file connection we open to bob, read up to the token we write on
    // it; null when none came.
    FakePeerConnection* TakeFileConnection(quint32& o_token);

    // The frames bob, or another far end, got with that message code.
    QList<QByteArray> FramesWithCode(quint32 i_code) { return FramesWithCode(mp_bob, i_code); }
    static QList<QByteArray> FramesWithCode(FakePeerConnection* ip_far, quint32 i_code);
    // Runs the event loop until the download or upload entry has the status.
    static bool Reaches(ItemPtr i_entry, const char* ip_status);
    static std::string StatusOf(ItemPtr i_entry);

    TransfersTestWorld m_world;
    FakePeer m_peer;
    FakePeerConnection* mp_bob = nullptr;
    QTemporaryDir m_files;

private:
    void ConnectBob();
};
