#pragma once

#include <QtGlobal>

#include <functional>
#include <set>
#include <unordered_map>
#include <utility>

class Item;

// The queued uploads that may start now, in start order, so that a freed
// slot goes to the first of them without a pass over the whole queue. An
// entry waits at its place in the upload order (a number: the lower starts
// first); of a user only the first waiting entry may start, and only while
// the user is online and has no upload running. So the order holds, for
// each such user, that first entry, and it changes only where an entry
// starts or stops waiting or running, moves, or its user comes or goes.
class UploadStartOrder
{
public:
    using OnlineTest = std::function<bool(Item*)>;
    explicit UploadStartOrder(OnlineTest i_isOnline);

    // The entry waits at this place (again, or now at a new one).
    void Wait(Item* ip_upload, Item* ip_user, qint64 i_place);
    // A waiting entry's place changed; nothing for one that does not wait.
    void Move(Item* ip_upload, qint64 i_place);
    // The entry runs: its user starts nothing more until it ends.
    void Run(Item* ip_upload, Item* ip_user);
    // The entry neither waits nor runs (finished, or gone).
    void Forget(Item* ip_upload);
    // The user came online or went offline.
    void UserChanged(Item* ip_user);

    // The entry to start next, or null.
    Item* First() const;

private:
    using Key = std::pair<qint64, Item*>;
    struct Entry
    {
        Item* mp_user;
        qint64 m_place;
        bool m_running;
    };
    struct User
    {
        // Keyed with the entry too, so that places may pass each other
        // while a renumbering is under way.
        std::set<Key> m_waiting;
        int m_running = 0;
    };

    // The user's first entry leaves the order; after the change it comes
    // back when the user may start it. A user with nothing waiting or
    // running is dropped.
    void Leave(Item* ip_user);
    void Enter(Item* ip_user);

    OnlineTest m_isOnline;
    std::unordered_map<Item*, Entry> m_entries;
    std::unordered_map<Item*, User> m_users;
    std::set<Key> m_ready;
};
