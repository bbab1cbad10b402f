#pragma once

#include <QtGlobal>

#include <functional>
#include <map>
#include <unordered_map>

class Item;

// The queued uploads in the order they began to wait, so that the queue's
// size is known and its longest-waiting entry of some kind is found without
// a pass over the whole queue.
class UploadWaitList
{
public:
    // Adds an entry that is queued and not yet listed (it keeps its place
    // if it was); drops one that is no longer queued.
    void Note(Item* ip_upload, bool i_queued);
    void Forget(Item* ip_upload);

    std::size_t Size() const { return m_byAge.size(); }

    // The longest-waiting entry that i_wanted accepts, or null.
    Item* Oldest(const std::function<bool(Item*)>& i_wanted) const;

private:
    quint64 m_next = 0;
    std::map<quint64, Item*> m_byAge;
    std::unordered_map<Item*, quint64> m_ages;
};
