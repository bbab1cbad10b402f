#include "core/store/Item.h"

#include "core/store/Data.h"
#include "core/store/Relation.h"
#include "core/store/Store.h"

#include <QtGlobal>

#include <atomic>

namespace {

Type* TypeNamed(const Item* ip_item, const char* ip_typeName)
{
    return ip_item->mp_type->GetData()->GetType(ip_typeName);
}

// The store may not use the project's log (the log uses the store), so the
// slip goes to Qt's own warning channel, once per run.
void ReportWideUInt(const Item* ip_item)
{
    static std::atomic<bool> s_reported{false};
    if (!s_reported.exchange(true))
        qWarning("Store: AsUInt() of the \"%s\" item \"%s\" is wider than 32 bits and reads as 0;"
                 " an object's address is read with AsObject<T>() or AsUIntPtr()",
                 ip_item->mp_type->m_name.c_str(), ip_item->m_value.c_str());
    Q_ASSERT_X(false, "Item::AsUInt", "a value wider than 32 bits read as 32 bits");
}

}  // namespace

unsigned int Item::AsUInt() const
{
    unsigned int l_number = 0;
    if (!ValueText::ToUInt(m_value, l_number))
        ReportWideUInt(this);
    return l_number;
}

ItemPtr Item::HasItem(const char* ip_typeName) const
{
    const PartnerSet* lp_partners = Partners(TypeNamed(this, ip_typeName));
    return lp_partners ? lp_partners->First() : nullptr;
}

void Item::GetItems(const char* ip_typeName, ItemSet& o_items) const
{
    Type* lp_type = TypeNamed(this, ip_typeName);
    if (!mp_type->FindRelation(lp_type))
        throw new NotRelatedException("\"" + mp_type->m_name + "\" and \"" + lp_type->m_name + "\" are not related");
    std::vector<Item*> l_items;
    if (const PartnerSet* lp_partners = Partners(lp_type))
        lp_partners->AppendTo(l_items);
    // Partner sets are kept in address order already.
    o_items = ItemSet::FromUnsorted(std::move(l_items));
}

bool Item::IsConnected(const char* ip_typeName) const
{
    return Partners(TypeNamed(this, ip_typeName)) != nullptr;
}

bool Item::IsConnected(const Item* ip_other) const
{
    const PartnerSet* lp_partners = Partners(ip_other->mp_type);
    return lp_partners && lp_partners->Contains(ip_other);
}

Item* Item::Connect(Item* ip_other)
{
    return Store::Connect(this, ip_other);
}

void Item::Disconnect(Item* ip_other)
{
    Store::Disconnect(this, ip_other);
}

void Item::Disconnect(const char* ip_typeName)
{
    Store::DisconnectType(this, TypeNamed(this, ip_typeName));
}

Item* Item::NewItem(const char* ip_nullTypeName)
{
    return Store::NewNullPartner(this, TypeNamed(this, ip_nullTypeName));
}

void Item::Remove()
{
    Store::Remove(this);
}

void Item::GetConnectedItems(std::map<Type*, ItemSet>& o_table) const
{
    o_table.clear();
    for (const ConnectionEntry* lp_entry = EntriesBegin(); lp_entry != EntriesEnd(); ++lp_entry) {
        std::vector<Item*> l_items;
        lp_entry->m_partners.AppendTo(l_items);
        o_table[lp_entry->mp_type] = ItemSet::FromUnsorted(std::move(l_items));
    }
}

const char* ItemPtr::AsCStr() const
{
    return mp_item ? mp_item->AsCStr() : "";
}

std::string ItemPtr::AsString() const
{
    return mp_item ? mp_item->m_value : std::string();
}

int ItemPtr::AsInt() const
{
    return mp_item ? mp_item->AsInt() : 0;
}

unsigned int ItemPtr::AsUInt() const
{
    return mp_item ? mp_item->AsUInt() : 0;
}

long long ItemPtr::AsInt64() const
{
    return mp_item ? mp_item->AsInt64() : 0;
}

quintptr ItemPtr::AsUIntPtr() const
{
    return mp_item ? mp_item->AsUIntPtr() : 0;
}

ItemPtr ItemPtr::HasItem(const char* ip_typeName) const
{
    if (!mp_item) {
        // Still tell a misspelt type name apart from a missing partner.
        d.GetType(ip_typeName);
        return ItemPtr();
    }
    return mp_item->HasItem(ip_typeName);
}

ItemPtr ItemPtr::GetItem(const char* ip_typeName) const
{
    Q_ASSERT(mp_item);
    return mp_item->HasItem(ip_typeName);
}

ItemSet ItemPtr::GetItems(const char* ip_typeName) const
{
    ItemSet l_items;
    GetItems(ip_typeName, l_items);
    return l_items;
}

void ItemPtr::GetItems(const char* ip_typeName, ItemSet& o_items) const
{
    if (!mp_item) {
        o_items.clear();
        return;
    }
    mp_item->GetItems(ip_typeName, o_items);
}

bool ItemPtr::IsConnected(const char* ip_typeName) const
{
    Q_ASSERT(mp_item);
    return mp_item->IsConnected(ip_typeName);
}

bool ItemPtr::IsConnected(ItemPtr i_other) const
{
    Q_ASSERT(mp_item && i_other.mp_item);
    return mp_item->IsConnected(i_other.mp_item);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    Q_ASSERT(mp_item);
    return mp_item->IsDisconnectedFromAll();
}

ItemPtr ItemPtr::Connect(ItemPtr i_other) const
{
    return Store::Connect(mp_item, i_other.mp_item);
}

void ItemPtr::Disconnect(const char* ip_typeName) const
{
    Type* lp_type = d.GetType(ip_typeName);
    if (mp_item)
        Store::DisconnectType(mp_item, lp_type);
}

void ItemPtr::Disconnect(ItemPtr i_other) const
{
    Store::Disconnect(mp_item, i_other.mp_item);
}

ItemPtr ItemPtr::NewItem(const char* ip_nullTypeName) const
{
    return Store::NewNullPartner(mp_item, d.GetType(ip_nullTypeName));
}

void ItemPtr::Remove() const
{
    Store::Remove(mp_item);
}
