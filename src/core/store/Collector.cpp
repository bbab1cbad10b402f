#include "core/store/Data.h"
#include "core/store/Store.h"

namespace {

// Removes the given items that are still there; returns how many went.
int RemoveAll(const std::vector<Item*>& i_items)
{
    int l_removed = 0;
    for (Item* lp_item : i_items) {
        if (!lp_item->IsBeingRemoved()) {
            Store::Remove(lp_item);
            ++l_removed;
        }
    }
    return l_removed;
}

}  // namespace

int Data::RemoveDisconnectedItems()
{
    // Removed items stay readable until this scope ends, so the lists of
    // victims below never hold freed pointers.
    StoreScope l_scope;
    int l_removed = 0;

    // Owned items that lost an owner, until no removal takes another owner.
    for (bool l_again = true; l_again;) {
        l_again = false;
        for (const auto& l_entry : m_types) {
            Type* lp_type = l_entry.second;
            if (lp_type->OwnerTypes().empty())
                continue;
            std::vector<Item*> l_orphans;
            for (Item* lp_item : lp_type->UnorderedItems()) {
                for (Type* lp_owner : lp_type->OwnerTypes()) {
                    if (!lp_item->Partners(lp_owner)) {
                        l_orphans.push_back(lp_item);
                        break;
                    }
                }
            }
            const int l_count = RemoveAll(l_orphans);
            l_removed += l_count;
            l_again = l_again || l_count > 0;
        }
    }

    // Everything a primary item reaches through non-primary items stays.
    std::vector<Item*> l_stack;
    auto l_visit = [&l_stack](Item* ip_item) {
        for (const ConnectionEntry* lp_entry = ip_item->EntriesBegin(); lp_entry != ip_item->EntriesEnd(); ++lp_entry) {
            if (lp_entry->mp_type->m_primary)
                continue;
            lp_entry->m_partners.ForEach([&l_stack](Item* ip_partner) {
                if (!Store::IsMarked(ip_partner)) {
                    Store::SetMark(ip_partner, true);
                    l_stack.push_back(ip_partner);
                }
            });
        }
    };
    for (const auto& l_entry : m_types) {
        if (!l_entry.second->m_primary)
            continue;
        for (Item* lp_item : l_entry.second->UnorderedItems())
            l_visit(lp_item);
    }
    while (!l_stack.empty()) {
        Item* lp_item = l_stack.back();
        l_stack.pop_back();
        l_visit(lp_item);
    }
    std::vector<Item*> l_unreachable;
    for (const auto& l_entry : m_types) {
        if (l_entry.second->m_primary)
            continue;
        for (Item* lp_item : l_entry.second->UnorderedItems()) {
            if (Store::IsMarked(lp_item))
                Store::SetMark(lp_item, false);
            else
                l_unreachable.push_back(lp_item);
        }
    }
    l_removed += RemoveAll(l_unreachable);
    return l_removed;
}
