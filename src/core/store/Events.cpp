#include "core/store/Events.h"

#include <QCoreApplication>
#include <QThread>

#include <utility>

namespace {

struct DeferredObject
{
    void* mp_object;
    void (*mp_deleter)(void*);
};

// The store is used from the GUI thread only.
int g_scopeDepth = 0;
std::vector<EventHandlerRoot*> g_deferredHandlers;
std::vector<DeferredObject> g_deferredObjects;

void FreeHandler(EventHandlerRoot* ip_handler)
{
    if (ip_handler->mp_ownerSet)
        ip_handler->mp_ownerSet->erase(ip_handler);
    delete ip_handler;
}

// Before the application object exists, and after it is gone (the store's
// teardown at exit), there is no GUI thread to hold to.
[[maybe_unused]] bool OnGuiThread()
{
    const QCoreApplication* lp_app = QCoreApplication::instance();
    return !lp_app || QThread::currentThread() == lp_app->thread();
}

void Flush()
{
    // Freeing runs no events, but keep the scope open so nothing freed here
    // re-enters the lists while they are being emptied.
    ++g_scopeDepth;
    while (!g_deferredHandlers.empty() || !g_deferredObjects.empty()) {
        auto l_handlers = std::exchange(g_deferredHandlers, {});
        for (auto* lp_handler : l_handlers)
            FreeHandler(lp_handler);
        auto l_objects = std::exchange(g_deferredObjects, {});
        for (const auto& l_object : l_objects)
            l_object.mp_deleter(l_object.mp_object);
    }
    --g_scopeDepth;
}

}  // namespace

HandlerSet::~HandlerSet()
{
    for (auto* lp_handler : m_handlers) {
        lp_handler->m_removed = true;
        lp_handler->mp_ownerSet = nullptr;
        // Never handed to the store: nobody else will free it.
        if (lp_handler->m_useCount == 0)
            StoreScope::DeleteLater(lp_handler);
    }
}

void HandlerSet::insert(EventHandlerRoot* ip_handler)
{
    if (ip_handler && m_handlers.insert(ip_handler).second)
        ip_handler->mp_ownerSet = this;
}

void HandlerSet::erase(EventHandlerRoot* ip_handler)
{
    if (m_handlers.erase(ip_handler))
        ip_handler->mp_ownerSet = nullptr;
}

StoreScope::StoreScope()
{
    // The depth and the lists above are plain globals: a store operation
    // from another thread would race with the GUI thread's on them and on
    // every item it touches.
    Q_ASSERT_X(g_scopeDepth > 0 || OnGuiThread(), "StoreScope", "the store is used on the GUI thread only");
    ++g_scopeDepth;
}

StoreScope::~StoreScope()
{
    if (--g_scopeDepth == 0 && (!g_deferredHandlers.empty() || !g_deferredObjects.empty()))
        Flush();
}

bool StoreScope::Active()
{
    return g_scopeDepth > 0;
}

void StoreScope::DeleteLater(EventHandlerRoot* ip_handler)
{
    if (g_scopeDepth > 0)
        g_deferredHandlers.push_back(ip_handler);
    else
        FreeHandler(ip_handler);
}

void StoreScope::DeleteLater(void* ip_object, void (*ip_deleter)(void*))
{
    if (g_scopeDepth > 0)
        g_deferredObjects.push_back({ip_object, ip_deleter});
    else
        ip_deleter(ip_object);
}

void AcquireHandler(EventHandlerRoot* ip_handler)
{
    ++ip_handler->m_useCount;
}

void ReleaseHandler(EventHandlerRoot* ip_handler)
{
    if (--ip_handler->m_useCount != 0)
        return;
    // Forget the owner now: it may die before the deferred free runs.
    if (ip_handler->mp_ownerSet)
        ip_handler->mp_ownerSet->erase(ip_handler);
    StoreScope::DeleteLater(ip_handler);
}
