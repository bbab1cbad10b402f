#pragma once

#include <QMetaType>
#include <QObject>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

// One file found on disk, with the search words of its name that its
// folder's words do not already give.
struct WalkedFile
{
    std::string m_name;
    qint64 m_size = 0;
    std::vector<std::string> m_words;
};

// One folder found on disk: its path as the index writes it ("/" between
// folders, the root exactly as shared), its own search words and its files
// in listing order. A folder that could not be listed has no files.
struct WalkedFolder
{
    std::string m_path;
    std::vector<std::string> m_words;
    std::vector<WalkedFile> m_files;
};

// A run of folders of one walk, in walk order (a folder before the folders
// below it). The last batch of a walk says so.
struct WalkBatch
{
    quint64 m_walk = 0;
    std::vector<WalkedFolder> m_folders;
    bool m_last = false;
};

using WalkBatchPtr = std::shared_ptr<WalkBatch>;
Q_DECLARE_METATYPE(WalkBatchPtr)

// Walks shared folders on a worker thread and reports what it finds in
// batches; it never touches the item store. Folders are listed with hidden
// entries (names starting with ".") left out, in name order ignoring case;
// symbolic links are followed, a folder already on the walk's own path is
// not entered again (a link can make a cycle), and only regular files count
// (a FIFO or a device would block or mean nothing).
class ShareWalker : public QObject
{
    Q_OBJECT

public:
    // Makes the walk in progress and every queued one end at the next entry;
    // safe from any thread. Their remaining batches are not sent.
    void Stop() { m_stop = true; }

    // Batches are cut after this many files, so the first results reach the
    // window early and no batch is huge.
    static constexpr std::size_t FilesPerBatch = 2048;

public slots:
    void Walk(quint64 i_walk, QByteArray i_root);

signals:
    void Walked(WalkBatchPtr i_batch);

private:
    void WalkFolder(const std::string& i_path);
    void Flush(bool i_last);

    std::atomic<bool> m_stop{false};
    WalkBatchPtr mp_batch;
    std::size_t m_batchFiles = 0;
    // Device and inode of every folder on the path from the root.
    std::vector<std::pair<quint64, quint64>> m_stack;
};
