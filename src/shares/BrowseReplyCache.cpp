#include "shares/BrowseReplyCache.h"

#include "peer/PeerMessageCodes.h"

#include <algorithm>

BrowseReplyCache::BrowseReplyCache(Builder i_builder, QObject* ip_parent)
    : QObject(ip_parent), m_builder(std::move(i_builder))
{
    // One compression at a time: they are few, and each one is long.
    m_workers.setMaxThreadCount(1);
}

BrowseReplyCache::~BrowseReplyCache()
{
    // What a worker posts back dies with this object, unread.
    m_workers.waitForDone();
    std::list<Entry> l_entries;
    l_entries.swap(m_entries);
    BrowseReply l_abandoned;
    l_abandoned.m_abandoned = true;
    for (Entry& l_entry : l_entries) {
        for (Waiter& l_waiter : l_entry.m_waiting)
            l_waiter.m_done(l_abandoned);
    }
}

void BrowseReplyCache::Request(const Key& i_key, Done i_done)
{
    // A fresh reply, or one under way (even if made before the latest
    // change: it may not be started again until it is done).
    auto l_entry = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& i_entry) {
        return i_entry.m_key == i_key && (!i_entry.m_made || i_entry.m_generation == m_generation);
    });
    if (l_entry == m_entries.end()) {
        Start(i_key, {{m_generation, std::move(i_done)}});
        return;
    }
    if (l_entry->m_made) {
        // Over a copy: the answer may come back here.
        const BrowseReply l_reply = l_entry->m_reply;
        i_done(l_reply);
        return;
    }
    l_entry->m_waiting.push_back({m_generation, std::move(i_done)});
}

void BrowseReplyCache::Invalidate()
{
    ++m_generation;
    m_entries.remove_if([](const Entry& i_entry) { return i_entry.m_made; });
}

std::size_t BrowseReplyCache::KeptCount() const
{
    return static_cast<std::size_t>(std::count_if(m_entries.begin(), m_entries.end(), [this](const Entry& i_entry) {
        return i_entry.m_made && i_entry.m_generation == m_generation;
    }));
}

bool BrowseReplyCache::IsMaking() const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [](const Entry& i_entry) { return !i_entry.m_made; });
}

void BrowseReplyCache::Start(const Key& i_key, std::vector<Waiter> i_waiting)
{
    Entry& l_entry = m_entries.emplace_back();
    l_entry.m_id = m_nextId++;
    l_entry.m_key = i_key;
    l_entry.m_generation = m_generation;
    l_entry.m_waiting = std::move(i_waiting);
    BrowseListing l_listing = m_builder(i_key);
    l_entry.m_reply.m_files = l_listing.m_files;
    l_entry.m_reply.m_folders = l_listing.m_folders;
    l_entry.m_reply.m_listingBytes = l_listing.m_payload.mp_buffer->m_writeIndex;

    // The worker holds the only copy of the payload; nothing writes to it.
    m_workers.start([this, l_id = l_entry.m_id, l_payload = std::move(l_listing.m_payload)]() {
        MemStream l_body;
        const auto l_outcome = PayloadCompression::Frame(PeerMessageCodes::SharedFileList, l_payload, l_body);
        QMetaObject::invokeMethod(
            this, [this, l_id, l_outcome, l_body]() { OnMade(l_id, l_outcome, l_body); }, Qt::QueuedConnection);
    });
}

void BrowseReplyCache::OnMade(quint64 i_id, PayloadCompression::Outcome i_outcome, const MemStream& i_body)
{
    auto l_entry = std::find_if(m_entries.begin(), m_entries.end(),
                                [i_id](const Entry& i_entry) { return i_entry.m_id == i_id; });
    if (l_entry == m_entries.end())
        return;
    l_entry->m_made = true;
    l_entry->m_reply.m_outcome = i_outcome;
    if (i_outcome == PayloadCompression::Outcome::Built)
        l_entry->m_reply.m_body = i_body;
    const BrowseReply l_reply = l_entry->m_reply;
    const Key l_key = l_entry->m_key;
    // Requests made after a change wait for a reply built after it.
    std::vector<Waiter> l_answered;
    std::vector<Waiter> l_later;
    for (Waiter& l_waiter : l_entry->m_waiting)
        (l_waiter.m_generation <= l_entry->m_generation ? l_answered : l_later).push_back(std::move(l_waiter));
    l_entry->m_waiting.clear();
    if (l_entry->m_generation != m_generation)
        m_entries.erase(l_entry);
    else
        DropOldest();
    if (!l_later.empty())
        Start(l_key, std::move(l_later));
    for (Waiter& l_waiter : l_answered)
        l_waiter.m_done(l_reply);
}

void BrowseReplyCache::DropOldest()
{
    while (KeptCount() > KeptReplies) {
        auto l_oldest = std::find_if(m_entries.begin(), m_entries.end(), [](const Entry& i_entry) { return i_entry.m_made; });
        m_entries.erase(l_oldest);
    }
}
