#pragma once

#include "core/store/PartnerSet.h"
#include "core/store/Value.h"

#include <QMetaType>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

class Item;
class ItemSet;
class Type;
class Data;

// A copyable handle to an item. Reading operations are null-safe (they give
// "", 0, an empty set or a null handle); changing ones need a live item.
class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* ip_item) : mp_item(ip_item) {}

    operator Item*() const { return mp_item; }
    Item* operator->() const { return mp_item; }
    Item* Get() const { return mp_item; }
    bool IsNull() const { return mp_item == nullptr; }

    const char* AsCStr() const;
    std::string AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    // An object stored by its address, read back at full pointer width.
    quintptr AsUIntPtr() const;
    template <class T>
    T* AsObject() const
    {
        return reinterpret_cast<T*>(AsUIntPtr());
    }

    ItemPtr operator[](const char* ip_typeName) const { return HasItem(ip_typeName); }
    ItemPtr HasItem(const char* ip_typeName) const;
    ItemPtr GetItem(const char* ip_typeName) const;
    ItemSet GetItems(const char* ip_typeName) const;
    void GetItems(const char* ip_typeName, ItemSet& o_items) const;
    bool IsConnected(const char* ip_typeName) const;
    bool IsConnected(ItemPtr i_other) const;
    bool IsDisconnectedFromAll() const;

    ItemPtr operator+=(ItemPtr i_other) const { return Connect(i_other); }
    ItemPtr Connect(ItemPtr i_other) const;
    void Disconnect(const char* ip_typeName) const;
    void Disconnect(ItemPtr i_other) const;
    void operator-=(ItemPtr i_other) const { Disconnect(i_other); }
    ItemPtr NewItem(const char* ip_nullTypeName) const;
    void Remove() const;

private:
    Item* mp_item = nullptr;
};

Q_DECLARE_METATYPE(ItemPtr)

using ItemList = std::vector<ItemPtr>;

// An ordered set of items, by ascending item address: stable for the life of
// the items but unrelated to the order of creation. Copied by value.
class ItemSet
{
public:
    using const_iterator = std::vector<Item*>::const_iterator;

    ItemSet() = default;
    ItemSet(Item* ip_item);
    ItemSet(std::initializer_list<Item*> i_items);
    // Takes items in any order; duplicates and nulls are dropped.
    static ItemSet FromUnsorted(std::vector<Item*> i_items);

    std::size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }
    bool contains(const Item* ip_item) const;
    bool insert(Item* ip_item);
    bool erase(Item* ip_item);
    void clear() { m_items.clear(); }
    bool operator==(const ItemSet& i_other) const { return m_items == i_other.m_items; }
    const std::vector<Item*>& Items() const { return m_items; }

    operator ItemPtr() const { return m_items.empty() ? ItemPtr() : ItemPtr(m_items.front()); }

    void Add(const ItemSet& i_other);
    ItemSet operator+(const ItemSet& i_other) const;
    ItemSet Common(const ItemSet& i_other) const;

    // Members connected to at least one member of the other set.
    ItemSet Connected(const ItemSet& i_other) const;
    ItemSet Connected(const char* ip_typeName) const;
    // Members connected to the item of that type and value; the item is
    // looked up without being created.
    ItemSet Connected(const char* ip_typeName, const std::string& i_value) const;
    ItemSet Connected(ItemPtr i_item) const;
    ItemSet NotConnected(const char* ip_typeName) const;
    // The union of the members' connected items of the type.
    ItemSet GetItems(const char* ip_typeName) const;

    // Sorted lists. Descending order is always the exact reverse of ascending.
    ItemList SortNumericBy(const char* ip_typeName, bool i_ascending) const;
    ItemList SortAlphabetic(bool i_ascending) const;
    ItemList SortAlphabeticBy(const char* ip_typeName, bool i_ascending) const;

    // Removes every member.
    void Remove() const;

private:
    std::vector<Item*> m_items;
};

