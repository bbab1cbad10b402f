#include "core/store/Item.h"

#include "core/store/Data.h"
#include "core/store/Store.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

namespace {

bool Less(const Item* ip_a, const Item* ip_b)
{
    return std::less<const Item*>()(ip_a, ip_b);
}

// A stable ascending sort by key with the set's address order for ties; the
// descending list is its exact reverse.
template <class Key>
ItemList SortByKey(std::vector<std::pair<Key, Item*>> io_keyed, bool i_ascending)
{
    std::stable_sort(io_keyed.begin(), io_keyed.end(),
                     [](const auto& i_a, const auto& i_b) { return i_a.first < i_b.first; });
    ItemList l_list;
    l_list.reserve(io_keyed.size());
    for (const auto& l_entry : io_keyed)
        l_list.emplace_back(l_entry.second);
    if (!i_ascending)
        std::reverse(l_list.begin(), l_list.end());
    return l_list;
}

// Byte-wise comparison of values, bytes taken as unsigned.
struct ByteText
{
    const std::string* mp_text;
    bool operator<(const ByteText& i_other) const
    {
        const std::string& l_a = *mp_text;
        const std::string& l_b = *i_other.mp_text;
        const int l_compare = std::memcmp(l_a.data(), l_b.data(), std::min(l_a.size(), l_b.size()));
        return l_compare != 0 ? l_compare < 0 : l_a.size() < l_b.size();
    }
};

}  // namespace

ItemSet::ItemSet(Item* ip_item)
{
    if (ip_item)
        m_items.push_back(ip_item);
}

ItemSet::ItemSet(std::initializer_list<Item*> i_items) : m_items(i_items)
{
    *this = FromUnsorted(std::move(m_items));
}

ItemSet ItemSet::FromUnsorted(std::vector<Item*> i_items)
{
    ItemSet l_set;
    i_items.erase(std::remove(i_items.begin(), i_items.end(), nullptr), i_items.end());
    if (!std::is_sorted(i_items.begin(), i_items.end(), Less))
        std::sort(i_items.begin(), i_items.end(), Less);
    i_items.erase(std::unique(i_items.begin(), i_items.end()), i_items.end());
    l_set.m_items = std::move(i_items);
    return l_set;
}

bool ItemSet::contains(const Item* ip_item) const
{
    return std::binary_search(m_items.begin(), m_items.end(), ip_item, Less);
}

bool ItemSet::insert(Item* ip_item)
{
    if (!ip_item)
        return false;
    auto l_at = std::lower_bound(m_items.begin(), m_items.end(), ip_item, Less);
    if (l_at != m_items.end() && *l_at == ip_item)
        return false;
    m_items.insert(l_at, ip_item);
    return true;
}

bool ItemSet::erase(Item* ip_item)
{
    auto l_at = std::lower_bound(m_items.begin(), m_items.end(), ip_item, Less);
    if (l_at == m_items.end() || *l_at != ip_item)
        return false;
    m_items.erase(l_at);
    return true;
}

void ItemSet::Add(const ItemSet& i_other)
{
    *this = *this + i_other;
}

ItemSet ItemSet::operator+(const ItemSet& i_other) const
{
    ItemSet l_union;
    l_union.m_items.reserve(m_items.size() + i_other.m_items.size());
    std::set_union(m_items.begin(), m_items.end(), i_other.m_items.begin(), i_other.m_items.end(),
                   std::back_inserter(l_union.m_items), Less);
    return l_union;
}

ItemSet ItemSet::Common(const ItemSet& i_other) const
{
    ItemSet l_common;
    std::set_intersection(m_items.begin(), m_items.end(), i_other.m_items.begin(), i_other.m_items.end(),
                          std::back_inserter(l_common.m_items), Less);
    return l_common;
}

ItemSet ItemSet::Connected(const ItemSet& i_other) const
{
    ItemSet l_result;
    for (Item* lp_item : m_items) {
        for (Item* lp_other : i_other.m_items) {
            if (lp_item->IsConnected(lp_other)) {
                l_result.m_items.push_back(lp_item);
                break;
            }
        }
    }
    return l_result;
}

ItemSet ItemSet::Connected(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    ItemSet l_result;
    for (Item* lp_item : m_items) {
        if (lp_item->Partners(lp_type))
            l_result.m_items.push_back(lp_item);
    }
    return l_result;
}

ItemSet ItemSet::Connected(const char* ip_typeName, const std::string& i_value) const
{
    ItemPtr l_item = d.GetType(ip_typeName)->HasItem(i_value);
    return l_item ? Connected(l_item) : ItemSet();
}

ItemSet ItemSet::Connected(ItemPtr i_item) const
{
    ItemSet l_result;
    if (!i_item)
        return l_result;
    for (Item* lp_item : m_items) {
        if (lp_item->IsConnected(i_item.Get()))
            l_result.m_items.push_back(lp_item);
    }
    return l_result;
}

ItemSet ItemSet::NotConnected(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    ItemSet l_result;
    for (Item* lp_item : m_items) {
        if (!lp_item->Partners(lp_type))
            l_result.m_items.push_back(lp_item);
    }
    return l_result;
}

ItemSet ItemSet::GetItems(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    std::vector<Item*> l_items;
    for (Item* lp_item : m_items) {
        if (const PartnerSet* lp_partners = lp_item->Partners(lp_type))
            lp_partners->AppendTo(l_items);
    }
    return FromUnsorted(std::move(l_items));
}

ItemList ItemSet::SortNumericBy(const char* ip_typeName, bool i_ascending) const
{
    Type* lp_type = d.GetType(ip_typeName);
    std::vector<std::pair<long long, Item*>> l_keyed;
    for (Item* lp_item : m_items) {
        if (const PartnerSet* lp_partners = lp_item->Partners(lp_type))
            l_keyed.emplace_back(lp_partners->First()->AsInt64(), lp_item);
    }
    return SortByKey(std::move(l_keyed), i_ascending);
}

ItemList ItemSet::SortAlphabetic(bool i_ascending) const
{
    std::vector<std::pair<ByteText, Item*>> l_keyed;
    l_keyed.reserve(m_items.size());
    for (Item* lp_item : m_items)
        l_keyed.emplace_back(ByteText{&lp_item->m_value}, lp_item);
    return SortByKey(std::move(l_keyed), i_ascending);
}

ItemList ItemSet::SortAlphabeticBy(const char* ip_typeName, bool i_ascending) const
{
    Type* lp_type = d.GetType(ip_typeName);
    std::vector<std::pair<ByteText, Item*>> l_keyed;
    for (Item* lp_item : m_items) {
        if (const PartnerSet* lp_partners = lp_item->Partners(lp_type))
            l_keyed.emplace_back(ByteText{&lp_partners->First()->m_value}, lp_item);
    }
    return SortByKey(std::move(l_keyed), i_ascending);
}

void ItemSet::Remove() const
{
    // Removed members stay readable until the scope ends, so a member that a
    // handler removed on the way is recognised and skipped.
    StoreScope l_scope;
    for (Item* lp_item : m_items) {
        if (!lp_item->IsBeingRemoved())
            Store::Remove(lp_item);
    }
}

ItemSet i(const char* ip_typeName, const std::string& i_value)
{
    return ItemSet(d.GetType(ip_typeName)->HasItem(i_value).Get());
}

ItemSet g(const char* ip_typeName)
{
    return d.GetType(ip_typeName)->GetItems();
}
