#include "core/store/Store.h"

#include "core/store/Data.h"
#include "core/store/Relation.h"

#include <QtGlobal>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

// Item needs the store's friendship for its private parts; this file holds
// the member functions that touch them.

Item::~Item()
{
    // The prefetch offsets named in Item.h must point at the members they
    // mean (offsetof of a class with private members is supported by GCC
    // and Clang, hence the pragma).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static_assert(offsetof(Item, m_inlineEntry) == kEntriesOffset, "Item::kEntriesOffset is off");
    static_assert(offsetof(Item, m_entryCount) == kBookkeepingOffset && offsetof(Item, m_index) + 4 <= kBookkeepingOffset + 8,
                  "Item::kBookkeepingOffset is off");
#pragma GCC diagnostic pop
    for (ConnectionEntry* lp_entry = Entries(); lp_entry != Entries() + m_entryCount; ++lp_entry)
        lp_entry->m_partners.Free();
    if (m_entryCap)
        std::free(mp_entries);
}

PartnerSet* Item::FindPartners(const Type* ip_type)
{
    ConnectionEntry* lp_entries = Entries();
    for (ConnectionEntry* lp_entry = lp_entries; lp_entry != lp_entries + m_entryCount; ++lp_entry) {
        if (lp_entry->mp_type == ip_type)
            return &lp_entry->m_partners;
    }
    return nullptr;
}

const PartnerSet* Item::Partners(const Type* ip_type) const
{
    return const_cast<Item*>(this)->FindPartners(ip_type);
}

PartnerSet& Item::AddPartnersEntry(Type* ip_type)
{
    if (PartnerSet* lp_existing = FindPartners(ip_type))
        return *lp_existing;
    return NewPartnersEntry(ip_type);
}

PartnerSet& Item::NewPartnersEntry(Type* ip_type)
{
    if (m_entryCount == 0 && m_entryCap == 0) {
        m_inlineEntry = ConnectionEntry{ip_type, PartnerSet()};
        m_entryCount = 1;
        return m_inlineEntry.m_partners;
    }
    const unsigned l_capacity = m_entryCap ? m_entryCap : 1;
    if (m_entryCount == l_capacity) {
        // Room for every related type at once, up to a point: one growth
        // for a typical item instead of several.
        const unsigned l_related = unsigned(mp_type->m_relations.size());
        const unsigned l_wanted = std::min(255u, std::max({l_capacity * 2, std::min(l_related, 8u), 2u}));
        static_assert(std::is_trivially_copyable_v<ConnectionEntry>, "entries are moved with memcpy");
        ConnectionEntry* lp_array = static_cast<ConnectionEntry*>(std::malloc(sizeof(ConnectionEntry) * l_wanted));
        if (!lp_array)
            throw std::bad_alloc();
        std::memcpy(static_cast<void*>(lp_array), Entries(), sizeof(ConnectionEntry) * m_entryCount);
        if (m_entryCap)
            std::free(mp_entries);
        mp_entries = lp_array;
        m_entryCap = std::uint8_t(l_wanted);
    }
    ConnectionEntry* lp_entry = mp_entries + m_entryCount++;
    *lp_entry = ConnectionEntry{ip_type, PartnerSet()};
    return lp_entry->m_partners;
}

void Item::DropEmptyEntry(const Type* ip_type)
{
    ConnectionEntry* lp_entries = Entries();
    for (ConnectionEntry* lp_entry = lp_entries; lp_entry != lp_entries + m_entryCount; ++lp_entry) {
        if (lp_entry->mp_type != ip_type)
            continue;
        if (!lp_entry->m_partners.Empty())
            return;
        *lp_entry = lp_entries[--m_entryCount];
        if (m_entryCap && m_entryCount <= 1) {
            // Back to the entry inside the item.
            ConnectionEntry* lp_array = mp_entries;
            const ConnectionEntry l_last = m_entryCount ? lp_array[0] : ConnectionEntry{nullptr, {}};
            std::free(lp_array);
            m_entryCap = 0;
            m_inlineEntry = l_last;
        }
        return;
    }
}

