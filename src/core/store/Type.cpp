#include "core/store/Type.h"

#include "core/store/Data.h"
#include "core/store/Relation.h"
#include "core/store/Store.h"

#include <QtGlobal>

#include <algorithm>

Type::Type(Data* ip_data, std::string i_name, bool i_primary, bool i_null, bool i_spontaneous)
    : m_name(std::move(i_name)), m_primary(i_primary), m_null(i_null), m_spontaneousCreation(i_spontaneous), mp_data(ip_data)
{
}

Type::~Type()
{
    // Only a store reset gets here: items go without events.
    for (Item* lp_item : m_items)
        delete lp_item;
}

void Type::RelateToType(Type* ip_other, OneOrMany i_toType, OneOrMany i_typeTo, bool i_owner)
{
    Q_ASSERT(ip_other);
    if (FindRelation(ip_other))
        throw new AlreadyRelatedException("\"" + m_name + "\" and \"" + ip_other->m_name + "\" are related already");
    // An item keeps at most one connection entry per related type in a
    // one-byte count.
    if (m_relations.size() >= 255 || ip_other->m_relations.size() >= 255)
        qFatal("Type \"%s\": too many related types", m_name.c_str());
    auto* lp_relation = new Relation{this, ip_other, i_typeTo, i_toType, i_owner, {}, {}};
    mp_data->m_relations.push_back(lp_relation);
    m_relations.emplace_back(ip_other, lp_relation);
    if (ip_other != this)
        ip_other->m_relations.emplace_back(this, lp_relation);
    if (i_owner)
        ip_other->m_ownerTypes.push_back(this);
}

void Type::ReserveItems(std::size_t i_more)
{
    m_items.reserve(m_items.size() + i_more);
    if (!m_null)
        m_index.Reserve(m_index.Size() + i_more);
}

Relation* Type::FindRelation(const Type* ip_other) const
{
    for (const auto& l_entry : m_relations) {
        if (l_entry.first == ip_other)
            return l_entry.second;
    }
    return nullptr;
}

ItemPtr Type::HasItem(const Value& i_value) const
{
    if (m_null)
        throw new NullTypeException("\"" + m_name + "\" items have no value");
    return m_index.Find(i_value.m_text);
}

ItemPtr Type::GetItem(const Value& i_value)
{
    if (m_null)
        throw new NullTypeException("\"" + m_name + "\" items have no value");
    const std::size_t l_hash = ValueIndex::Hash(i_value.m_text);
    if (Item* lp_item = m_index.Find(i_value.m_text, l_hash))
        return lp_item;
    return m_spontaneousCreation ? Store::CreateItem(this, i_value.m_text, l_hash) : nullptr;
}

ItemPtr Type::NewItem(const Value& i_value)
{
    if (m_null)
        throw new NullTypeException("\"" + m_name + "\" items have no value");
    const std::size_t l_hash = ValueIndex::Hash(i_value.m_text);
    if (Item* lp_item = m_index.Find(i_value.m_text, l_hash))
        return lp_item;
    return Store::CreateItem(this, i_value.m_text, l_hash);
}

ItemPtr Type::NewItem()
{
    if (!m_null)
        throw new NullTypeException("\"" + m_name + "\" items need a value");
    return Store::CreateItem(this, std::string());
}

ItemSet Type::GetItems() const
{
    return ItemSet::FromUnsorted(m_items);
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_null)
        throw new NullTypeException("\"" + m_name + "\" is a valued type");
    if (!mp_globalNullItem) {
        // Set before the events run, so a handler asking for it gets this one.
        StoreScope l_scope;
        mp_globalNullItem = CreateItem(std::string(), 0);
        ItemAddedEvent.Fire(mp_globalNullItem);
        mp_data->ItemAddedEvent.Fire(mp_globalNullItem);
    }
    return mp_globalNullItem;
}

Item* Type::CreateItem(std::string i_value, std::size_t i_hash)
{
    auto* lp_item = new Item(this, std::move(i_value));
    lp_item->m_index = std::uint32_t(m_items.size());
    m_items.push_back(lp_item);
    if (!m_null)
        m_index.Insert(lp_item, i_hash);
    return lp_item;
}

void Type::Unlist(Item* ip_item)
{
    Item* lp_last = m_items.back();
    m_items[ip_item->m_index] = lp_last;
    lp_last->m_index = ip_item->m_index;
    m_items.pop_back();
    if (!m_null)
        m_index.Erase(ip_item);
    if (mp_globalNullItem == ip_item)
        mp_globalNullItem = nullptr;
}
