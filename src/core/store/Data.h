#pragma once

#include "core/store/Events.h"
#include "core/store/Exceptions.h"
#include "core/store/Item.h"
#include "core/store/PathNode.h"
#include "core/store/Type.h"
#include "core/store/Value.h"

#include <QHash>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct PathSubscription;

// The item store: every declared type by name, and the events of the whole
// store. Used on the GUI thread only; every event runs synchronously inside
// the call that caused it. README.md in this folder explains how items,
// partner sets and value indexes are laid out.
class Data
{
public:
    Data();
    ~Data();
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    Type* NewType(std::string i_name, bool i_primary, bool i_null, bool i_spontaneousCreation);
    Type* GetType(const std::string& i_name);
    Type* GetType(const char* ip_name);
    Type* HasType(const std::string& i_name) const;
    void GetTypes(QHash<std::string, Type*>& o_types) const;

    Event<Item*> ItemAddedEvent;
    Event<Item*> ItemRemovedEvent;

    void AddConnectionEventHandler(Type* ip_a, Type* ip_b, EventHandlerBase<ConnectionInfo&>* ip_handler);
    // Takes over the path and the handler; a step between unrelated types
    // throws NotRelatedException* and then nothing is taken over.
    void AddPathEventHandler(PathNode* ip_root, EventHandlerBase<Item*>* ip_handler);

    // Items of the type connected to every member; empty for an empty set.
    ItemSet GetItemSubset(const ItemSet& i_items, const char* ip_typeName);
    // Items of the type connected to both.
    ItemSet GetItems(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName);
    // The union of the members' connected items of the type.
    ItemSet GetItems(const ItemSet& i_items, const char* ip_typeName);
    ItemPtr GetItem(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName);
    ItemPtr GetItem(const ItemSet& i_items, const char* ip_typeName);

    // Removes owned items that lost an owner (to a fixed point), then every
    // non-primary item that no primary item reaches; returns how many.
    int RemoveDisconnectedItems();

    std::size_t ItemCount() const;
    // Drops every type, item and subscription without events: a fresh store.
    void Reset();

private:
    friend class Store;
    friend class Type;
    friend class PathNode;

    Type* TypeByName(const char* ip_name) const;

    std::map<std::string, Type*, std::less<>> m_types;
    std::vector<Relation*> m_relations;
    std::vector<PathSubscription*> m_pathSubscriptions;
    // Type names are mostly string literals: remember where each literal
    // pointed, so that a lookup by name rarely needs to hash the text.
    struct NameCacheEntry
    {
        const char* mp_name = nullptr;
        Type* mp_type = nullptr;
    };
    mutable std::array<NameCacheEntry, 512> m_nameCache{};
};

// The one item store of the process.
extern Data d;
