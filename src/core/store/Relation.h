#pragma once

#include "core/store/Events.h"
#include "core/store/Value.h"

#include <vector>

class Type;
struct PathSubscription;
class PathNode;

// A handler of new connections between items of two types, with the type
// whose item comes first in the ConnectionInfo it receives.
struct ConnectionHandlerEntry
{
    Type* mp_firstType;
    EventHandlerBase<ConnectionInfo&>* mp_handler;
};

// One parent-child step of a path subscription that runs over this relation.
struct PathEdge
{
    PathSubscription* mp_subscription;
    PathNode* mp_parent;
    PathNode* mp_child;
};

// The relation between two types, shared by both types' tables.
struct Relation
{
    Type* mp_a;
    Type* mp_b;
    OneOrMany m_aHoldsB;  // how many B items one A item may hold
    OneOrMany m_bHoldsA;
    bool m_aOwnsB;
    std::vector<ConnectionHandlerEntry> m_connectionHandlers;
    std::vector<PathEdge> m_pathEdges;

    // How many partners of the other type an item of ip_holder may have.
    OneOrMany HoldLimit(const Type* ip_holder) const { return ip_holder == mp_a ? m_aHoldsB : m_bHoldsA; }
    Type* Other(const Type* ip_type) const { return ip_type == mp_a ? mp_b : mp_a; }
};
