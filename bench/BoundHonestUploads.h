#pragma once

#include <QByteArray>
#include <QObject>
#include <QtGlobal>

#include <array>
#include <map>
#include <string>

class QTcpSocket;

// One honest peer's files for the client to download in the shared, claims
// and namesake runs, FilesEach of them. The client's queue request of one is answered with an
// offer under a token of the peer's own; once the client accepts it, the
// peer opens a file connection of its own from its address to the client's
// plain port, sends the token, reads the offset and sends the file's bytes
// from there. A file is offered again only when its last offer was refused
// or its connection ended before the bytes went; while one is under way
// another offer would make the client give up the download it has.
class BoundHonestUploads : public QObject
{
    Q_OBJECT

public:
    static constexpr int FilesEach = 2;
    // Where the client finds the peer's files: one folder, and names that
    // differ between peers, as the client saves them side by side.
    static std::string Folder(int i_peer);
    static std::string FileName(int i_peer, int i_file);

    // i_address: the peer's loopback address in host order.
    BoundHonestUploads(int i_peer, const std::string& i_user, quint32 i_address, quint16 i_clientPort,
                       const QByteArray& i_fileBytes);
    ~BoundHonestUploads() override;
    BoundHonestUploads(const BoundHonestUploads&) = delete;
    BoundHonestUploads& operator=(const BoundHonestUploads&) = delete;

    // What became of one of the files at the peer's end: the client's
    // queue requests of it that the peer read, the offers it made in
    // answer (Offer: the caller writes them), and the client's answers to
    // those offers that it read.
    struct FileRecord
    {
        int m_queueRequestsRead = 0;
        int m_offersMade = 0;
        int m_answersRead = 0;
    };

    // The offer, framed, for the client's queue request of i_path; empty
    // when the path is none of the peer's files or its offer is under way.
    QByteArray Offer(const std::string& i_path, bool i_obfuscated);
    // The client's answer to the offer under the token.
    void Answer(quint32 i_token, bool i_allowed);
    const FileRecord& Record(int i_file) const { return m_records[std::size_t(i_file)]; }
    // Files whose bytes went out whole.
    int Sent() const;
    // File connections that ended before their file's bytes went out
    // whole: reset or closed by the client, or never connected.
    int Cut() const { return m_cut; }

private:
    enum class State
    {
        Offered,
        Sending,
        Sent,
        Failed
    };
    struct Upload
    {
        int m_file = 0;
        State m_state = State::Offered;
        QTcpSocket* mp_socket = nullptr;
        QByteArray m_buffer;
        bool m_offsetRead = false;
    };

    // The index of the peer's file at the path; -1 for none of them.
    int FileAt(const std::string& i_path) const;
    void Connect(Upload& io_upload, quint32 i_token);
    void OnBytes(Upload& io_upload);
    void OnGone(Upload& io_upload);

    int m_peer;
    std::string m_user;
    quint32 m_address;
    quint16 m_clientPort;
    QByteArray m_fileBytes;
    quint32 m_nextToken;
    int m_cut = 0;
    // By token.
    std::map<quint32, Upload> m_uploads;
    std::array<FileRecord, FilesEach> m_records;
};
