#pragma once

#include <vector>

class Data;
class Item;
class Type;

// How a child node of a path stands to its parent's item, and whether a
// change at that step wakes the subscription.
enum PathNodeRelation {
    Connected = 0,            // a matching connected item must exist; connecting one triggers
    AlreadyConnected = 1,     // a matching connected item must exist; never triggers
    NewlyConnected = 2,       // triggers when such a connection is made
    Disconnected = 3,         // no matching item may be connected; disconnecting one triggers
    AlreadyDisconnected = 4,  // no matching item may be connected; never triggers
    NewlyDisconnected = 5     // triggers when such a connection is broken
};

// One node of a path subscription: a root over every item of a type or over
// one fixed item, or a child matching items of a type (or one fixed item) in
// a relation to its parent's item. A node owns its children.
class PathNode
{
public:
    PathNode(Data* ip_data, const char* ip_typeName);
    explicit PathNode(Item* ip_fixedItem);
    PathNode(PathNode* ip_parent, const char* ip_typeName, PathNodeRelation i_relation);
    PathNode(PathNode* ip_parent, Item* ip_fixedItem, PathNodeRelation i_relation);
    ~PathNode();
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    bool Matches(const Item* ip_item) const;

    Type* mp_type;
    Item* mp_fixedItem = nullptr;
    PathNodeRelation m_relation = Connected;
    PathNode* mp_parent = nullptr;
    std::vector<PathNode*> m_children;
};
