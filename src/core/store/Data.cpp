#include "core/store/Data.h"

#include "core/store/PathSubscription.h"
#include "core/store/Relation.h"
#include "core/store/Store.h"

#include <QtGlobal>

#include <algorithm>
#include <cstring>
#include <functional>

Data d;

Data::Data() = default;

Data::~Data()
{
    Reset();
}

Type* Data::NewType(std::string i_name, bool i_primary, bool i_null, bool i_spontaneousCreation)
{
    if (m_types.count(i_name))
        throw new TypeAlreadyExistsException("type \"" + i_name + "\" exists already");
    auto* lp_type = new Type(this, i_name, i_primary, i_null, i_spontaneousCreation);
    m_types.emplace(std::move(i_name), lp_type);
    return lp_type;
}

Type* Data::HasType(const std::string& i_name) const
{
    auto l_it = m_types.find(i_name);
    return l_it == m_types.end() ? nullptr : l_it->second;
}

Type* Data::GetType(const std::string& i_name)
{
    Type* lp_type = HasType(i_name);
    if (!lp_type)
        throw new TypeNotFoundException("type \"" + i_name + "\" was never declared");
    return lp_type;
}

Type* Data::TypeByName(const char* ip_name) const
{
    NameCacheEntry& l_entry = m_nameCache[(std::hash<const void*>()(ip_name) >> 3) % m_nameCache.size()];
    if (l_entry.mp_name == ip_name && l_entry.mp_type && std::strcmp(l_entry.mp_type->m_name.c_str(), ip_name) == 0)
        return l_entry.mp_type;
    auto l_it = m_types.find(std::string_view(ip_name));
    if (l_it == m_types.end())
        return nullptr;
    l_entry.mp_name = ip_name;
    l_entry.mp_type = l_it->second;
    return l_it->second;
}

Type* Data::GetType(const char* ip_name)
{
    Type* lp_type = ip_name ? TypeByName(ip_name) : nullptr;
    if (!lp_type)
        throw new TypeNotFoundException(std::string("type \"") + (ip_name ? ip_name : "") + "\" was never declared");
    return lp_type;
}

void Data::GetTypes(QHash<std::string, Type*>& o_types) const
{
    for (const auto& [l_name, lp_type] : m_types)
        o_types.insert(l_name, lp_type);
}

void Data::AddConnectionEventHandler(Type* ip_a, Type* ip_b, EventHandlerBase<ConnectionInfo&>* ip_handler)
{
    Relation* lp_relation = ip_a->FindRelation(ip_b);
    if (!lp_relation)
        throw new NotRelatedException("\"" + ip_a->m_name + "\" and \"" + ip_b->m_name + "\" are not related");
    AcquireHandler(ip_handler);
    lp_relation->m_connectionHandlers.push_back({ip_a, ip_handler});
}

ItemSet Data::GetItemSubset(const ItemSet& i_items, const char* ip_typeName)
{
    Type* lp_type = GetType(ip_typeName);
    if (i_items.empty())
        return ItemSet();
    // Start from the fewest partners: a user's one upload among the ten
    // thousand of a popular file is then found in a step, not a walk.
    const PartnerSet* lp_fewest = nullptr;
    for (Item* lp_item : i_items) {
        const PartnerSet* lp_partners = lp_item->Partners(lp_type);
        if (!lp_partners)
            return ItemSet();
        if (!lp_fewest || lp_partners->Size() < lp_fewest->Size())
            lp_fewest = lp_partners;
    }
    std::vector<Item*> l_candidates;
    lp_fewest->AppendTo(l_candidates);
    std::vector<Item*> l_kept;
    for (Item* lp_candidate : l_candidates) {
        if (std::all_of(i_items.begin(), i_items.end(), [lp_candidate](Item* ip_item) { return ip_item->IsConnected(lp_candidate); }))
            l_kept.push_back(lp_candidate);
    }
    return ItemSet::FromUnsorted(std::move(l_kept));
}

ItemSet Data::GetItems(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName)
{
    Q_ASSERT(i_a && i_b);
    return GetItemSubset(ItemSet{i_a.Get(), i_b.Get()}, ip_typeName);
}

ItemSet Data::GetItems(const ItemSet& i_items, const char* ip_typeName)
{
    return i_items.GetItems(ip_typeName);
}

ItemPtr Data::GetItem(ItemPtr i_a, ItemPtr i_b, const char* ip_typeName)
{
    return GetItems(i_a, i_b, ip_typeName);
}

ItemPtr Data::GetItem(const ItemSet& i_items, const char* ip_typeName)
{
    return GetItemSubset(i_items, ip_typeName);
}

std::size_t Data::ItemCount() const
{
    std::size_t l_count = 0;
    for (const auto& l_entry : m_types)
        l_count += l_entry.second->ItemCount();
    return l_count;
}

void Data::Reset()
{
    StoreScope l_scope;
    for (PathSubscription* lp_subscription : m_pathSubscriptions)
        Store::DeleteSubscription(lp_subscription);
    m_pathSubscriptions.clear();
    for (Relation* lp_relation : m_relations) {
        for (const auto& l_entry : lp_relation->m_connectionHandlers)
            ReleaseHandler(l_entry.mp_handler);
        delete lp_relation;
    }
    m_relations.clear();
    for (auto& l_entry : m_types)
        delete l_entry.second;
    m_types.clear();
    m_nameCache.fill(NameCacheEntry());
    for (auto* lp_handler : ItemAddedEvent.m_handlerSet.TakeSnapshot())
        ItemAddedEvent.m_handlerSet.erase(lp_handler);
    for (auto* lp_handler : ItemRemovedEvent.m_handlerSet.TakeSnapshot())
        ItemRemovedEvent.m_handlerSet.erase(lp_handler);
}
