#pragma once

#include <cstddef>
#include <string>

// The store's own mechanics behind the public handles: making and breaking
// connections with their events, removing items, path notifications. Not for
// use outside src/core/store.

class Item;
class Type;
class Data;
struct Relation;
struct PathSubscription;

class Store
{
public:
    static Relation* RelationOf(const Item* ip_a, const Item* ip_b);
    static Item* Connect(Item* ip_a, Item* ip_b);
    static void Disconnect(Item* ip_a, Item* ip_b);
    static void DisconnectType(Item* ip_item, Type* ip_type);
    static Item* NewNullPartner(Item* ip_item, Type* ip_nullType);
    static void Remove(Item* ip_item);
    static Item* CreateItem(Type* ip_type, std::string i_value);
    static Item* CreateItem(Type* ip_type, std::string i_value, std::size_t i_hash);

    // Path subscriptions.
    static void FirePaths(Relation* ip_relation, Item* ip_a, Item* ip_b, bool i_connected);
    static void DropSubscriptionsAnchoredAt(Data* ip_data, Item* ip_item);
    static void DropSubscription(Data* ip_data, PathSubscription* ip_subscription);
    static void DeleteSubscription(PathSubscription* ip_subscription);

    static bool IsMarked(const Item* ip_item);
    static void SetMark(Item* ip_item, bool i_marked);
};
