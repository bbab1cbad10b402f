#pragma once

#include "core/io/MemStream.h"
#include "shares/PayloadCompression.h"

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <list>
#include <string>
#include <vector>

// The browse listing of a set of shared folders before it is framed: the
// payload, and how many files and folders it holds.
struct BrowseListing
{
    MemStream m_payload;
    std::size_t m_files = 0;
    std::size_t m_folders = 0;
};

// A browse reply as it goes out: the framed body (empty when nothing may be
// sent) and what became of it, with the listing's figures for the log.
struct BrowseReply
{
    PayloadCompression::Outcome m_outcome = PayloadCompression::Outcome::CompressionFailed;
    MemStream m_body;
    std::size_t m_files = 0;
    std::size_t m_folders = 0;
    qint32 m_listingBytes = 0;
    // The cache went away before the reply was made.
    bool m_abandoned = false;
};

// Browse replies kept for reuse. A reply lists what one set of shared folders
// holds, so every user who may see the same set gets the same bytes: the set
// (the roots' paths, sorted) is the key.
//
// The listing is built by the caller's builder on the cache's own (GUI)
// thread, since it reads the store; it is compressed on a worker thread. A
// request for a set whose reply is under way waits for that one. A reply too
// large to send is kept like any other, so it is not built again either.
// Up to KeptReplies replies are kept, the oldest made going first, and any
// change of the share (Invalidate) makes them all stale: a request after the
// change gets a reply built after it.
//
// Answers come on the cache's thread: from Request itself when a fresh reply
// is kept, else from the event loop once it is made. Each request is
// answered exactly once; the cache's destruction answers the waiting ones
// with an abandoned reply.
class BrowseReplyCache : public QObject
{
    Q_OBJECT

public:
    using Key = std::vector<std::string>;
    using Builder = std::function<BrowseListing(const Key& i_key)>;
    using Done = std::function<void(const BrowseReply& i_reply)>;

    static constexpr std::size_t KeptReplies = 4;

    explicit BrowseReplyCache(Builder i_builder, QObject* ip_parent = nullptr);
    ~BrowseReplyCache() override;
    BrowseReplyCache(const BrowseReplyCache&) = delete;
    BrowseReplyCache& operator=(const BrowseReplyCache&) = delete;

    void Request(const Key& i_key, Done i_done);
    void Invalidate();

    // Replies kept fresh, and replies under way.
    std::size_t KeptCount() const;
    bool IsMaking() const;

private:
    struct Waiter
    {
        quint64 m_generation = 0;
        Done m_done;
    };
    struct Entry
    {
        quint64 m_id = 0;
        Key m_key;
        quint64 m_generation = 0;
        bool m_made = false;
        BrowseReply m_reply;
        std::vector<Waiter> m_waiting;
    };

    void Start(const Key& i_key, std::vector<Waiter> i_waiting);
    void OnMade(quint64 i_id, PayloadCompression::Outcome i_outcome, const MemStream& i_body);
    void DropOldest();

    Builder m_builder;
    std::list<Entry> m_entries;  // in the order they were started
    quint64 m_generation = 0;
    quint64 m_nextId = 1;
    QThreadPool m_workers;
};