namespace {

void FireConnectionHandlers(Relation* ip_relation, Item* ip_a, Item* ip_b)
{
    if (ip_relation->m_connectionHandlers.empty())
        return;
    // Over a copy: a handler added meanwhile is not called now.
    const auto l_entries = ip_relation->m_connectionHandlers;
    for (const auto& l_entry : l_entries) {
        if (l_entry.mp_handler->m_removed)
            continue;
        ConnectionInfo l_info = l_entry.mp_firstType == ip_a->mp_type ? ConnectionInfo{ip_a, ip_b} : ConnectionInfo{ip_b, ip_a};
        l_entry.mp_handler->Handle(l_info);
    }
    auto& l_handlers = ip_relation->m_connectionHandlers;
    for (auto l_it = l_handlers.begin(); l_it != l_handlers.end();) {
        if (l_it->mp_handler->m_removed) {
            ReleaseHandler(l_it->mp_handler);
            l_it = l_handlers.erase(l_it);
        } else {
            ++l_it;
        }
    }
}

// Whether a holds b, asked of the cheaper side: a flag item with a million
// partners is not searched when its partner has only a few.
bool IsLinked(Item* ip_a, const PartnerSet* ip_aPartners, Item* ip_b, const PartnerSet* ip_bPartners)
{
    if (!ip_aPartners || !ip_bPartners)
        return false;
    return ip_aPartners->LookupCost() <= ip_bPartners->LookupCost() ? ip_aPartners->Contains(ip_b)
                                                                    : ip_bPartners->Contains(ip_a);
}

}  // namespace

Relation* Store::RelationOf(const Item* ip_a, const Item* ip_b)
{
    Relation* lp_relation = ip_a->mp_type->FindRelation(ip_b->mp_type);
    if (!lp_relation)
        throw new NotRelatedException("\"" + ip_a->mp_type->m_name + "\" and \"" + ip_b->mp_type->m_name + "\" are not related");
    return lp_relation;
}

Item* Store::Connect(Item* ip_a, Item* ip_b)
{
    if (!ip_a || !ip_b) {
        qWarning("Store: connecting a null item");
        return ip_b;
    }
    Relation* lp_relation = RelationOf(ip_a, ip_b);
    if (ip_a == ip_b || ip_a->IsBeingRemoved() || ip_b->IsBeingRemoved())
        return ip_b;
    StoreScope l_scope;
    const bool l_aHoldsOne = lp_relation->HoldLimit(ip_a->mp_type) == One;
    const bool l_bHoldsOne = lp_relation->HoldLimit(ip_b->mp_type) == One;
    // A One end gives up its old partner first, with its events. Handlers of
    // those events may change things again, so look once more each time.
    for (int l_round = 0;; ++l_round) {
        if (ip_a->IsBeingRemoved() || ip_b->IsBeingRemoved())
            return ip_b;
        PartnerSet* lp_aPartners = ip_a->FindPartners(ip_b->mp_type);
        PartnerSet* lp_bPartners = ip_b->FindPartners(ip_a->mp_type);
        if (IsLinked(ip_a, lp_aPartners, ip_b, lp_bPartners))
            return ip_b;
        Item* lp_old = nullptr;
        Item* lp_holder = nullptr;
        if (l_aHoldsOne && lp_aPartners) {
            lp_old = lp_aPartners->First();
            lp_holder = ip_a;
        } else if (l_bHoldsOne && lp_bPartners) {
            lp_old = lp_bPartners->First();
            lp_holder = ip_b;
        }
        if (!lp_old) {
            // Two distinct items: growing one's table leaves the other's alone.
            (lp_bPartners ? *lp_bPartners : ip_b->NewPartnersEntry(ip_a->mp_type)).Insert(ip_a);
            (lp_aPartners ? *lp_aPartners : ip_a->NewPartnersEntry(ip_b->mp_type)).Insert(ip_b);
            break;
        }
        if (l_round > 1000)
            qFatal("Store: handlers keep reconnecting a One end");
        Disconnect(lp_holder, lp_old);
    }

    // Each stage is told only while the connection it reports still stands:
    // a handler of an earlier stage may have broken it or removed an item.
    auto l_stands = [ip_a, ip_b]() { return !ip_a->IsBeingRemoved() && !ip_b->IsBeingRemoved() && ip_a->IsConnected(ip_b); };
    ip_a->mp_type->ItemsConnectedEvent.Fire(ConnectionInfo{ip_a, ip_b});
    if (!ip_b->mp_type->ItemsConnectedEvent.m_handlerSet.empty() && l_stands())
        ip_b->mp_type->ItemsConnectedEvent.Fire(ConnectionInfo{ip_b, ip_a});
    if (!lp_relation->m_connectionHandlers.empty() && l_stands())
        FireConnectionHandlers(lp_relation, ip_a, ip_b);
    if (!lp_relation->m_pathEdges.empty() && l_stands())
        FirePaths(lp_relation, ip_a, ip_b, true);
    return ip_b;
}

