#pragma once

#include <QtGlobal>

#include <map>
#include <unordered_map>

class Item;

// The queued uploads in the order they began to wait, so that the queue's
// size is known and its longest-waiting entry that may make room is found
// without a pass over the whole queue. Whether an entry may make room is the
// caller's word, given when the entry is noted and whenever it changes.
class UploadWaitList
{
public:
    // Adds an entry that is queued and not yet listed (it keeps its place
    // if it was); drops one that is no longer queued.
    void Note(Item* ip_upload, bool i_queued, bool i_mayMakeRoom);
    void Forget(Item* ip_upload);
    // Nothing for an entry that is not listed.
    void SetMayMakeRoom(Item* ip_upload, bool i_mayMakeRoom);

    std::size_t Size() const { return m_ages.size(); }

    // The longest-waiting entry that may make room, or null.
    Item* OldestThatMayMakeRoom() const;

private:
    quint64 m_next = 0;
    std::unordered_map<Item*, quint64> m_ages;
    // By age, the listed entries that may make room.
    std::map<quint64, Item*> m_mayMakeRoom;
};
