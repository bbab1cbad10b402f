#pragma once

#include "BoundHostile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QtGlobal>

#include <memory>
#include <string>
#include <vector>

class QTcpSocket;

// The far side of a run at the client's connection bound, in a process of
// its own: hostile peers of one kind that hold connections (see
// BoundHostile.h), and honest peers that come later, browse the client,
// download one file and check its bytes. The peers bind loopback addresses,
// so that the client sees the remote addresses and networks (first three
// bytes) that a run needs; the honest peers have a network of their own,
// 127.0.1.100 and up. They start HonestStartMs after the hostile ones, half
// on the plain port and half on the obfuscated one.
class BoundPeers : public QObject
{
    Q_OBJECT

public:
    static constexpr int HonestPeers = 6;
    static constexpr int HonestStartMs = 10000;
    static std::string HonestUser(int i_index);
    // The shared file's bytes, which the honest peers check.
    static QByteArray FileBytes(qint64 i_size);

    struct HonestResult
    {
        bool m_answered = false;
        // From the start of its connection to the client's first reply.
        qint64 m_waitMs = -1;
        bool m_verified = false;
        // When it sent its accepting transfer response, from the start of
        // the run; -1 when it never did.
        qint64 m_acceptedAtMs = -1;
        // From then to the client's file connection reaching it; -1 when
        // none came.
        qint64 m_fileConnectMs = -1;
    };

    // i_sharedPath: the file's path as the client shares it.
    BoundPeers(BoundHostile::Kind i_kind, quint16 i_plainPort, quint16 i_obfuscatedPort,
               const std::string& i_sharedPath, qint64 i_fileSize);
    ~BoundPeers() override;
    BoundPeers(const BoundPeers&) = delete;
    BoundPeers& operator=(const BoundPeers&) = delete;

    // Where the client is to send the honest peers' files; 0 when the
    // listener could not start.
    quint16 HonestPort() const { return m_honestListener.serverPort(); }
    void Start();
    std::vector<HonestResult> Results() const;
    const BoundHostile& Hostile() const { return m_hostile; }

private:
    struct Honest;
    struct FileConnection;

    void StartHonest(Honest& io_peer);
    void OnHonestBytes(Honest& io_peer);
    void OnHonestMessage(Honest& io_peer, const QByteArray& i_body);
    void OnFileConnection();
    void OnFileBytes(FileConnection& io_connection);

    quint16 m_plainPort;
    quint16 m_obfuscatedPort;
    std::string m_sharedPath;
    QByteArray m_fileBytes;
    std::vector<std::unique_ptr<Honest>> m_honest;
    std::vector<std::unique_ptr<FileConnection>> m_files;
    QTcpServer m_honestListener;
    BoundHostile m_hostile;
    QElapsedTimer m_run;
};
