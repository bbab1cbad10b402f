#pragma once

#include "core/store/Events.h"

class Item;
class PathNode;

// A path handed to Data::AddPathEventHandler, with its handler. The store
// owns both; it drops the subscription once the handler's subscriber is gone
// or an item that one of its nodes is fixed to is removed.
struct PathSubscription
{
    PathNode* mp_root;
    EventHandlerBase<Item*>* mp_handler;
    bool m_dropped = false;
};
