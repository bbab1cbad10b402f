#pragma once

#include "core/store/Events.h"
#include "core/store/Item.h"
#include "core/store/ValueIndex.h"

#include <string>
#include <utility>
#include <vector>

struct Relation;

// A declared kind of item. Primary types are roots that the collection of
// unreachable items never takes; a null type's items carry no value (anonymous
// items, and one shared flag item); spontaneous creation lets GetItem create a
// missing item.
class Type
{
public:
    Type(const Type&) = delete;
    Type& operator=(const Type&) = delete;

    std::string m_name;
    bool m_primary;
    bool m_null;
    bool m_spontaneousCreation;

    Event<Item*> ItemAddedEvent;
    Event<Item*> ItemRemovedEvent;
    Event<ConnectionInfo> ItemsConnectedEvent;
    Event<ConnectionInfo> ItemsDisconnectedEvent;

    // On type A: an item of ip_other may hold i_toType items of A, an item of
    // A may hold i_typeTo items of ip_other; i_owner makes A an owner of ip_other.
    void RelateToType(Type* ip_other, OneOrMany i_toType, OneOrMany i_typeTo, bool i_owner);

    ItemPtr GetItem(const Value& i_value);
    ItemPtr operator[](const Value& i_value) { return GetItem(i_value); }
    ItemPtr HasItem(const Value& i_value) const;
    ItemPtr NewItem(const Value& i_value);
    ItemPtr NewItem();
    ItemSet GetItems() const;
    ItemPtr GetGlobalNullItem();
    bool IsGlobalNullItem(const Item* ip_item) const { return ip_item && ip_item == mp_globalNullItem; }

    std::size_t ItemCount() const { return m_items.size(); }
    // Makes room for that many more items, before many are made at once.
    void ReserveItems(std::size_t i_more);
    // The items in no particular order, for code that walks the whole type.
    const std::vector<Item*>& UnorderedItems() const { return m_items; }
    Relation* FindRelation(const Type* ip_other) const;
    const std::vector<Type*>& OwnerTypes() const { return m_ownerTypes; }
    Data* GetData() const { return mp_data; }

private:
    friend class Data;
    friend class Item;
    friend class Store;

    Type(Data* ip_data, std::string i_name, bool i_primary, bool i_null, bool i_spontaneous);
    ~Type();

    // i_hash: the value's ValueIndex::Hash when the caller has it already.
    Item* CreateItem(std::string i_value, std::size_t i_hash);
    Item* CreateItem(std::string i_value) { return CreateItem(i_value, ValueIndex::Hash(i_value)); }
    void Unlist(Item* ip_item);

    Data* mp_data;
    std::vector<Item*> m_items;
    ValueIndex m_index;
    std::vector<std::pair<Type*, Relation*>> m_relations;
    std::vector<Type*> m_ownerTypes;
    Item* mp_globalNullItem = nullptr;
};
