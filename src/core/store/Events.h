#pragma once

#include <set>
#include <vector>

class Item;
class HandlerSet;

// The two items of a connection that was made or broken. For a type's own
// events the first item is the one of that type; for a handler added with
// Data::AddConnectionEventHandler(a, b, ...) it is the item of type a.
struct ConnectionInfo
{
    Item* mp_item1 = nullptr;
    Item* mp_item2 = nullptr;
};

// Root of every store event handler. The store owns handlers; a subscriber
// that goes away only marks its handlers removed, and the store frees them
// lazily the next time their event fires.
class EventHandlerRoot
{
public:
    virtual ~EventHandlerRoot() = default;

    bool m_removed = false;
    // How many events, paths and relations hold this handler; the last one
    // to let go frees it.
    int m_useCount = 0;
    // The record of the subscriber that created this handler, while that
    // subscriber lives; cleared when it dies.
    HandlerSet* mp_ownerSet = nullptr;
};

template <class Arg>
class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(Arg i_arg) = 0;
};

// Binds one subscriber object and one of its member functions.
template <class Subscriber, class Arg>
class EventHandler : public EventHandlerBase<Arg>
{
public:
    using Function = void (Subscriber::*)(Arg);

    EventHandler(Subscriber* ip_object, Function ip_function) : mp_object(ip_object), mp_function(ip_function) {}

    void Handle(Arg i_arg) override { (mp_object->*mp_function)(i_arg); }

private:
    Subscriber* mp_object;
    Function mp_function;
};

// A subscriber's record of the handlers it created. Destroying it marks every
// one of them removed, so the store never calls a dead subscriber.
class HandlerSet
{
public:
    HandlerSet() = default;
    HandlerSet(const HandlerSet&) = delete;
    HandlerSet& operator=(const HandlerSet&) = delete;
    ~HandlerSet();

    void insert(EventHandlerRoot* ip_handler);
    // Called by the store when it frees a handler whose subscriber still lives.
    void erase(EventHandlerRoot* ip_handler);
    std::size_t size() const { return m_handlers.size(); }
    bool contains(EventHandlerRoot* ip_handler) const { return m_handlers.count(ip_handler) != 0; }

private:
    std::set<EventHandlerRoot*> m_handlers;
};

// Base of every object that subscribes to store events.
class DataHandler
{
public:
    virtual ~DataHandler() = default;

    // Creates a handler bound to this subscriber and records it; the caller
    // hands it to the store, which owns it from then on.
    template <class Subscriber, class Arg>
    EventHandler<Subscriber, Arg>* MakeHandler(void (Subscriber::*ip_function)(Arg))
    {
        auto* lp_handler = new EventHandler<Subscriber, Arg>(static_cast<Subscriber*>(this), ip_function);
        m_handlerSet.insert(lp_handler);
        return lp_handler;
    }

    HandlerSet m_handlerSet;
};

// Keeps memory that a notification may still reach alive until the outermost
// store operation has returned: removed items and removed handlers are freed
// only then, so a handler that removes items or destroys its subscriber never
// leaves a loop further up the stack with a freed pointer.
class StoreScope
{
public:
    StoreScope();
    ~StoreScope();
    StoreScope(const StoreScope&) = delete;
    StoreScope& operator=(const StoreScope&) = delete;

    static bool Active();
    static void DeleteLater(EventHandlerRoot* ip_handler);
    static void DeleteLater(void* ip_object, void (*ip_deleter)(void*));
};

// The store's holders of a handler take and release it through these; the
// last release frees it (after the outermost store operation, if one runs),
// telling its live subscriber first.
void AcquireHandler(EventHandlerRoot* ip_handler);
void ReleaseHandler(EventHandlerRoot* ip_handler);

// The handlers of one event. A subscriber joins by inserting its handler.
template <class Arg>
class EventHandlerSet
{
public:
    using Set = std::set<EventHandlerBase<Arg>*>;

    EventHandlerSet() = default;
    EventHandlerSet(const EventHandlerSet&) = delete;
    EventHandlerSet& operator=(const EventHandlerSet&) = delete;
    ~EventHandlerSet()
    {
        for (auto* lp_handler : m_set)
            ReleaseHandler(lp_handler);
    }

    void insert(EventHandlerBase<Arg>* ip_handler)
    {
        if (ip_handler && m_set.insert(ip_handler).second)
            AcquireHandler(ip_handler);
    }
    void erase(EventHandlerBase<Arg>* ip_handler)
    {
        if (m_set.erase(ip_handler))
            ReleaseHandler(ip_handler);
    }
    bool empty() const { return m_set.empty(); }
    std::size_t size() const { return m_set.size(); }
    typename Set::const_iterator begin() const { return m_set.begin(); }
    typename Set::const_iterator end() const { return m_set.end(); }

    // The live handlers, for one notification; removed ones are let go here.
    std::vector<EventHandlerBase<Arg>*> TakeSnapshot()
    {
        std::vector<EventHandlerBase<Arg>*> l_copy;
        l_copy.reserve(m_set.size());
        for (auto l_it = m_set.begin(); l_it != m_set.end();) {
            if ((*l_it)->m_removed) {
                ReleaseHandler(*l_it);
                l_it = m_set.erase(l_it);
            } else {
                l_copy.push_back(*l_it);
                ++l_it;
            }
        }
        return l_copy;
    }

private:
    Set m_set;
};

// One store event. A notification runs over a copy of the handler set, so a
// handler added meanwhile is not called by it.
template <class Arg>
class Event
{
public:
    void Fire(Arg i_arg)
    {
        if (m_handlerSet.empty())
            return;
        StoreScope l_scope;
        for (auto* lp_handler : m_handlerSet.TakeSnapshot()) {
            if (!lp_handler->m_removed)
                lp_handler->Handle(i_arg);
        }
    }

    EventHandlerSet<Arg> m_handlerSet;
};