void Store::Disconnect(Item* ip_a, Item* ip_b)
{
    if (!ip_a || !ip_b) {
        qWarning("Store: disconnecting a null item");
        return;
    }
    PartnerSet* lp_partners = ip_a->FindPartners(ip_b->mp_type);
    if (!lp_partners || !lp_partners->Erase(ip_b))
        return;
    ip_a->DropEmptyEntry(ip_b->mp_type);
    if (PartnerSet* lp_back = ip_b->FindPartners(ip_a->mp_type)) {
        lp_back->Erase(ip_a);
        ip_b->DropEmptyEntry(ip_a->mp_type);
    }
    StoreScope l_scope;
    ip_a->mp_type->ItemsDisconnectedEvent.Fire(ConnectionInfo{ip_a, ip_b});
    ip_b->mp_type->ItemsDisconnectedEvent.Fire(ConnectionInfo{ip_b, ip_a});
    FirePaths(ip_a->mp_type->FindRelation(ip_b->mp_type), ip_a, ip_b, false);
}

void Store::DisconnectType(Item* ip_item, Type* ip_type)
{
    // The partners of the moment: a handler that connects a replacement
    // meanwhile keeps it.
    std::vector<Item*> l_partners;
    if (const PartnerSet* lp_partners = ip_item->FindPartners(ip_type))
        lp_partners->AppendTo(l_partners);
    StoreScope l_scope;
    for (Item* lp_partner : l_partners)
        Disconnect(ip_item, lp_partner);
}

Item* Store::NewNullPartner(Item* ip_item, Type* ip_nullType)
{
    if (!ip_item) {
        qWarning("Store: a partner asked of a null item");
        return nullptr;
    }
    if (!ip_nullType->m_null)
        throw new NullTypeException("\"" + ip_nullType->m_name + "\" is a valued type");
    Relation* lp_relation = ip_item->mp_type->FindRelation(ip_nullType);
    if (!lp_relation)
        throw new NotRelatedException("\"" + ip_item->mp_type->m_name + "\" and \"" + ip_nullType->m_name + "\" are not related");
    StoreScope l_scope;
    Item* lp_partner = nullptr;
    if (lp_relation->HoldLimit(ip_item->mp_type) == Many) {
        lp_partner = ip_nullType->NewItem();
    } else if (PartnerSet* lp_partners = ip_item->FindPartners(ip_nullType)) {
        return lp_partners->First();
    } else if (lp_relation->HoldLimit(ip_nullType) == Many) {
        lp_partner = ip_nullType->GetGlobalNullItem();
    } else {
        lp_partner = ip_nullType->NewItem();
    }
    Connect(ip_item, lp_partner);
    return lp_partner;
}

Item* Store::CreateItem(Type* ip_type, std::string i_value)
{
    const std::size_t l_hash = ip_type->m_null ? 0 : ValueIndex::Hash(i_value);
    return CreateItem(ip_type, std::move(i_value), l_hash);
}

Item* Store::CreateItem(Type* ip_type, std::string i_value, std::size_t i_hash)
{
    StoreScope l_scope;
    Item* lp_item = ip_type->CreateItem(std::move(i_value), i_hash);
    ip_type->ItemAddedEvent.Fire(lp_item);
    ip_type->GetData()->ItemAddedEvent.Fire(lp_item);
    return lp_item;
}

void Store::Remove(Item* ip_item)
{
    if (!ip_item) {
        qWarning("Store: removing a null item");
        return;
    }
    if (ip_item->IsBeingRemoved())
        return;
    StoreScope l_scope;
    ip_item->m_flags |= Item::BeingRemovedFlag;
    Type* lp_type = ip_item->mp_type;
    // Paths fixed to the item go quiet as its removal starts.
    if (ip_item->m_flags & Item::PathAnchorFlag)
        DropSubscriptionsAnchoredAt(lp_type->GetData(), ip_item);
    lp_type->ItemRemovedEvent.Fire(ip_item);
    lp_type->GetData()->ItemRemovedEvent.Fire(ip_item);
    // Connect refuses an item being removed, so this ends.
    while (ip_item->m_entryCount > 0)
        Disconnect(ip_item, ip_item->Entries()[0].m_partners.First());
    lp_type->Unlist(ip_item);
    StoreScope::DeleteLater(ip_item, [](void* ip_object) { delete static_cast<Item*>(ip_object); });
}

bool Store::IsMarked(const Item* ip_item)
{
    return ip_item->m_flags & Item::MarkFlag;
}

void Store::SetMark(Item* ip_item, bool i_marked)
{
    if (i_marked)
        ip_item->m_flags |= Item::MarkFlag;
    else
        ip_item->m_flags &= std::uint8_t(~Item::MarkFlag);
}