// One entry of an item's connection table: its partners of one type.
struct ConnectionEntry
{
    Type* mp_type;
    PartnerSet m_partners;
};

// One node of the store: a type, a value unique within the type, and its
// connections to items of related types.
class Item
{
public:
    Type* mp_type;
    std::string m_value;

    const char* AsCStr() const { return m_value.c_str(); }
    std::string AsString() const { return m_value; }
    int AsInt() const { return ValueText::ToInt(m_value); }
    // A number wider than 32 bits reads as 0, and it is a mistake: an object
    // stored by its address is read with AsObject<T>() or AsUIntPtr(). Such a
    // read asserts in debug builds and is logged once.
    unsigned int AsUInt() const;
    long long AsInt64() const { return ValueText::ToInt64(m_value); }
    quintptr AsUIntPtr() const { return ValueText::ToUIntPtr(m_value); }

    ItemPtr HasItem(const char* ip_typeName) const;
    ItemPtr GetItem(const char* ip_typeName) const { return HasItem(ip_typeName); }
    void GetItems(const char* ip_typeName, ItemSet& o_items) const;
    bool IsConnected(const char* ip_typeName) const;
    bool IsConnected(const Item* ip_other) const;
    bool IsDisconnectedFromAll() const { return m_entryCount == 0; }
    Item* Connect(Item* ip_other);
    void Disconnect(Item* ip_other);
    void Disconnect(const char* ip_typeName);
    Item* NewItem(const char* ip_nullTypeName);
    void Remove();
    void GetConnectedItems(std::map<Type*, ItemSet>& o_table) const;

    // Fast read access for code that walks the whole store.
    const PartnerSet* Partners(const Type* ip_type) const;
    const ConnectionEntry* EntriesBegin() const { return m_entryCap ? mp_entries : &m_inlineEntry; }
    const ConnectionEntry* EntriesEnd() const { return EntriesBegin() + m_entryCount; }
    bool IsBeingRemoved() const { return m_flags & BeingRemovedFlag; }
    // The item's position in its type's UnorderedItems().
    std::uint32_t IndexInType() const { return m_index; }

    // Where walks prefetch an item they will soon read: its connection
    // table (the inline entry), and the count and flags after it. Both lie
    // past the value, so they depend on sizeof(std::string) (32 bytes in
    // libstdc++: 40 and 56); Store.cpp checks them against the members.
    static constexpr std::size_t kEntriesOffset = sizeof(Type*) + sizeof(std::string);
    static constexpr std::size_t kBookkeepingOffset = kEntriesOffset + sizeof(ConnectionEntry);

private:
    friend class Type;
    friend class Data;
    friend class Store;

    enum Flag : std::uint8_t { BeingRemovedFlag = 1, MarkFlag = 2, PathAnchorFlag = 4 };

    Item(Type* ip_type, std::string i_value) : mp_type(ip_type), m_value(std::move(i_value)), m_inlineEntry{nullptr, {}} {}
    ~Item();
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    ConnectionEntry* Entries() { return m_entryCap ? mp_entries : &m_inlineEntry; }
    PartnerSet* FindPartners(const Type* ip_type);
    PartnerSet& AddPartnersEntry(Type* ip_type);
    // For a type the item has no partners of yet.
    PartnerSet& NewPartnersEntry(Type* ip_type);
    void DropEmptyEntry(const Type* ip_type);

    // Most items are connected to items of one type only: that entry lives in
    // the item itself; more spill into an array (m_entryCap > 0).
    union {
        ConnectionEntry m_inlineEntry;
        ConnectionEntry* mp_entries;
    };
    std::uint8_t m_entryCount = 0;
    std::uint8_t m_entryCap = 0;
    std::uint8_t m_flags = 0;
    std::uint32_t m_index = 0;
};

// The items of that type and value (looked up, never created), or an empty set.
ItemSet i(const char* ip_typeName, const std::string& i_value);
// All items of the type.
ItemSet g(const char* ip_typeName);
